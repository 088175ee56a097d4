#include "program_frame.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "com_defaults_rule.h"
#include "firmware_file.h"
#include "debug_log.h"
#include "net_library.h"
#include "port_journal.h"
#include "result_message.h"
#include "settings.h"
#include "settings_types.h"
#include "spooler.h"
#include "spooler_journal.h"
#include "system_library_win.h"
#include "usb_discovery.h"

FrameState g_frame = {1, 1, nullptr, 0, nullptr, {}};

namespace {

constexpr int kIdOk = 700;           // the progress dialog's OK button
constexpr int kMessageRunning = 15;  // "... is already running."
constexpr int kPortsTextChars = 522;

// The system's serial defaults for the saved COM port: only the fifth field
// (flow control) matters; exactly "x" means XON/XOFF.
void ReadComFlowControl() {
  wchar_t key[kSettingTextChars + 2];
  _snwprintf(key, sizeof(key) / sizeof(key[0]), L"%ls:", g_settings.portCom);
  key[sizeof(key) / sizeof(key[0]) - 1] = L'\0';
  wchar_t value[kPortsTextChars + 1] = {};
  GetProfileStringW(L"Ports", key, L"115200,n,8,1,p", value, kPortsTextChars);
  g_settings.comFlowControl = ComFlowControlFromPortsValue(value);
}

void SetLogSwitch() {
  wchar_t path[kPathChars + 8];
  _snwprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\Log", g_settings.programFolder);
  path[sizeof(path) / sizeof(path[0]) - 1] = L'\0';
  DWORD attributes = GetFileAttributesW(path);
  g_settings.logEnabled =
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) ? 1 : 0;
}

// What every path out of the program frees, early exits included.
void FreeProgramMemory() {
  FreeSettings();
  if (FirmwareData.data != nullptr) GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};
  FreeSpoolerList();
  FreeUsbPrinterList();
}

