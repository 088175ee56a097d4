#include "gui_driver.h"

#include <cstdio>
#include <cstring>
#include <atomic>
#include <memory>
#include <thread>

namespace gui {
namespace {

std::string g_lastError;

bool Fail(const std::string& why) {
  g_lastError = why;
  return false;
}

// Messages to another process's controls go through a time limit: a
// program that hangs must fail the check, not the whole test run.
constexpr UINT kSendLimitMs = 20000;

LRESULT SendLimited(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* delivered = nullptr) {
  DWORD_PTR result = 0;
  LRESULT ok = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendLimitMs, &result);
  if (delivered) *delivered = ok != 0;
  return static_cast<LRESULT>(result);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

const std::string& LastError() { return g_lastError; }

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}


std::string Narrow(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
  return out;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);  // a polling interval, not a wait for the program
  }
}

std::wstring WinePath(const char* unixPath) {
  if (unixPath[0] != '/') return std::wstring(unixPath, unixPath + strlen(unixPath));
  std::wstring out = L"Z:";
  for (const char* p = unixPath; *p; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return out;
}

// Program folder -------------------------------------------------------------

std::wstring TempFolderPath(const wchar_t* tag) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static int serial = 0;
  wchar_t name[96];
  swprintf(name, 96, L"gui_%ls_%lu_%d", tag, GetCurrentProcessId(), ++serial);
  return std::wstring(temp) + name;
}

ProgramFolder::ProgramFolder(const std::wstring& path, bool keep) : path_(path), keep_(keep) {
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ProgramFolder::~ProgramFolder() {
  if (!keep_) RemoveTree(path_);
}

bool ProgramFolder::Copy(const char* builtPath, const wchar_t* name) {
  std::wstring source = WinePath(builtPath);
  std::wstring target = name ? std::wstring(name) : source.substr(source.find_last_of(L'\\') + 1);
  if (!CopyFileW(source.c_str(), (*this / target).c_str(), FALSE)) {
    return Fail("cannot copy " + std::string(builtPath) + " (error " + std::to_string(GetLastError()) + ")");
  }
  return true;
}

bool ProgramFolder::WriteSettings(const std::vector<IniKey>& keys) {
  // The byte-order mark and "[File]\r\n" in UTF-16: the profile writer then
  // keeps the file in UTF-16, so Japanese values survive.
  static const unsigned char kHead[] = {0xFF, 0xFE, '[', 0, 'F', 0, 'i', 0, 'l', 0, 'e', 0, ']', 0, '\r', 0, '\n', 0};
  const std::wstring file = *this / L"Romsmith.ini";
  if (!WriteFile(L"Romsmith.ini", std::vector<unsigned char>(kHead, kHead + sizeof(kHead)))) return false;
  for (const IniKey& k : keys) {
    if (!WritePrivateProfileStringW(k.section.c_str(), k.key.c_str(), k.value.c_str(), file.c_str())) {
      return Fail("cannot write setting " + Narrow(k.section + L"/" + k.key));
    }
  }
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());  // flush the profile cache
  return true;
}

std::wstring ProgramFolder::ReadSetting(const wchar_t* section, const wchar_t* key) const {
  wchar_t value[1024] = {};
  GetPrivateProfileStringW(section, key, L"\x1", value, 1024, (*this / L"Romsmith.ini").c_str());
  return value;
}

