#include "romsmith_session.h"

#include <algorithm>
#include <cstdio>

#include "core/message_catalog.h"
#include "core/port_journal.h"
#include "core/run_report_files.h"
#include "romsmith/resource.h"
#include "tests/win/sim_client.h"

using gui::IniKey;

namespace {

const wchar_t* const kPowerLamp[2] = {
    L"プリンタの状態を確認してください。\n\nPOWER(緑)ランプが点灯してから[OK]をクリックしてください。",
    L"Confirm the status of Printer.\n\nClick [OK] when POWER(Green) Lamp lights up."};
const wchar_t* const kWritingDone[2] = {
    L"書込みが終了しました。\n\n[全書換え]の場合はプリンタの電源を再投入してください。",
    L"Writing is done.\n\nIn case of [Rewrite All area], switch off and on the power of printer."};

std::string Target(int printer) { return printer == 0 ? "com" : SimHost(printer); }

// True when `bytes` hold nothing but version requests (and the zero byte a
// LAN exchange sends ahead of its command): the reads around an Update write.
bool OnlyVersionReads(std::vector<unsigned char>::const_iterator from, std::vector<unsigned char>::const_iterator to) {
  static const unsigned char kReadFix[] = {0x1D, 'e', 'R', 'E', 'A', 'D', 'F', 'I', 'X'};
  while (from != to) {
    if (*from == 0) {
      ++from;
    } else if (to - from >= 9 && std::equal(kReadFix, kReadFix + 9, from)) {
      from += 9;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void ClearReports() {
  const std::wstring folder = ReportFolder();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool LatestRunReport(std::string* json, std::string* text) {
  const std::wstring folder = ReportFolder();
  std::wstring newest;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\Write-*.json").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (newest < found.cFileName) newest = found.cFileName;  // named by start time
  } while (FindNextFileW(search, &found));
  FindClose(search);
  *json = FileBytes(folder + L"\\" + newest);
  *text = FileBytes(folder + L"\\" + newest.substr(0, newest.size() - 5) + L".txt");
  return true;
}

std::string FileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char block[65536];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

std::vector<unsigned char> MakeFirmware(size_t bytes, unsigned seed) {
  std::vector<unsigned char> out(bytes);
  unsigned x = seed;
  for (unsigned char& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
    if (b == 0x1B || b == 0x1D) b = 0x20;
  }
  return out;
}

std::wstring Message(int number, int language, const std::vector<std::wstring>& args) {
  std::wstring text = CatalogueText(CatalogueOwner::kRomsmith, number, language);
  size_t at = 0;
  for (const std::wstring& arg : args) {
    at = text.find(L"%s", at);
    if (at == std::wstring::npos) break;
    text.replace(at, 2, arg);
    at += arg.size();
  }
  return text;
}

std::wstring SimAddress(int printer) {
  std::string host = SimHost(printer);
  return std::wstring(host.begin(), host.end());
}

bool ResetSimulator() {
  for (int printer : {0, 2, 3, 4, 5, 6}) {
    if (SimCommand(Target(printer) + " reset") != "OK") return false;
  }
  return true;
}

std::vector<unsigned char> SimBytes(int printer) { return SimReceived(Target(printer)); }

// The fake spooler's printers: one on the COM printer's port, one per
// simulated LAN printer, one on a port no flow uses.
std::wstring SpoolerPrinters() {
  std::wstring list = L"Receipt COM=COM5:;Office=LPT3:";
  for (int printer : {2, 3, 4}) list += L";Receipt " + std::to_wstring(printer) + L"=IP_" + SimAddress(printer);
  return list;
}

bool RomsmithSession::Prepare(const RomsmithSetup& wanted) {
  setup = wanted;
  if (!folder.Copy(ROMSMITH_EXE, L"Romsmith.exe") || !folder.Copy(FAKE_SPOOLER_DLL, L"fake_spooler.dll") ||
      !folder.EnableLog()) {
    return false;
  }
  if (setup.lanquay && !folder.Copy(LANQUAY_DLL, L"lanquay.dll")) return false;
  std::vector<IniKey> keys = {
      {L"File", L"Type", setup.updateMode ? L"Online" : L"PowerOn"},
      {L"Language", L"Country", setup.language == kJapanese ? L"Japan" : L"English"},
      {L"Port", L"Connected", setup.kind},
      {L"Port", L"PortCOM", setup.comPort},
      {L"Port", L"PortLAN", L"Port001"},
      {L"INIT_MSG", L"Mode", setup.startNotice ? L"ON" : L"OFF"},
  };
  for (size_t i = 0; i < setup.lanPrinters.size(); ++i) {
    wchar_t key[16];
    wchar_t mac[32];
    swprintf(key, 16, L"Port%03d", static_cast<int>(i + 1));
    swprintf(mac, 32, L"00:11:22:33:44:%02d", setup.lanPrinters[i]);
    const bool sx = std::count(setup.sxPrinters.begin(), setup.sxPrinters.end(), setup.lanPrinters[i]) != 0;
    keys.push_back({L"IPAddress", key, (sx ? L"0" : L"1") + std::wstring(L",KM-510,") + SimAddress(setup.lanPrinters[i]) +
                                           L"," + mac});
  }
  firmwareName = setup.firmwareName;
  if (!firmwareName.empty()) {
    firmware = MakeFirmware(setup.firmwareBytes, static_cast<unsigned>(setup.firmwareBytes));
    if (!folder.WriteFile(firmwareName, firmware)) return false;
    if (setup.nameInSettings) keys.push_back({L"Send", L"Filename", FirmwarePath()});
  }
  if (setup.usbPrinters > 0) keys.push_back({L"USB_SEARCH", L"Mode", L"ALL"});
  keys.insert(keys.end(), setup.extra.begin(), setup.extra.end());
  return folder.WriteSettings(keys);
}

bool RomsmithSession::Start(const std::wstring& arguments, bool waitForWindow, int showCommand) {
  // The program inherits these: its test seam loads the fake spooler.
  SetEnvironmentVariableW(L"ROMSMITH_TEST_SEAMS", (folder / L"fake_spooler.dll").c_str());
  SetEnvironmentVariableW(L"KIT_FAKE_SPOOLER", (SpoolerPrinters() + setup.morePrinters).c_str());
  SetEnvironmentVariableW(L"KIT_FAKE_SPOOLER_STATE", (folder / L"spooler.txt").c_str());
  SetEnvironmentVariableW(L"KIT_FAKE_SPOOLER_STUCK", setup.stuckPrinter.empty() ? nullptr : setup.stuckPrinter.c_str());
  SetEnvironmentVariableW(L"KIT_FAKE_SPOOLER_STUCK_TIMES",
                          setup.stuckTimes == 0 ? nullptr : std::to_wstring(setup.stuckTimes).c_str());
  const std::string usb = std::to_string(setup.usbPrinters);
  if (!folder.WriteFile(L"usb.txt", {usb.begin(), usb.end()})) return false;
  SetEnvironmentVariableW(L"KIT_FAKE_USB", (folder / L"usb.txt").c_str());
  if (!program.Start(folder / L"Romsmith.exe", arguments, showCommand)) return false;
  if (!arguments.empty() || !waitForWindow) return true;
  main = gui::WaitTopWindow(pid(), L"Romsmith", L"Romsmith");
  return main != nullptr;
}

HWND RomsmithSession::WaitProgressDialog(DWORD timeoutMs) {
  HWND found = nullptr;
  gui::WaitUntil(
      [&] {
        for (HWND w : gui::TopWindows(pid(), L"#32770", L"Romsmith")) {
          if (GetDlgItem(w, IDC_PROGRESS_BAR)) found = w;
        }
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

bool RomsmithSession::Confirm(int button) {
  std::wstring port;
  std::wstring notice;
  const int lang = setup.language;
  if (setup.kind == L"LAN") {
    port = lang == kJapanese ? L"(LAN) プリンタリスト内のすべてのプリンタに送信します。"
                             : L"(LAN) Send to all printers listed in [Printer List].";
    notice = lang == kJapanese
                 ? L"******************************************************\n 書換えを行わないプリンタは、[プリンタリスト]から[削除]\n ボタンで削除してください。\n******************************************************"
                 : L"********************************************  \n For the printer(s) not necessary to rewrite its(their)\n firmware in the [Printer List], use the [Delete] button\n to remove the printer(s) from the [Printer List].\n********************************************  ";
  } else if (setup.kind == L"USB") {
    port = L"(USB) fe5a/0a01/(Serial No:" + usbSerial + L")";
  } else {
    port = setup.kind == L"COM" ? setup.comPort : setup.kind;
  }
  return gui::Answer(pid(), Message(6, lang, {port, FirmwarePath(), notice}), button);
}

bool RomsmithSession::ConfirmClosingMessages(HWND progress, gui::MessageBoxSeen* boxAtEnd, DWORD* checkingMs) {
  const int lang = setup.language;
  HWND ok = GetDlgItem(progress, IDC_PROGRESS_OK);
  if (!gui::WaitUntil([&] {
        return gui::ControlEnabled(progress, IDC_PROGRESS_OK) && gui::ControlVisible(progress, IDC_PROGRESS_CLOSING);
      })) {
    return false;
  }
  if (!gui::WaitControlText(progress, IDC_PROGRESS_CLOSING, kPowerLamp[lang])) return false;
  // Enter reaches the button only through the program's keyboard hook: the
  // dialog is modeless and outside the dialog message loop.
  if (!gui::WaitUntil([&] { return gui::FocusOf(progress) == ok; })) return false;
  if (!gui::PressKey(progress, VK_RETURN)) return false;
  const DWORD start = GetTickCount();
  if (!gui::WaitControlText(progress, IDC_PROGRESS_CLOSING, kWritingDone[lang])) return false;
  if (checkingMs != nullptr) *checkingMs = GetTickCount() - start;
  if (!gui::Click(progress, IDC_PROGRESS_OK)) return false;
  if (boxAtEnd != nullptr && !(gui::WaitMessageBox(pid(), boxAtEnd) && gui::PressBoxButton(*boxAtEnd, IDOK))) return false;
  return gui::WaitUntil([&] { return !IsWindow(progress); });
}

std::wstring LeftOnFileMessage(int language, const std::u16string& printer) {
  const std::u16string text = PortJournalStillOnFileMessage(language, {printer});
  return std::wstring(text.begin(), text.end());
}

bool RomsmithSession::ReceivedFirmware(int printer, std::string* why) {
  const std::string target = Target(printer);
  // The last bytes may still be on their way through the terminal or socket.
  SimCommand(target + " wait_count " + std::to_string(firmware.size()) + " 30000");
  std::vector<unsigned char> got = SimBytes(printer);
  if (got == firmware) return true;
  const auto at = std::search(got.begin(), got.end(), firmware.begin(), firmware.end());
  if (at != got.end() && OnlyVersionReads(got.begin(), at) &&
      OnlyVersionReads(at + static_cast<std::ptrdiff_t>(firmware.size()), got.end())) {
    return true;
  }
  size_t same = 0;
  while (same < got.size() && same < firmware.size() && got[same] == firmware[same]) ++same;
  *why = target + " received " + std::to_string(got.size()) + " bytes, the file has " +
         std::to_string(firmware.size()) + "; first difference at byte " + std::to_string(same);
  return false;
}

bool RomsmithSession::SpoolerRestored(int* switches, std::string* why) const {
  FILE* in = _wfopen((folder / L"spooler.txt").c_str(), L"r");
  if (!in) {
    *why = "the fake spooler was not loaded";
    return false;
  }
  *switches = -1;
  if (fscanf(in, "switches %d\n", switches) != 1) *why = "the fake spooler's state is unreadable";
  char line[512];
  std::string state;
  while (fgets(line, sizeof(line), in)) state += line;
  fclose(in);
  if (state.find("FILE:") == std::string::npos && *switches >= 0) return true;
  *why += "printers left switched:\n" + state;
  return false;
}

std::vector<std::string> RomsmithSession::NewLogLines() {
  std::vector<std::string> all = folder.LogLines();
  std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(logSeen_, all.size())), all.end());
  logSeen_ = all.size();
  return fresh;
}
