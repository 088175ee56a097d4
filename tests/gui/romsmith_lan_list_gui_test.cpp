// Romsmith's LAN printer list driven as an operator would: Add, Search and
// Delete, sorting by a header click, and the list kept across a restart. The
// searches go through the test stand-in of the other vendor's library
// (lanquay.dll is left out so nothing broadcasts), which reports the
// simulated printers chosen per flow; their device IDs come from the
// printer simulator over loopback.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "list_view_probe.h"
#include "romsmith/resource.h"
#include "romsmith_session.h"
#include "tests/win/sim_client.h"

namespace {

using gui::LastError;

std::wstring Mac(int printer) { return L"AA:BB:CC:00:00:0" + std::to_wstring(printer); }

// What the stand-in's search reports: these simulated printers.
std::wstring SearchAnswer(const std::vector<int>& printers) {
  std::wstring list;
  for (int printer : printers) list += SimAddress(printer) + L"," + Mac(printer) + L";";
  return list;
}

std::wstring PortKey(int n) {
  wchar_t key[16];
  swprintf(key, 16, L"Port%03d", n);
  return key;
}

// A LAN session whose searches find `found`; `listed` are extra list entries
// ("slot,model,address,mac") after the simulated printers of `printers`.
struct LanSession {
  explicit LanSession(const wchar_t* tag) : s(tag) {}
  bool Start(const std::vector<int>& printers, const std::vector<int>& found,
             const std::vector<std::wstring>& listed = {}, int language = kEnglish, int selected = 1) {
    RomsmithSetup setup;
    setup.language = language;
    setup.kind = L"LAN";
    setup.lanquay = false;
    setup.lanPrinters = printers;
    setup.firmwareName = L"fw.hex";
    setup.firmwareBytes = 4096;
    for (size_t i = 0; i < listed.size(); ++i) {
      setup.extra.push_back({L"IPAddress", PortKey(static_cast<int>(printers.size() + i + 1)), listed[i]});
    }
    setup.extra.push_back({L"Port", L"PortLAN", PortKey(selected)});
    if (!s.Prepare(setup) || !s.folder.Copy(SXJCP32_STUB_DLL, L"SxJcp32.dll")) return false;
    SetEnvironmentVariableW(L"KIT_SXSTUB_SEARCH", SearchAnswer(found).c_str());
    if (!s.Start()) return false;
    list = GetDlgItem(s.main, IDC_LAN_LIST);
    return list != nullptr;
  }
  bool TypeAddress(const std::wstring& dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (swscanf(dotted.c_str(), L"%u.%u.%u.%u", &a, &b, &c, &d) != 4) return false;
    SendMessageW(GetDlgItem(s.main, IDC_IP_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
    return true;
  }
  bool Searched() {
    for (const std::string& line : s.NewLogLines()) {
      if (line.find("SearchPrinter Start") != std::string::npos) return true;
    }
    return false;
  }
  bool Exit() {
    DWORD code = 99;
    return gui::Click(s.main, IDC_EXIT) && s.program.WaitExit(&code);
  }
  RomsmithSession s;
  HWND list = nullptr;
};

// Add: the address rules that need no search, an address nobody answers
// from, and an address that is found.
TEST(RomsmithLanList, Add) {
  ASSERT_TRUE(ResetSimulator());
  LanSession lan(L"lanadd");
  ASSERT_TRUE(lan.Start({2}, {2, 3})) << LastError();
  const struct {
    std::wstring address;
    int message;  // -1: the printer is added
    bool searches;
  } kCases[] = {
      {L"10.0.0.0", 0, false},
      {L"10.0.0.255", 0, false},
      {L"0.0.0.0", 0, false},
      {SimAddress(2), 4, false},
      {L"10.0.0.254", 2, true},
      {SimAddress(3), -1, true},
  };
  lan.Searched();
  for (const auto& c : kCases) {
    SCOPED_TRACE(gui::Narrow(c.address));
    int rows = lv::Rows(lan.list);
    ASSERT_TRUE(lan.TypeAddress(c.address));
    ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_ADD)) << LastError();
    if (c.message >= 0) {
      std::vector<std::wstring> args;
      if (c.message == 4) args.push_back(c.address);
      ASSERT_TRUE(gui::Answer(lan.s.pid(), Message(c.message, kEnglish, args), IDOK)) << LastError();
      HWND address = GetDlgItem(lan.s.main, IDC_IP_ADDRESS);
      EXPECT_TRUE(gui::WaitUntil([&] { return IsChild(address, gui::FocusOf(lan.s.main)) != FALSE; }))
          << "the address control does not get the focus back";
      EXPECT_EQ(lv::Rows(lan.list), rows);
    } else {
      ASSERT_TRUE(gui::WaitUntil([&] { return lv::Rows(lan.list) == rows + 1; })) << "no row added";
      EXPECT_EQ(lv::Cell(lan.list, rows, 1), c.address);
      EXPECT_EQ(lv::Cell(lan.list, rows, 2), Mac(3));
      EXPECT_EQ(lv::Cell(lan.list, rows, 0), L"KM-510");
      EXPECT_EQ(lv::SelectedRow(lan.list), rows) << "the new row is not selected";
    }
    EXPECT_EQ(lan.Searched(), c.searches);
  }
  ASSERT_TRUE(lan.Exit()) << LastError();
  EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port002"), L"0,KM-510," + SimAddress(3) + L"," + Mac(3));
  EXPECT_EQ(lan.s.folder.ReadSetting(L"Port", L"PortLAN"), L"Port002");
}

// Search merges what it finds into the list: a listed address has its
// record replaced in place (new model and MAC, no new row), a new one is
// appended, and listed printers that did not answer stay.
TEST(RomsmithLanList, SearchReplacesListedAndAppendsNew) {
  ASSERT_TRUE(ResetSimulator());
  ASSERT_EQ(SimCommand(SimHost(2) + " set device_id MFG:Kitmaker;MDL:KM-1000;CLS:PRINTER;"), "OK");
  LanSession lan(L"lansearch");
  ASSERT_TRUE(lan.Start({4, 2}, {2, 3})) << LastError();
  ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_SEARCH)) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return lv::Rows(lan.list) == 3; })) << "the new printer was not appended";
  EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(lan.s.main) != FALSE; }));
  EXPECT_EQ(lv::Column(lan.list, 1), (std::vector<std::wstring>{SimAddress(4), SimAddress(2), SimAddress(3)}));
  EXPECT_EQ(lv::Column(lan.list, 0), (std::vector<std::wstring>{L"KM-510", L"KM-1000", L"KM-510"}));
  EXPECT_EQ(lv::Cell(lan.list, 1, 2), Mac(2));
  EXPECT_EQ(lv::SelectedRow(lan.list), 2) << "the last row is not selected";
  EXPECT_TRUE(gui::MessageBoxes(lan.s.pid()).empty());
  ASSERT_TRUE(lan.Exit()) << LastError();
  EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port002"), L"0,KM-1000," + SimAddress(2) + L"," + Mac(2));
}

