// One Romsmith run for a GUI flow test: a program folder with the program,
// its libraries, a settings file and a firmware file, the running program and
// the windows it shows. The checks of what the printers received live here
// too, so each flow reads as the operator's steps.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/gui_driver.h"

constexpr int kJapanese = 0;
constexpr int kEnglish = 1;

// What the settings file says before Romsmith starts.
struct RomsmithSetup {
  int language = kEnglish;
  bool updateMode = false;                 // Update a part of ROM area instead of Rewrite All
  std::wstring kind = L"COM";              // [Port] Connected
  std::vector<int> lanPrinters;            // simulated printer numbers (SimHost) in list order
  std::vector<int> sxPrinters;             // of those, found through the other vendor's library (slot 0)
  std::wstring firmwareName;               // a file made in the folder
  bool nameInSettings = true;              // and named in [Send] Filename
  size_t firmwareBytes = 150 * 1024;
  bool lanquay = true;                     // copy lanquay.dll into the folder
  bool startNotice = false;                // leave the start-up notice on
  std::vector<gui::IniKey> extra;
  std::wstring morePrinters;               // ";name=port..." added to the fake spooler's printers
  std::wstring stuckPrinter;               // a fake spooler printer that cannot be put back from "FILE:"
  int stuckTimes = 0;                      // ... only that many times (0: never put back)
  std::wstring comPort = L"COM5";          // [Port] PortCOM
  int usbPrinters = 0;                     // plugged USB printers the fake discovery reports (any model; "usb.txt")
};

class RomsmithSession {
 public:
  explicit RomsmithSession(const wchar_t* tag) : folder(gui::TempFolderPath(tag)) {}

  // Folder, libraries, settings and firmware file.
  bool Prepare(const RomsmithSetup& setup);
  // Starts Romsmith; without arguments, and unless told not to, also waits
  // for its main window. `showCommand` as for gui::Program::Start.
  bool Start(const std::wstring& arguments = L"", bool waitForWindow = true, int showCommand = -1);
  std::wstring FirmwarePath() const { return folder / firmwareName; }
  DWORD pid() const { return program.pid(); }

  // The progress dialog of this run (null when none appears in time).
  HWND WaitProgressDialog(DWORD timeoutMs = gui::kWaitMs);
  // Answers the confirmation of Start writing with `button` (USB: usbSerial).
  bool Confirm(int button);
  // From the POWER-lamp message to the closed dialog: the first OK as a
  // real Enter key (the keyboard hook), the second as a click; then, when
  // `boxAtEnd` is given, the box that the second OK brings, answered OK.
  // *checkingMs gets the time between the two OKs.
  bool ConfirmClosingMessages(HWND progress, gui::MessageBoxSeen* boxAtEnd = nullptr, DWORD* checkingMs = nullptr);
  // True when the printer (a SimHost number, or 0 for the COM printer)
  // received exactly the firmware file; `why` says what differed.
  bool ReceivedFirmware(int printer, std::string* why);
  // True when every printer of the fake spooler is back on its own port;
  // `switches` counts the port changes made so far.
  bool SpoolerRestored(int* switches, std::string* why) const;
  // Debug log lines written since the last call.
  std::vector<std::string> NewLogLines();

  gui::ProgramFolder folder;
  gui::Program program;
  HWND main = nullptr;
  RomsmithSetup setup;
  std::wstring firmwareName;
  std::vector<unsigned char> firmware;
  std::wstring usbSerial;

 private:
  size_t logSeen_ = 0;
};

// Names parameterised flows after their table's name column.
struct FlowName {
  template <typename Flow>
  std::string operator()(const ::testing::TestParamInfo<Flow>& flow) const {
    return flow.param.name;
  }
};

// Deterministic bytes that hold no printer command (no ESC, no GS).
std::vector<unsigned char> MakeFirmware(size_t bytes, unsigned seed);

// Catalogue message `number` in `language`, with "%s" replaced in turn by `args`.
std::wstring Message(int number, int language, const std::vector<std::wstring>& args = {});

// The box that names a printer a give-back left on "FILE:" (but after a whole write).
std::wstring LeftOnFileMessage(int language, const std::u16string& printer);

// The reports folder both programs write to in this prefix: its run reports
// and serial-number records removed / the newest run report's JSON and text
// (false when none was saved since the last removal) / a file's bytes ("" when
// missing).
void ClearReports();
bool LatestRunReport(std::string* json, std::string* text);
std::string FileBytes(const std::wstring& path);

// The simulated printer's address as Romsmith's list shows it.
std::wstring SimAddress(int printer);
// Puts every simulated printer back to its defaults and empties what it received.
bool ResetSimulator();
// Bytes received on the data path of printer n (0: the COM printer).
std::vector<unsigned char> SimBytes(int printer);