bool ProgramFolder::WriteFile(const std::wstring& name, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileW((*this / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail("cannot create " + Narrow(name));
  DWORD written = 0;
  BOOL ok = bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size() ? true : Fail("cannot write " + Narrow(name));
}

bool ProgramFolder::EnableLog() { return CreateDirectoryW((*this / L"Log").c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS; }

std::vector<std::string> ReadLogLines(const std::wstring& file) {
  std::vector<std::string> lines;
  FILE* in = _wfopen(file.c_str(), L"r");
  if (in == nullptr) return lines;
  char buffer[4096];
  while (fgets(buffer, sizeof(buffer), in)) {
    std::string line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // "[hh:mm:ss:mmm] " in front of every record.
    if (line.size() >= 15 && line[0] == '[' && line[13] == ']') line = line.substr(15);
    lines.push_back(line);
  }
  fclose(in);
  return lines;
}

std::vector<std::string> ProgramFolder::LogLines() const { return ReadLogLines(*this / L"Log\\_DEBUG.LOG"); }

// Program ---------------------------------------------------------------------

Program::~Program() {
  if (info_.hProcess) {
    if (Running()) {
      TerminateProcess(info_.hProcess, 255);
      WaitForSingleObject(info_.hProcess, 10000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

bool Program::Start(const std::wstring& exe, const std::wstring& arguments, int showCommand) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (showCommand >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
  }
  // Wine now and then refuses a start with ERROR_INTERNAL_ERROR when the
  // machine is busy (seen once in a full test run); the next try starts it.
  for (int attempt = 0;; ++attempt) {
    if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                       &info_)) {
      break;
    }
    const DWORD error = GetLastError();
    info_ = {};
    if (error != ERROR_INTERNAL_ERROR || attempt == 2) {
      return Fail("cannot start " + Narrow(exe) + " (error " + std::to_string(error) + ")");
    }
    Sleep(200);
  }
  // Windows of a program that has not yet reached its message loop cannot be
  // driven; this also keeps SetForegroundWindow rights with the program.
  WaitForInputIdle(info_.hProcess, kWaitMs);
  return true;
}

bool Program::Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

bool Program::WaitExit(DWORD* exitCode, DWORD timeoutMs) {
  if (!info_.hProcess) return Fail("no program was started");
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return Fail("the program is still running");
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  if (exitCode) *exitCode = code;
  return true;
}

// Windows ----------------------------------------------------------------------

namespace {

struct WindowSearch {
  DWORD pid;
  const wchar_t* windowClass;
  const wchar_t* title;
  bool hiddenToo;
  std::vector<HWND> found;
};

// A named callback rather than a lambda: 32-bit builds need its stdcall form.
BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (s->pid != 0 && owner != s->pid) return TRUE;
  if (!s->hiddenToo && !IsWindowVisible(window)) return TRUE;
  if (s->windowClass && _wcsicmp(ClassOf(window).c_str(), s->windowClass) != 0) return TRUE;
  if (s->title && Text(window) != s->title) return TRUE;
  s->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD pid, const wchar_t* windowClass, const wchar_t* title, bool hiddenToo) {
  WindowSearch search{pid, windowClass, title, hiddenToo, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitTopWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs) {
  HWND found = nullptr;
  if (!WaitUntil(
          [&] {
            std::vector<HWND> windows = TopWindows(pid, windowClass, title);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
          },
          timeoutMs)) {
    Fail("no window of class " + Narrow(windowClass ? windowClass : L"(any)") + " titled " +
         Narrow(title ? title : L"(any)") + " appeared");
  }
  return found;
}

std::wstring Text(HWND window) {
  bool delivered = false;
  LRESULT length = SendLimited(window, WM_GETTEXTLENGTH, 0, 0, &delivered);
  if (!delivered || length <= 0) return L"";
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT got = SendLimited(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? Text(control) : std::wstring();
}

bool ControlVisible(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowVisible(control);
}

bool ControlEnabled(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowEnabled(control);
}

bool ControlChecked(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && SendLimited(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool WaitControlText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs) {
  if (WaitUntil([&] { return ControlText(dialog, id) == text; }, timeoutMs)) return true;
  return Fail("control " + std::to_string(id) + " shows \"" + Narrow(ControlText(dialog, id)) + "\", expected \"" +
              Narrow(text) + "\"");
}

bool Click(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return Fail("no control " + std::to_string(id));
  if (!IsWindowVisible(control)) return Fail("control " + std::to_string(id) + " is hidden");
  if (!IsWindowEnabled(control)) return Fail("control " + std::to_string(id) + " is disabled");
  if (!IsWindowEnabled(GetAncestor(control, GA_ROOT))) return Fail("the window of " + std::to_string(id) + " is disabled");
  // BM_CLICK lets the button act as under the mouse (focus, check mark,
  // notification); posted, because the handler may open a message box.
  PostMessageW(control, BM_CLICK, 0, 0);
  return true;
}

bool SetText(DWORD pid, HWND dialog, int id, const std::wstring& text) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return Fail("no control " + std::to_string(id));
  if (!IsWindowVisible(control) || !IsWindowEnabled(control)) {
    return Fail("control " + std::to_string(id) + " cannot be typed into");
  }
  // WM_SETTEXT carries a pointer and cannot be posted: it goes from a helper
  // thread, which stays blocked while the change handler shows a message box.
  struct Shared {
    std::wstring text;
    std::atomic<bool> done{false};
  };
  auto shared = std::make_shared<Shared>();
  shared->text = text;
  std::thread([shared, control] {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shared->text.c_str()));
    shared->done = true;
  }).detach();
  if (!WaitUntil([&] { return shared->done || !MessageBoxes(pid).empty(); })) {
    return Fail("the program did not take the text of control " + std::to_string(id));
  }
  return true;
}

bool TypeChars(HWND dialog, int id, const std::wstring& text) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return Fail("no control " + std::to_string(id));
  if (!IsWindowVisible(control) || !IsWindowEnabled(control)) {
    return Fail("control " + std::to_string(id) + " cannot be typed into");
  }
  HWND edit = _wcsicmp(ClassOf(control).c_str(), L"ComboBox") == 0 ? FindWindowExW(control, nullptr, L"Edit", nullptr)
                                                                   : control;
  if (!edit) return Fail("control " + std::to_string(id) + " has no edit part");
  for (wchar_t c : text) {
    bool delivered = false;
    SendLimited(edit, WM_CHAR, c, 1, &delivered);
    if (!delivered) return Fail("control " + std::to_string(id) + " did not take a character");
  }
  return true;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

HWND ActiveOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndActive : nullptr;
}

bool PressKey(HWND window, WORD virtualKey) {
  HWND root = GetAncestor(window, GA_ROOT);
  if (!WaitUntil([&] {
        SetForegroundWindow(root);
        return GetForegroundWindow() == root;
      }, 10000)) {
    return Fail("cannot bring the window to the foreground");
  }
  // Down and up in two calls, as a keyboard delivers them.
  INPUT key = {};
  key.type = INPUT_KEYBOARD;
  key.ki.wVk = virtualKey;
  if (SendInput(1, &key, sizeof(key)) != 1) return Fail("SendInput (down) failed");
  key.ki.dwFlags = KEYEVENTF_KEYUP;
  if (SendInput(1, &key, sizeof(key)) != 1) return Fail("SendInput (up) failed");
  return true;
}

// Message boxes -----------------------------------------------------------------

namespace {

// A message box is a "#32770" dialog whose text is the static 0xFFFF; the
// programs' own dialogs of that class carry no such control.
constexpr int kBoxTextId = 0xFFFF;

}  // namespace

std::vector<MessageBoxSeen> MessageBoxes(DWORD pid) {
  std::vector<MessageBoxSeen> boxes;
  for (HWND window : TopWindows(pid, L"#32770", nullptr)) {
    if (!GetDlgItem(window, kBoxTextId)) continue;
    MessageBoxSeen seen;
    seen.box = window;
    seen.owner = GetWindow(window, GW_OWNER);
    seen.caption = Text(window);
    seen.text = ControlText(window, kBoxTextId);
    seen.cancelButton = ControlVisible(window, IDCANCEL);
    boxes.push_back(seen);
  }
  return boxes;
}

bool WaitMessageBox(DWORD pid, MessageBoxSeen* seen, DWORD timeoutMs) {
  if (WaitUntil(
          [&] {
            std::vector<MessageBoxSeen> boxes = MessageBoxes(pid);
            if (boxes.empty()) return false;
            *seen = boxes.front();
            return true;
          },
          timeoutMs)) {
    return true;
  }
  return Fail("no message box appeared");
}

bool PressBoxButton(const MessageBoxSeen& box, int button) {
  HWND control = GetDlgItem(box.box, button);
  if (!control || !IsWindowVisible(control)) {
    return Fail("the box \"" + Narrow(box.text) + "\" has no button " + std::to_string(button));
  }
  PostMessageW(box.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  // Gone before the caller looks for the next box, so it is never answered twice.
  if (!WaitUntil([&] { return !IsWindow(box.box) || !IsWindowVisible(box.box); })) {
    return Fail("the box \"" + Narrow(box.text) + "\" stayed open");
  }
  return true;
}

bool Answer(DWORD pid, const std::wstring& text, int button, MessageBoxSeen* seen, DWORD timeoutMs) {
  MessageBoxSeen box;
  if (!WaitMessageBox(pid, &box, timeoutMs)) return Fail("no message box appeared; expected \"" + Narrow(text) + "\"");
  if (seen) *seen = box;
  if (box.text != text) return Fail("the message box shows \"" + Narrow(box.text) + "\", expected \"" + Narrow(text) + "\"");
  return PressBoxButton(box, button);
}

}  // namespace gui
