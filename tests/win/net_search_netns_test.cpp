// SearchPrinter through lanquay's real search. It broadcasts, so it runs only
// inside the namespaces of tests/netns/search_test.sh (KIT_NETNS=1 there).
// The rig's hosts .11 and .12 answer the search but serve no device ID, so
// both are found and neither is collected.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/net_binding.h"
#include "core/net_library.h"
#include "core/printer_search.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/settings_types.h"
#include "net_test_support.h"

TEST(NetSearchNetns, LanquaySearchFindsHostsWithoutDeviceId) {
  const char* inside = std::getenv("KIT_NETNS");
  if (!inside || std::strcmp(inside, "1") != 0) GTEST_SKIP() << "runs only inside the namespace test";
  g_program.instance = GetModuleHandleW(nullptr);
  NetTestFolder folder;
  ASSERT_TRUE(folder.Add(LANQUAY_DLL, L"lanquay.dll"));
  ASSERT_TRUE(LoadNetLibraries());
  ASSERT_EQ(g_netLibraries[0].module, nullptr);
  folder.TakeLog();

  LanPrinterRecord* results = new LanPrinterRecord[kLanListRecords]();
  int32_t found = -1;
  DWORD start = GetTickCount();
  EXPECT_EQ(SearchPrinter(3, results, &found), PRT_ERR_SEARCH);
  DWORD took = GetTickCount() - start;
  EXPECT_EQ(found, 0);
  EXPECT_GE(took, 4000u) << "the search waits its 5 seconds";
  std::vector<std::string> log = folder.TakeLog();
  EXPECT_TRUE(HasLogRun(log, {"SearchPrinter SendSearch", "LQMODE dwSearchCnt = 2", ">>>>>>>>>>>>>>>>>",
                              "GetDeviceID Start", "GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])",
                              ">>>>>>>>>>>>>>>>>", "GetDeviceID Start",
                              "GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])", "SearchPrinter End"}))
      << JoinLines(log);
  delete[] results;
  UnloadNetLibraries();
}