// Printers that a killed run left on "FILE:" go back before the snapshot is
// taken, so that the snapshot and every later switch see their own ports.
// The operator is told which; a run started with a command line has nobody
// to answer a box, so there it is only logged.
void RestorePortsLeftSwitched(const ProgramFrameSpec& setup, bool unattended) {
  const std::vector<std::wstring> restored = RestoreJournalPrinters();
  if (restored.empty()) return;
  std::vector<std::u16string> names;
  for (const std::wstring& name : restored) names.emplace_back(name.begin(), name.end());
  const std::u16string text = PortJournalRestoredMessage(g_settings.languageIndex, names);
  DebugLogF("PortJournal restored %u printers", static_cast<unsigned>(restored.size()));
  if (unattended) return;
  const std::wstring box(text.begin(), text.end());
  MessageBoxW(nullptr, box.c_str(), setup.title, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

}  // namespace

int RunProgram(const ProgramFrameSpec& setup, HINSTANCE instance, const wchar_t* commandLine, int showCommand) {
  g_program.kind = setup.kind;
  g_program.instance = instance;
  g_program.mainWindow = nullptr;
  g_program.progressDialog = nullptr;
  g_frame.busy = 1;
  g_spooler.switchState = REPLACE_OFF;
  bool unattended = commandLine != nullptr && commandLine[0] != L'\0';
  int earlyExit = unattended ? setup.unattendedEarlyExit : 0;

  LoadSettings();
  SetLogSwitch();
  LoadVersionText(setup.exeName);
  RestorePortsLeftSwitched(setup, unattended);
  RefreshSpoolerList();

  HANDLE mutex = CreateMutexW(nullptr, FALSE, setup.mutexName);
  if (mutex == nullptr) {
    FreeProgramMemory();
    return earlyExit;
  }
  DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    if (setup.messageOnSecondStart) ShowResultMessage(nullptr, kMessageRunning, L"");
    BringWindowForward(setup.title);
    FreeProgramMemory();
    return earlyExit;
  }
  // Owned until the process ends: the handle is never closed.

  if (!LoadNetLibraries()) {
    FreeProgramMemory();
    return earlyExit;
  }
  ReadComFlowControl();

  g_frame.interactive = unattended ? 0 : showCommand;
  g_frame.mainThreadId = GetCurrentThreadId();
  if (!setup.createMainWindow(g_frame.interactive)) {
    UnloadNetLibraries();
    FreeProgramMemory();
    return earlyExit;
  }
  if (setup.afterCreate != nullptr) setup.afterCreate(commandLine, g_frame.interactive);

  SetKeyHook();
  MSG msg = {};
  int exitCode = 0;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      exitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) break;
    if (g_program.mainWindow == nullptr || !IsDialogMessageW(g_program.mainWindow, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  ReleaseKeyHook();
  UnloadNetLibraries();
  FreeProgramMemory();
  if (setup.afterShutdown != nullptr) setup.afterShutdown();
  return exitCode;
}

HWND BringWindowForward(const wchar_t* title) {
  // By class as well: a message box of either program, or an Explorer window
  // showing a folder of that name, carries the same title and may come first.
  HWND window = FindWindowW(title, title);
  if (window == nullptr) return nullptr;
  HWND popup = GetLastActivePopup(window);
  if (popup == nullptr) popup = window;
  SetForegroundWindow(popup);
  ShowWindow(popup, SW_RESTORE);
  return window;
}

void SetDlgFocus(HWND dialog, HWND control) {
  if (control == nullptr) return;
  SetFocus(control);
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void SetKeyHook() {
  if (g_frame.hook != nullptr) return;
  if (g_frame.mainThreadId == 0) g_frame.mainThreadId = GetCurrentThreadId();
  g_frame.hook = SetWindowsHookExW(WH_KEYBOARD, KeyboardHookProc, g_program.instance, g_frame.mainThreadId);
}

void ReleaseKeyHook() {
  if (g_frame.hook == nullptr) return;
  UnhookWindowsHookEx(g_frame.hook);
  g_frame.hook = nullptr;
}

// The progress dialog is modeless and not passed through IsDialogMessageW,
// so Enter would never reach its OK button on its own.
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM virtualKey, LPARAM keyFlags) {
  if (code == HC_ACTION && virtualKey == VK_RETURN) {
    if ((keyFlags & 0x80000000) != 0) return 0;
    HWND dialog = g_program.progressDialog;
    if (dialog != nullptr && GetActiveWindow() == dialog && GetFocus() == GetDlgItem(dialog, kIdOk)) {
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kIdOk, BN_CLICKED), reinterpret_cast<LPARAM>(GetFocus()));
      return 1;
    }
  }
  return CallNextHookEx(g_frame.hook, code, virtualKey, keyFlags);
}

namespace {

// The version library, bound from the system folder: it is not one of the
// system's known DLLs, so an import would be looked for beside the program.
struct VersionEntries {
  decltype(&GetFileVersionInfoSizeW) infoSize;
  decltype(&GetFileVersionInfoW) info;
  decltype(&VerQueryValueW) query;
};

VersionEntries BindVersionLibrary() {
  HMODULE module = LoadSystemLibrary(L"version.dll");
  VersionEntries entries = {SystemEntry<decltype(&GetFileVersionInfoSizeW)>(module, "GetFileVersionInfoSizeW"),
                            SystemEntry<decltype(&GetFileVersionInfoW)>(module, "GetFileVersionInfoW"),
                            SystemEntry<decltype(&VerQueryValueW)>(module, "VerQueryValueW")};
  return entries;
}

}  // namespace

