// The two slots of bound network library entry points: slot 0 for the other
// vendor's "SxJcp32.dll", slot 1 for "lanquay.dll".
#pragma once

#include <windows.h>

#include "../lanquay/lanquay.h"

constexpr int kNetSlotCount = 2;
constexpr int kNetSlotSx = 0;
constexpr int kNetSlotLanquay = 1;

struct NetLibraryBinding {
  HMODULE module;  // null when the library is not loaded
  LqStartupFn Startup;
  LqCleanupFn Cleanup;
  LqOpenPortFn OpenPort;
  LqClosePortFn ClosePort;
  LqWritePortFn WritePort;
  LqOpenStatusFn OpenStatus;
  LqCloseStatusFn CloseStatus;
  LqGetDeviceIDFn GetDeviceID;
  LqOpenSearchFn OpenSearch;
  LqCloseSearchFn CloseSearch;
  LqSendSearchFn SendSearch;
  LqSetUseICMPFn SetUseICMP;
  LqRecvPortFn RecvPort;
};

extern NetLibraryBinding g_netLibraries[kNetSlotCount];
