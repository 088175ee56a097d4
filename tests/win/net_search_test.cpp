// SearchPrinter and GetDeviceID against simulated LAN printers on loopback.
// The search lists come from the test stand-in in slot 0; lanquay's own
// search broadcasts and runs only inside a network namespace, so slot 1 here
// is lanquay for the device ID with the stand-in's search calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/net_binding.h"
#include "core/net_library.h"
#include "core/printer_search.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/settings_types.h"
#include "net_test_support.h"
#include "sim_client.h"

namespace {

const char kDeviceId[] = "MFG:Kitmaker;CMD:ESC/POS;MDL:KM-510;CLS:PRINTER;DES:Receipt printer;";

std::string StoredDeviceId(const std::string& text) {
  char header[8];
  snprintf(header, sizeof(header), "%04x ", static_cast<unsigned>(text.size() + 2));
  return header + text;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

class NetSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    g_program.instance = GetModuleHandleW(nullptr);
    ASSERT_TRUE(folder_.Add(SXSTUB_DLL, L"SxJcp32.dll"));
    ASSERT_TRUE(folder_.Add(LANQUAY_DLL, L"lanquay.dll"));
    ASSERT_TRUE(LoadNetLibraries());
    for (int n = 2; n <= 4; ++n) ASSERT_EQ(SimCommand(SimHost(n) + " reset"), "OK");
    SetEnvironmentVariableA("KIT_SXSTUB_SEARCH", "");
    // Slot 0: the stand-in alone. Slot 1: lanquay's status channel with the
    // stand-in's search calls, so that nothing is broadcast.
    stubOnly_[0] = g_netLibraries[0];
    both_[0] = g_netLibraries[0];
    both_[1] = g_netLibraries[1];
    both_[1].OpenSearch = g_netLibraries[0].OpenSearch;
    both_[1].SendSearch = g_netLibraries[0].SendSearch;
    both_[1].CloseSearch = g_netLibraries[0].CloseSearch;
    results_ = new LanPrinterRecord[kLanListRecords]();
    folder_.TakeLog();
  }
  void TearDown() override {
    delete[] results_;
    UnloadNetLibraries();
    SetEnvironmentVariableA("KIT_SXSTUB_SEARCH", nullptr);
  }
  void SetSearchList(const std::string& list) { SetEnvironmentVariableA("KIT_SXSTUB_SEARCH", list.c_str()); }

  NetTestFolder folder_;
  NetLibraryBinding stubOnly_[kNetSlotCount] = {};
  NetLibraryBinding both_[kNetSlotCount] = {};
  LanPrinterRecord* results_ = nullptr;
};

}  // namespace

TEST_F(NetSearch, CollectsPrintersThatNameAModel) {
  ASSERT_EQ(SimCommand(SimHost(3) + " set device_id MFG:Kitmaker;CLS:PRINTER;"), "OK");  // no model key
  ASSERT_EQ(SimCommand(SimHost(4) + " set device_id MFG:Kitmaker;MDL:KM-20;MODEL:KM-20 II;"), "OK");
  // 127.x.y.9: nobody listens there, so its device ID cannot be read.
  std::string silent = SimHost(9);
  SetSearchList(SimHost(2) + ",00:11:22:33:44:02;" + SimHost(3) + ",00:11:22:33:44:03;" + silent +
                ",00:11:22:33:44:09;" + SimHost(4) + ",00:11:22:33:44:04");
  int32_t found = -1;
  EXPECT_EQ(SearchPrinter(3, results_, &found, stubOnly_), PRT_SUCCESS);
  ASSERT_EQ(found, 2);

  const struct {
    int host;
    const char* mac;
    const char* model;
    std::string deviceId;
  } expected[] = {
      {2, "00:11:22:33:44:02", "KM-510", StoredDeviceId(kDeviceId)},
      {4, "00:11:22:33:44:04", "KM-20 II", StoredDeviceId("MFG:Kitmaker;MDL:KM-20;MODEL:KM-20 II;")},
  };
  for (int i = 0; i < 2; ++i) {
    const LanPrinterRecord& r = results_[i];
    EXPECT_EQ(r.librarySlot, 0) << i;
    EXPECT_EQ(std::string(r.ipAddress), SimHost(expected[i].host)) << i;
    EXPECT_STREQ(r.macAddress, expected[i].mac) << i;
    EXPECT_STREQ(r.modelName, expected[i].model) << i;
    EXPECT_EQ(std::string(r.deviceId), expected[i].deviceId) << i;
    EXPECT_EQ(Narrow(r.ipAddressW), std::string(r.ipAddress)) << i;
    EXPECT_EQ(Narrow(r.macAddressW), std::string(r.macAddress)) << i;
    EXPECT_EQ(Narrow(r.modelNameW), std::string(r.modelName)) << i;
    EXPECT_EQ(Narrow(r.deviceIdW), std::string(r.deviceId)) << i;
  }

  std::vector<std::string> log = folder_.TakeLog();
  EXPECT_TRUE(HasLogRun(log, {">>>>>>>>>>>>>>>>>", "SearchPrinter Start", "SearchPrinter SendSearch",
                              "SXMODE dwSearchCnt = 4", ">>>>>>>>>>>>>>>>>", "GetDeviceID Start",
                              "GetDeviceID End", "<<<<<<<<<<<<<<<<<", ">>>>>>>>>>>>>>>>>", "GetDeviceID Start",
                              "GetDeviceID(Model[LAN_MODEL_ERROR])", ">>>>>>>>>>>>>>>>>", "GetDeviceID Start",
                              "GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])", ">>>>>>>>>>>>>>>>>",
                              "GetDeviceID Start", "GetDeviceID End", "<<<<<<<<<<<<<<<<<", "SearchPrinter End",
                              "<<<<<<<<<<<<<<<<<"}))
      << JoinLines(log);
}