// Exit or closing the window during Add or Search waits for the search: the
// printer it finds is in the list that Exit saves.
TEST(RomsmithLanList, ExitWaitsForTheSearch) {
  for (int button : {IDC_LAN_ADD, IDC_LAN_SEARCH}) {
    SCOPED_TRACE(button == IDC_LAN_ADD ? "Add" : "Search");
    ASSERT_TRUE(ResetSimulator());
    LanSession lan(L"lanexit");
    ASSERT_TRUE(lan.Start({2}, {2, 3})) << LastError();
    ASSERT_TRUE(lan.TypeAddress(SimAddress(3)));
    ASSERT_TRUE(gui::Click(lan.s.main, button)) << LastError();
    // Queued behind the click, so handled while the search pumps messages.
    if (button == IDC_LAN_ADD) {
      PostMessageW(lan.s.main, WM_COMMAND, IDC_EXIT, 0);
    } else {
      PostMessageW(lan.s.main, WM_CLOSE, 0, 0);
    }
    DWORD code = 99;
    ASSERT_TRUE(lan.s.program.WaitExit(&code)) << LastError();
    EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port002"), L"0,KM-510," + SimAddress(3) + L"," + Mac(3));
  }
}

// 254 listed and three found: one is appended, message 5 stops the merge,
// and Add then refuses without a search.
TEST(RomsmithLanList, SearchStopsAtAFullList) {
  ASSERT_TRUE(ResetSimulator());
  std::vector<std::wstring> listed;
  for (int i = 0; i < 254; ++i) {
    listed.push_back(L"1,KM-510,10.9." + std::to_wstring(i / 200) + L"." + std::to_wstring(i % 200 + 1) + L",");
  }
  LanSession lan(L"lanfull");
  ASSERT_TRUE(lan.Start({}, {2, 3, 4}, listed)) << LastError();
  ASSERT_EQ(lv::Rows(lan.list), 254);
  ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_SEARCH)) << LastError();
  ASSERT_TRUE(gui::Answer(lan.s.pid(), Message(5, kEnglish), IDOK)) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(lan.s.main) != FALSE; }));
  EXPECT_EQ(lv::Rows(lan.list), 255);
  EXPECT_EQ(lv::Cell(lan.list, 254, 1), SimAddress(2));
  lan.Searched();
  ASSERT_TRUE(lan.TypeAddress(SimAddress(3)));
  ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_ADD)) << LastError();
  ASSERT_TRUE(gui::Answer(lan.s.pid(), Message(5, kEnglish), IDOK)) << LastError();
  EXPECT_FALSE(lan.Searched());
  ASSERT_TRUE(lan.Exit()) << LastError();
  EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port255"), L"0,KM-510," + SimAddress(2) + L"," + Mac(2));
  EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port256"), L"\x1");
}