int32_t LoadVersionText(const wchar_t* exeName) {
  const VersionEntries version = BindVersionLibrary();
  if (version.infoSize == nullptr || version.info == nullptr || version.query == nullptr) return -8;
  wchar_t path[kPathChars + 64];
  _snwprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\%ls", g_settings.programFolder, exeName);
  path[sizeof(path) / sizeof(path[0]) - 1] = L'\0';
  DWORD ignored = 0;
  DWORD size = version.infoSize(path, &ignored);
  if (size == 0) return -8;
  void* block = GlobalAlloc(GPTR, static_cast<SIZE_T>(size) * 2);
  if (block == nullptr) return -8;
  if (version.info(path, 0, size, block)) {
    struct Translation {
      WORD language;
      WORD codePage;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    if (version.query(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &bytes)) {
      constexpr size_t kTextChars = sizeof(g_frame.versionText) / sizeof(g_frame.versionText[0]);
      for (UINT i = 0; i < bytes / sizeof(Translation); ++i) {
        static const wchar_t* const kKeys[] = {L"ProductVersion", L"FileVersion"};
        for (const wchar_t* key : kKeys) {
          wchar_t query[64];
          _snwprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translations[i].language,
                     translations[i].codePage, key);
          query[63] = L'\0';
          wchar_t* value = nullptr;
          UINT chars = 0;
          if (version.query(block, query, reinterpret_cast<void**>(&value), &chars) && value != nullptr) {
            _snwprintf(g_frame.versionText, kTextChars, L"Ver. %ls", value);
            g_frame.versionText[kTextChars - 1] = L'\0';
          }
        }
        wchar_t query[64];
        _snwprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\LegalCopyright", translations[i].language,
                   translations[i].codePage);
        query[63] = L'\0';
        wchar_t* value = nullptr;
        UINT chars = 0;
        if (version.query(block, query, reinterpret_cast<void**>(&value), &chars) &&
            (translations[i].language == 0x0409 || translations[i].language == 0x0800)) {
          break;
        }
      }
    }
  }
  GlobalFree(block);
  return 0;
}

void BeginBusy(HWND window) {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  g_frame.busy = 0;
  EnableWindow(window, FALSE);
}

void EndBusy(HWND window) {
  EnableWindow(window, TRUE);
  g_frame.busy = 1;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void RememberFocus(HWND dialog) {
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(dialog, focus)) g_frame.rememberedFocus = focus;
}

void RestoreFocus(HWND dialog) {
  HWND control = g_frame.rememberedFocus;
  if (control != nullptr && IsWindow(control) && IsChild(dialog, control)) SetDlgFocus(dialog, control);
}

bool HandleBusyCursor(HWND window, LPARAM lParam) {
  if (g_frame.busy != 0) return false;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  if (HIWORD(lParam) == WM_LBUTTONDOWN) SetForegroundWindow(window);
  return true;
}

HWND CreateMainDialog(const wchar_t* className, WNDPROC windowProc, int iconId, int templateId, DWORD extraClasses) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = windowProc;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = g_program.instance;
  windowClass.hIcon = LoadIconW(g_program.instance, MAKEINTRESOURCEW(iconId));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = className;
  if (RegisterClassExW(&windowClass) == 0) return nullptr;
  g_frame.mainThreadId = GetCurrentThreadId();

  InitCommonControls();
  if (extraClasses != 0) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), extraClasses};
    InitCommonControlsEx(&controls);
  }
  // The template names the class, so the window procedure serves as the
  // dialog procedure as well.
  HWND window = CreateDialogParamW(g_program.instance, MAKEINTRESOURCEW(templateId), nullptr,
                                   reinterpret_cast<DLGPROC>(windowProc), 0);
  if (window != nullptr) g_program.mainWindow = window;
  return window;
}

void ShowMainWindow(HWND window, int showCommand) {
  ShowWindow(window, showCommand);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  SetForegroundWindow(window);
  UpdateWindow(window);
}

LRESULT FrameDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) RememberFocus(window);
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) RememberFocus(window);
      break;
    case WM_SETFOCUS:
      RestoreFocus(window);
      return 0;
    case WM_SETCURSOR:
      if (HandleBusyCursor(window, lParam)) return TRUE;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