TEST_F(NetSearch, SamePrinterThroughBothSlots) {
  SetSearchList(SimHost(2) + ",00:11:22:33:44:02");
  int32_t found = -1;
  EXPECT_EQ(SearchPrinter(4, results_, &found, both_), PRT_SUCCESS);
  ASSERT_EQ(found, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results_[i].librarySlot, i) << "record " << i;
    EXPECT_EQ(std::string(results_[i].ipAddress), SimHost(2)) << "record " << i;
    EXPECT_STREQ(results_[i].modelName, "KM-510") << "record " << i;
    // Big-endian length from slot 0, "%04x " from slot 1: stored alike.
    EXPECT_EQ(std::string(results_[i].deviceId), StoredDeviceId(kDeviceId)) << "record " << i;
  }
  std::vector<std::string> log = folder_.TakeLog();
  EXPECT_TRUE(HasLogRun(log, {"SXMODE dwSearchCnt = 1"})) << JoinLines(log);
  EXPECT_TRUE(HasLogRun(log, {"LQMODE dwSearchCnt = 1"})) << JoinLines(log);
}

TEST_F(NetSearch, NothingCollected) {
  const struct {
    const char* name;
    std::string list;
    int32_t result;
    std::vector<std::string> lines;
  } cases[] = {
      {"nobody answers", "", PRT_ERR_SEARCH,
       {"SXMODE dwSearchCnt = 0", "SearchPrinter(NO SEARCH[PRT_ERR_SEARCH])", "SearchPrinter End"}},
      {"search cannot open", "!open", PRT_ERR_OPEN,
       {"SearchPrinter Start", "SearchPrinter(OpenSearch[PRT_ERR_OPEN])", "SearchPrinter End"}},
      {"search fails", "!send", PRT_ERR_SEARCH,
       {"SearchPrinter SendSearch", "SearchPrinter(SendSearch[PRT_ERR_SEARCH])", "SearchPrinter End"}},
      {"only a printer without model", SimHost(2) + ",m", PRT_ERR_SEARCH,
       {"GetDeviceID(Model[LAN_MODEL_ERROR])", "SearchPrinter End"}},
  };
  ASSERT_EQ(SimCommand(SimHost(2) + " set device_id MFG:Kitmaker;"), "OK");
  for (const auto& c : cases) {
    SetSearchList(c.list);
    int32_t found = -1;
    EXPECT_EQ(SearchPrinter(3, results_, &found, stubOnly_), c.result) << c.name;
    EXPECT_EQ(found, 0) << c.name;
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_TRUE(HasLogRun(log, c.lines)) << c.name << "\n" << JoinLines(log);
  }
}

