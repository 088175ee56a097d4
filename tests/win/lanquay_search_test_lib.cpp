#include "lanquay_search_test_lib.h"

#include <gtest/gtest.h>

namespace {

template <typename Fn>
void BindSearch(HMODULE module, Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!*slot) ADD_FAILURE() << "export missing: " << name;
}

}  // namespace

LanquaySearchLib& LqSearchLib() {
  static LanquaySearchLib lib;
  if (lib.openSearch) return lib;
  HMODULE module = Lq().module;
  if (!module) return lib;
  BindSearch(module, &lib.openSearch, "LqOpenSearch");
  BindSearch(module, &lib.closeSearch, "LqCloseSearch");
  BindSearch(module, &lib.sendSearch, "LqSendSearch");
  BindSearch(module, &lib.sendSearchDhcp, "LqSendSearch_DHCPreq");
  BindSearch(module, &lib.sendCancel, "LqSendCancel");
  BindSearch(module, &lib.sendIcmp, "LqSendICMP");
  BindSearch(module, &lib.sendIcmpAsync, "LqSendICMP_Async");
  BindSearch(module, &lib.setUseIcmp, "LqSetUseICMP");
  BindSearch(module, &lib.getError, "LqGetError");
  return lib;
}