// Sorting by a header click: text order, one direction that toggles, the
// mark on the clicked column only, the selected row kept; the order and
// the selected entry come back after a restart.
TEST(RomsmithLanList, SortingAndRestart) {
  const std::vector<std::wstring> listed = {L"1,KM-510,10.0.0.9,00:00:00:00:00:09",
                                            L"1,km-20,10.0.0.10,00:00:00:00:00:10",
                                            L"1,KM-1000,10.0.0.2,00:00:00:00:00:02"};
  const struct {
    int column;
    std::vector<std::wstring> addresses;  // after the click
    int mark;
  } kClicks[] = {
      {1, {L"10.0.0.10", L"10.0.0.2", L"10.0.0.9"}, 0},
      {1, {L"10.0.0.9", L"10.0.0.2", L"10.0.0.10"}, 1},
      {0, {L"10.0.0.2", L"10.0.0.9", L"10.0.0.10"}, 0},  // "KM-1000" < "KM-510" < "km-20"
  };
  LanSession lan(L"lansort");
  ASSERT_TRUE(lan.Start({}, {}, listed, kEnglish, 2)) << LastError();
  ASSERT_EQ(lv::SelectedRow(lan.list), 1);
  for (const auto& click : kClicks) {
    SCOPED_TRACE(click.column);
    ASSERT_TRUE(lv::ClickHeader(lan.list, click.column));
    ASSERT_TRUE(gui::WaitUntil([&] { return lv::Column(lan.list, 1) == click.addresses; }))
        << gui::Narrow(lv::Cell(lan.list, 0, 1)) << " first";
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(lv::HeaderMark(lan.list, column), column == click.column ? click.mark : -1) << "column " << column;
    }
    EXPECT_EQ(lv::SelectedRow(lan.list), 1) << "the selected row moved";
  }
  ASSERT_TRUE(lv::ClickRow(lan.list, 2));
  ASSERT_TRUE(gui::WaitUntil([&] { return lv::SelectedRow(lan.list) == 2; }));
  ASSERT_TRUE(lan.Exit()) << LastError();
  EXPECT_EQ(lan.s.folder.ReadSetting(L"Port", L"PortLAN"), L"Port003") << "the operator's row is not the selected entry";

  ASSERT_TRUE(lan.s.Start()) << LastError();
  HWND list = GetDlgItem(lan.s.main, IDC_LAN_LIST);
  EXPECT_EQ(lv::Column(list, 1), kClicks[2].addresses);
  EXPECT_EQ(lv::Column(list, 0), (std::vector<std::wstring>{L"KM-1000", L"KM-510", L"km-20"}));
  EXPECT_EQ(lv::Cell(list, 2, 2), L"00:00:00:00:00:10");
  EXPECT_EQ(lv::SelectedRow(list), 2);
  DWORD code = 99;
  ASSERT_TRUE(gui::Click(lan.s.main, IDC_EXIT) && lan.s.program.WaitExit(&code)) << LastError();
}

