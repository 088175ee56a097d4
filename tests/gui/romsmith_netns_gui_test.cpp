// A person's whole LAN run inside the namespace rig of
// tests/netns/search_test.sh (KIT_NETNS=1 there, with its hosts .11 and .12
// serving as printers): Search through lanquay's real broadcast search
// builds the list, and Start writing sends one firmware file to every
// printer found. Outside the rig it skips: the search broadcasts.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "list_view_probe.h"
#include "romsmith/resource.h"
#include "romsmith_session.h"

namespace {

using gui::LastError;

const char* const kPrinters[] = {"10.250.7.11", "10.250.7.12"};

uint32_t Crc32(const std::vector<unsigned char>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// One line to the simulator that plays the printer at `host` (its control
// port is on the printer's own address), and its answer.
std::string AskPrinter(const std::string& host, const std::string& command) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(19900);
  addr.sin_addr.s_addr = inet_addr(host.c_str());
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    DWORD timeout = 40000;  // beyond the longest wait a command asks of the simulator
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string line = host + " " + command + "\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    char piece[256];
    int got = 0;
    while (answer.find('\n') == std::string::npos && (got = recv(s, piece, sizeof(piece), 0)) > 0) {
      answer.append(piece, static_cast<size_t>(got));
    }
  }
  closesocket(s);
  return answer.substr(0, answer.find_first_of("\r\n"));
}

TEST(RomsmithNetns, SearchThenWriteToEveryPrinterFound) {
  const char* inside = std::getenv("KIT_NETNS");
  if (!inside || std::strcmp(inside, "1") != 0) GTEST_SKIP() << "runs only inside the namespace test";
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);

  RomsmithSession s(L"netns");
  RomsmithSetup setup;
  setup.kind = L"LAN";
  setup.firmwareName = L"fw.hex";
  setup.firmwareBytes = 64 * 1024;
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();
  HWND list = GetDlgItem(s.main, IDC_LAN_LIST);
  ASSERT_EQ(lv::Rows(list), 0);

  ASSERT_TRUE(gui::Click(s.main, IDC_LAN_SEARCH)) << LastError();
  HWND progress = s.WaitProgressDialog();
  ASSERT_NE(progress, nullptr) << "no progress dialog during the search";
  EXPECT_EQ(gui::Narrow(gui::ControlText(progress, IDC_PROGRESS_MESSAGE)),
            "Searching for connected printers...\n\nPlease wait.");
  EXPECT_FALSE(gui::ControlVisible(progress, IDC_PROGRESS_BAR));
  EXPECT_FALSE(gui::ControlVisible(progress, IDC_PROGRESS_OK));
  ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(progress) && IsWindowEnabled(s.main); }));
  ASSERT_TRUE(gui::MessageBoxes(s.pid()).empty()) << gui::Narrow(gui::MessageBoxes(s.pid())[0].text);
  std::vector<std::wstring> found = lv::Column(list, 1);
  std::sort(found.begin(), found.end());
  ASSERT_EQ(found, (std::vector<std::wstring>{L"10.250.7.11", L"10.250.7.12"}));
  EXPECT_EQ(lv::Column(list, 0), (std::vector<std::wstring>{L"KM-510", L"KM-510"}));

  ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, IDC_START_WRITING); }));
  ASSERT_TRUE(gui::Click(s.main, IDC_START_WRITING)) << LastError();
  ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
  progress = s.WaitProgressDialog();
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(s.ConfirmClosingMessages(progress)) << LastError();

  char expected[64];
  snprintf(expected, sizeof(expected), "OK %u %08x", static_cast<unsigned>(s.firmware.size()), Crc32(s.firmware));
  for (const char* host : kPrinters) {
    SCOPED_TRACE(host);
    AskPrinter(host, "wait_count " + std::to_string(s.firmware.size()) + " 30000");
    EXPECT_EQ(AskPrinter(host, "received_crc"), expected) << "the printer did not receive the file byte for byte";
  }
  DWORD code = 99;
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT) && s.program.WaitExit(&code)) << LastError();
  WSACleanup();
}

}  // namespace
