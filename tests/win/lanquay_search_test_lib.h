// The search, probe and cancel exports, bound by name from the loaded
// library like the rest of lanquay's tests.
#pragma once

#include "lanquay_test_lib.h"

typedef int(WINAPI* LqSendSearchDhcpFn)(LqHandle, LqSearchEntry*, uint32_t, uint32_t, uint32_t*);
typedef int(WINAPI* LqHostCallFn)(const char*);

struct LanquaySearchLib {
  LqOpenSearchFn openSearch = nullptr;
  LqCloseSearchFn closeSearch = nullptr;
  LqSendSearchFn sendSearch = nullptr;
  LqSendSearchDhcpFn sendSearchDhcp = nullptr;
  LqHostCallFn sendCancel = nullptr;
  LqHostCallFn sendIcmp = nullptr;
  LqHostCallFn sendIcmpAsync = nullptr;
  LqSetUseICMPFn setUseIcmp = nullptr;
  LqGetErrorFn getError = nullptr;
};

// The library (loaded and started once per program) and its search calls.
LanquaySearchLib& LqSearchLib();