// Delete asks with the entry's titles and values; Cancel keeps it. Deleting
// the last row selects the new last row; deleting the only row leaves the
// buttons that need a printer disabled and the focus on Exit.
TEST(RomsmithLanList, Delete) {
  const std::vector<std::wstring> listed = {L"1,KM-510,10.0.0.1,00:00:00:00:00:01",
                                            L"1,KM-510,10.0.0.2,00:00:00:00:00:02",
                                            L"1,KM-1000,10.0.0.3,00:00:00:00:00:03"};
  LanSession lan(L"landelete");
  ASSERT_TRUE(lan.Start({}, {}, listed, kJapanese, 3)) << LastError();
  const std::wstring question = Message(3, kJapanese, {L"モデル名", L"KM-1000", L"IP アドレス", L"10.0.0.3",
                                                       L"MAC アドレス", L"00:00:00:00:00:03"});
  ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_DELETE)) << LastError();
  ASSERT_TRUE(gui::Answer(lan.s.pid(), question, IDCANCEL)) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return gui::MessageBoxes(lan.s.pid()).empty(); }));
  EXPECT_EQ(lv::Rows(lan.list), 3);

  const struct {
    std::wstring address;  // of the selected row, deleted
    int selectedAfter;
  } kDeletes[] = {{L"10.0.0.3", 1}, {L"10.0.0.2", 0}, {L"10.0.0.1", -1}};
  for (const auto& d : kDeletes) {
    SCOPED_TRACE(gui::Narrow(d.address));
    int rows = lv::Rows(lan.list);
    ASSERT_EQ(lv::Cell(lan.list, lv::SelectedRow(lan.list), 1), d.address);
    ASSERT_TRUE(gui::Click(lan.s.main, IDC_LAN_DELETE)) << LastError();
    gui::MessageBoxSeen box;
    ASSERT_TRUE(gui::WaitMessageBox(lan.s.pid(), &box)) << LastError();
    ASSERT_TRUE(gui::PressBoxButton(box, IDOK)) << LastError();
    ASSERT_TRUE(gui::WaitUntil([&] { return lv::Rows(lan.list) == rows - 1; }));
    EXPECT_TRUE(gui::WaitUntil([&] { return lv::SelectedRow(lan.list) == d.selectedAfter; }));
  }
  for (int id : {IDC_LAN_DELETE, IDC_START_WRITING, IDC_GET_VERSION, IDC_PRINT_VERSION}) {
    EXPECT_TRUE(gui::WaitUntil([&] { return !gui::ControlEnabled(lan.s.main, id); }))
        << id << " is enabled with an empty list";
  }
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(lan.s.main) == GetDlgItem(lan.s.main, IDC_EXIT); }));
  ASSERT_TRUE(lan.Exit()) << LastError();
  EXPECT_EQ(lan.s.folder.ReadSetting(L"Port", L"PortLAN"), L"なし");
  EXPECT_EQ(lan.s.folder.ReadSetting(L"IPAddress", L"Port001"), L"\x1");
}

}  // namespace
