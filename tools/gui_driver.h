// Drives one of the kit's programs from a separate process the way an
// operator would: a program folder of its own, the program started as a
// child process, its windows and message boxes found and read, buttons
// pressed only when an operator could press them, boxes answered by their
// text and real key presses for the keyboard hook. Every wait has a time
// limit and polls; nothing sleeps for a fixed time to let the program catch up.
// Used by the GUI tests and by the demo, screenshot and benchmark runs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// Generous on purpose: Wine on a loaded two-core machine can take seconds
// to create a window.
constexpr DWORD kWaitMs = 60000;

// Why the last driver call failed, for the caller's failure message.
const std::string& LastError();

// Polls `condition` until it holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs);

// "Z:\..." for a path of the Unix side (Wine maps the root to drive Z:);
// a Windows path is returned as it is.
std::wstring WinePath(const char* unixPath);

// Removes a folder with everything in it (read-only files too).
void RemoveTree(const std::wstring& folder);

// The lines of a debug log file without their time stamps.
std::vector<std::string> ReadLogLines(const std::wstring& file);

struct IniKey {
  std::wstring section;
  std::wstring key;
  std::wstring value;
};

// A fresh folder under the temp folder, for ProgramFolder.
std::wstring TempFolderPath(const wchar_t* tag);

// The program folder: created empty (an old one of the same path is
// removed first) and removed at the end unless `keep`.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::wstring& path, bool keep = false);
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  // Copies a file built by this tree (Unix path) in, under `name` or its own name.
  bool Copy(const char* builtPath, const wchar_t* name = nullptr);
  // Writes "Romsmith.ini" as the programs create it (UTF-16 with its
  // byte-order mark) holding exactly these keys.
  bool WriteSettings(const std::vector<IniKey>& keys);
  std::wstring ReadSetting(const wchar_t* section, const wchar_t* key) const;
  bool WriteFile(const std::wstring& name, const std::vector<unsigned char>& bytes);
  // Makes the "Log" folder that switches the debug log on.
  bool EnableLog();
  // The debug log's lines without their time stamps.
  std::vector<std::string> LogLines() const;
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  bool keep_;
};

// One started program. A program still running when this ends is ended, so
// that a failed check never leaves a window behind for the next test.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts `exe` in its own folder with `arguments` as its command line tail
  // and, when not negative, `showCommand` as its show command.
  bool Start(const std::wstring& exe, const std::wstring& arguments = L"", int showCommand = -1);
  bool Running() const;
  // Waits for the end; false when it is still running after the limit.
  bool WaitExit(DWORD* exitCode, DWORD timeoutMs = kWaitMs);
  DWORD pid() const { return info_.dwProcessId; }

 private:
  PROCESS_INFORMATION info_ = {};
};

// Top-level windows of process `pid` (0: any process) with this class and
// title (null: any), visible only unless `hiddenToo`.
std::vector<HWND> TopWindows(DWORD pid, const wchar_t* windowClass, const wchar_t* title, bool hiddenToo = false);
HWND WaitTopWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs = kWaitMs);

// Controls, addressed as the programs address them: dialog and ID.
std::wstring Text(HWND window);
std::wstring ControlText(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
bool ControlChecked(HWND dialog, int id);
// Waits until the control shows `text`.
bool WaitControlText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs = kWaitMs);

// Clicks a button, radio or check box without waiting for its handler (a
// handler that opens a message box would block a synchronous click).
// Refuses, with LastError(), a control that is missing, hidden or disabled
// or whose window is disabled: an operator could not click it, and Wine
// would deliver the click anyway.
bool Click(HWND dialog, int id);
// Replaces the text of an edit box the way a paste does (the program sees
// one change). Returns once the program has handled the change, or once a
// message box of `pid` is open (the handler then waits for its answer).
bool SetText(DWORD pid, HWND dialog, int id, const std::wstring& text);
// Types `text` character by character into an edit box or the edit part of
// a combo box (the program sees one change per character).
bool TypeChars(HWND dialog, int id, const std::wstring& text);
// Presses and releases a real key with `window` in the foreground, so that
// keyboard hooks see it as they would an operator's key.
bool PressKey(HWND window, WORD virtualKey);

// The thread's focused and active windows as the program sees them.
HWND FocusOf(HWND window);
HWND ActiveOf(HWND window);

struct MessageBoxSeen {
  HWND box = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
  bool cancelButton = false;
};
// The message boxes that process `pid` shows now.
std::vector<MessageBoxSeen> MessageBoxes(DWORD pid);
// Waits for a message box of `pid`.
bool WaitMessageBox(DWORD pid, MessageBoxSeen* seen, DWORD timeoutMs = kWaitMs);
// Waits for a message box of `pid`, checks that it shows `text` and presses
// `button` (IDOK, IDCANCEL). On a different text the box is left open and
// LastError() holds what was shown.
bool Answer(DWORD pid, const std::wstring& text, int button, MessageBoxSeen* seen = nullptr,
            DWORD timeoutMs = kWaitMs);
// Presses a button of a box that is open.
bool PressBoxButton(const MessageBoxSeen& box, int button);

// Narrow text for messages (UTF-8).
std::string Narrow(const std::wstring& text);

}  // namespace gui