TEST_F(NetSearch, ResultsNeverPassTheirEnd) {
  // 255 entries through each of two slots: only 256 records exist.
  std::string list;
  for (int i = 0; i < 255; ++i) list += SimHost(2) + ",m;";
  SetSearchList(list);
  NetLibraryBinding twice[kNetSlotCount] = {g_netLibraries[0], g_netLibraries[0]};
  LanPrinterRecord* guarded = new LanPrinterRecord[kLanListRecords + 1]();
  memset(&guarded[kLanListRecords], 0x5A, sizeof(LanPrinterRecord));
  int32_t found = -1;
  EXPECT_EQ(SearchPrinter(3, guarded, &found, twice), PRT_SUCCESS);
  EXPECT_EQ(found, kLanListRecords);
  EXPECT_EQ(guarded[kLanListRecords - 1].librarySlot, 1);
  const unsigned char* sentinel = reinterpret_cast<const unsigned char*>(&guarded[kLanListRecords]);
  size_t changed = 0;
  for (size_t i = 0; i < sizeof(LanPrinterRecord); ++i) changed += sentinel[i] != 0x5A;
  EXPECT_EQ(changed, 0u) << "bytes written past the results";
  delete[] guarded;
}

TEST_F(NetSearch, DeviceIdOfOnePrinter) {
  const struct {
    const char* name;
    int slot;
    const char* setting;   // simulator command after "set ", or null
    int32_t result;
    const char* model;
    const char* logLine;
    const char* orLogLine;  // another line that proves the same, or null
  } cases[] = {
      {"lanquay, MDL", 1, nullptr, PRT_SUCCESS, "KM-510", "GetDeviceID End"},
      {"stand-in, MDL", 0, nullptr, PRT_SUCCESS, "KM-510", "GetDeviceID End"},
      {"MODEL wins", 1, "device_id MDL:A;MODEL:B;", PRT_SUCCESS, "B", "GetDeviceID End"},
      {"model at the end", 0, "device_id MFG:K;MDL:KM-9", PRT_SUCCESS, "KM-9", "GetDeviceID End"},
      {"long model is cut", 1, "device_id MDL:ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789;", PRT_SUCCESS,
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "GetDeviceID End"},
      {"no model key", 1, "device_id MFG:K;CLS:PRINTER;", PRT_ERR_SEARCH, "", "GetDeviceID(Model[LAN_MODEL_ERROR])"},
      // Whether the request or the read meets the printer's close first
      // depends on how soon it comes: either way no model is taken.
      {"closed at once", 0, "fault close_at_once", PRT_ERR_SEARCH, "", "GetDeviceID(Model[LAN_MODEL_ERROR])",
       "GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])"},
      {"never answers", 1, "fault never_answer", PRT_ERR_SEARCH, "",
       "GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(SimCommand(SimHost(3) + " reset"), "OK");
    if (c.setting) {
      ASSERT_EQ(SimCommand(SimHost(3) + " set " + c.setting), "OK") << c.name;
    }
    char model[kModelBufferBytes] = {};
    LanPrinterRecord record = {};
    EXPECT_EQ(GetDeviceID(SimHost(3).c_str(), model, &record, c.slot), c.result) << c.name;
    EXPECT_STREQ(model, c.model) << c.name;
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_TRUE(HasLogRun(log, {c.logLine}) || (c.orLogLine && HasLogRun(log, {c.orLogLine})))
        << c.name << "\n" << JoinLines(log);
  }
}

TEST_F(NetSearch, LongModelIsCutToTheRecord) {
  ASSERT_EQ(SimCommand(SimHost(2) + " set device_id MDL:ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789;"), "OK");
  SetSearchList(SimHost(2) + ",m");
  int32_t found = -1;
  EXPECT_EQ(SearchPrinter(3, results_, &found, stubOnly_), PRT_SUCCESS);
  ASSERT_EQ(found, 1);
  EXPECT_STREQ(results_[0].modelName, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(Narrow(results_[0].modelNameW), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
}

// A reply longer than the printer's first piece: lanquay hands over what the
// first read took, and the record keeps only that, with a length to match.
TEST_F(NetSearch, DeviceIdLongerThanWhatArrived) {
  ASSERT_EQ(SimCommand(SimHost(3) + " set devid_size 900"), "OK");
  char model[kModelBufferBytes] = {};
  LanPrinterRecord record = {};
  EXPECT_EQ(GetDeviceID(SimHost(3).c_str(), model, &record, 1), PRT_SUCCESS);
  EXPECT_STREQ(model, "KM-510");
  std::string stored = record.deviceId;
  ASSERT_GE(stored.size(), 5u);
  unsigned length = static_cast<unsigned>(strtoul(stored.substr(0, 4).c_str(), nullptr, 16));
  EXPECT_EQ(length, stored.size() - 5 + 2) << stored;
  EXPECT_LE(stored.size(), 511u);
  EXPECT_EQ(stored.compare(5, strlen(kDeviceId), kDeviceId), 0) << stored;
}
