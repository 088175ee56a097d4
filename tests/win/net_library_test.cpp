// Loading and binding of the two network libraries: which slots stay usable,
// and message 16 when none does.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/net_binding.h"
#include "core/net_library.h"
#include "core/program_state.h"
#include "core/settings_types.h"
#include "net_test_support.h"

namespace {

const wchar_t kMessage16[] = L"Files needed for launch are missing.\nRe-install Romsmith.";

std::string StubCalls() {
  char calls[64] = {};
  GetEnvironmentVariableA("KIT_SXSTUB_CALLS", calls, sizeof(calls));
  return calls;
}

bool SlotComplete(const NetLibraryBinding& slot) {
  return slot.module && slot.Startup && slot.Cleanup && slot.OpenPort && slot.ClosePort && slot.WritePort &&
         slot.OpenStatus && slot.CloseStatus && slot.GetDeviceID && slot.OpenSearch && slot.CloseSearch &&
         slot.SendSearch && slot.SetUseICMP && slot.RecvPort;
}

bool SlotEmpty(const NetLibraryBinding& slot) {
  const NetLibraryBinding empty = {};
  return memcmp(&slot, &empty, sizeof(slot)) == 0;
}

class NetLibraryLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    g_program.instance = GetModuleHandleW(nullptr);
    g_settings.languageIndex = 1;
    SetEnvironmentVariableA("KIT_SXSTUB_CALLS", "");
    SetEnvironmentVariableA("KIT_SXSTUB_STARTUP", nullptr);
  }
  void TearDown() override {
    UnloadNetLibraries();
    SetEnvironmentVariableA("KIT_SXSTUB_STARTUP", nullptr);
  }
  NetTestFolder folder_;
};

}  // namespace

TEST_F(NetLibraryLoad, UsableSlotsAfterLoading) {
  struct Case {
    const char* name;
    const char* sx;        // library copied as SxJcp32.dll, or null
    bool lanquay;
    const char* startup;   // KIT_SXSTUB_STARTUP
    bool slot0;
    bool slot1;
    const char* calls;     // stub Startup/Cleanup calls while loading
  };
  const Case cases[] = {
      {"only lanquay", nullptr, true, nullptr, false, true, ""},
      {"both complete", SXSTUB_DLL, true, nullptr, true, true, "S"},
      {"SxJcp32 without SxRecvPort", SXSTUB_NORECV_DLL, true, nullptr, false, true, ""},
      {"SxJcp32 Startup fails", SXSTUB_DLL, true, "fail", false, true, "SC"},
      {"only SxJcp32", SXSTUB_DLL, false, nullptr, true, false, "S"},
  };
  MessageBoxAnswerer operatorAnswers;
  for (const Case& c : cases) {
    NetTestFolder folder;
    if (c.sx) {
      ASSERT_TRUE(folder.Add(c.sx, L"SxJcp32.dll")) << c.name;
    }
    if (c.lanquay) {
      ASSERT_TRUE(folder.Add(LANQUAY_DLL, L"lanquay.dll")) << c.name;
    }
    SetEnvironmentVariableA("KIT_SXSTUB_CALLS", "");
    SetEnvironmentVariableA("KIT_SXSTUB_STARTUP", c.startup);

    EXPECT_TRUE(LoadNetLibraries()) << c.name;
    EXPECT_EQ(SlotComplete(g_netLibraries[0]), c.slot0) << c.name;
    EXPECT_EQ(SlotEmpty(g_netLibraries[0]), !c.slot0) << c.name;
    EXPECT_EQ(SlotComplete(g_netLibraries[1]), c.slot1) << c.name;
    EXPECT_EQ(SlotEmpty(g_netLibraries[1]), !c.slot1) << c.name;
    EXPECT_EQ(StubCalls(), c.calls) << c.name;

    UnloadNetLibraries();
    EXPECT_TRUE(SlotEmpty(g_netLibraries[0]) && SlotEmpty(g_netLibraries[1])) << c.name;
    EXPECT_EQ(StubCalls(), std::string(c.calls) + (c.slot0 ? "C" : "")) << c.name << ": Cleanup at the end";
  }
  EXPECT_TRUE(operatorAnswers.Texts().empty()) << "no message while one library is usable";
}

TEST_F(NetLibraryLoad, NoUsableLibraryShowsMessage16) {
  struct Case {
    const char* name;
    const char* sx;
    const char* startup;
    const char* calls;
  };
  const Case cases[] = {
      {"neither present", nullptr, nullptr, ""},
      {"only an incomplete SxJcp32", SXSTUB_NORECV_DLL, nullptr, ""},
      {"only SxJcp32 and its Startup fails", SXSTUB_DLL, "fail", "SC"},
  };
  for (const Case& c : cases) {
    NetTestFolder folder;
    if (c.sx) {
      ASSERT_TRUE(folder.Add(c.sx, L"SxJcp32.dll")) << c.name;
    }
    SetEnvironmentVariableA("KIT_SXSTUB_CALLS", "");
    SetEnvironmentVariableA("KIT_SXSTUB_STARTUP", c.startup);
    MessageBoxAnswerer operatorAnswers;

    EXPECT_FALSE(LoadNetLibraries()) << c.name;
    EXPECT_TRUE(SlotEmpty(g_netLibraries[0]) && SlotEmpty(g_netLibraries[1])) << c.name << ": all released";
    EXPECT_EQ(StubCalls(), c.calls) << c.name;
    std::vector<std::wstring> texts = operatorAnswers.Texts();
    ASSERT_EQ(texts.size(), 1u) << c.name;
    EXPECT_NE(texts[0].find(kMessage16), std::wstring::npos) << c.name;
  }
}

TEST_F(NetLibraryLoad, BindReleasesIncompleteSlotsOnly) {
  ASSERT_TRUE(folder_.Add(SXSTUB_NORECV_DLL, L"SxJcp32.dll"));
  ASSERT_TRUE(folder_.Add(LANQUAY_DLL, L"lanquay.dll"));
  g_netLibraries[0].module = LoadLibraryW((folder_.path() + L"\\SxJcp32.dll").c_str());
  ASSERT_NE(g_netLibraries[0].module, nullptr);
  EXPECT_EQ(BindNetLibraries(), 0) << "one incomplete library alone";
  EXPECT_TRUE(SlotEmpty(g_netLibraries[0]));

  g_netLibraries[0].module = LoadLibraryW((folder_.path() + L"\\SxJcp32.dll").c_str());
  g_netLibraries[1].module = LoadLibraryW((folder_.path() + L"\\lanquay.dll").c_str());
  ASSERT_NE(g_netLibraries[1].module, nullptr);
  EXPECT_EQ(BindNetLibraries(), 1);
  EXPECT_TRUE(SlotEmpty(g_netLibraries[0]));
  EXPECT_TRUE(SlotComplete(g_netLibraries[1]));
  EXPECT_EQ(StubCalls(), "") << "an incomplete library is released without Cleanup";
  // Never started: release without Cleanup.
  FreeLibrary(g_netLibraries[1].module);
  g_netLibraries[1] = NetLibraryBinding{};
}
