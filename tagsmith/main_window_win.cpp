#include "main_window.h"

#include <commctrl.h>

#include <cwchar>

#include "program_frame.h"
#include "program_state.h"
#include "resource.h"
#include "result_message.h"
#include "send_printer.h"
#include "serial_operations.h"
#include "settings_types.h"
#include "spooler.h"
#include "tagsmith_texts.h"
#include "tick_wait.h"

TagsmithWindowState g_tagsmithWindow = {};

namespace {

constexpr int kSerialInputLimit = 10;
// Catalogue messages of the two operations.
constexpr int32_t kMessageConfirmRead = 11;
constexpr int32_t kMessageConfirmWrite = 12;
constexpr int32_t kMessageWriteDone = 14;
// The box holds 10 characters when typed, but a program can put more into it
// with WM_SETTEXT. Reading up to one character more than the serial
// command's length byte can describe keeps such a text too long, so the core
// refuses it whole instead of writing a cut version.
constexpr int kSerialReadChars = 257;
constexpr int kClassExtraBytes = 30;  // DLGWINDOWEXTRA: the class serves a dialog template

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

void UpdateWriteButton(HWND window) {
  EnableWindow(GetDlgItem(window, IDC_WRITE_SERIAL), GetWindowTextLengthW(GetDlgItem(window, IDC_SERIAL_INPUT)) > 0);
}

void CentreOnScreen(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  UINT width = static_cast<UINT>(client.right), height = static_cast<UINT>(client.bottom + GetSystemMetrics(SM_CYCAPTION));
  UINT x = (static_cast<UINT>(GetSystemMetrics(SM_CXSCREEN)) - width) / 2;
  UINT y = (static_cast<UINT>(GetSystemMetrics(SM_CYSCREEN)) - height) / 2;
  MoveWindow(window, static_cast<int>(x), static_cast<int>(y), static_cast<int>(width), static_cast<int>(height), TRUE);
}

BOOL OnInitDialog(HWND window) {
  g_frame.busy = 1;
  SetWindowTextW(window, kTagsmithTitle);
  for (int i = 0; i < kTagsmithControlTextCount; ++i) {
    SetDlgItemTextW(window, kTagsmithControlTexts[i].controlId, kTagsmithControlTexts[i].text[Language()]);
  }
  SendDlgItemMessageW(window, IDC_INFO_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_INFORMATION)), 0);
  SetDlgItemTextW(window, IDC_VERSION, g_frame.versionText);
  SendDlgItemMessageW(window, IDC_SERIAL_INPUT, EM_LIMITTEXT, kSerialInputLimit, 0);
  UpdateWriteButton(window);
  RefreshUsbSelection();
  SelectSavedUsbPrinter();
  CentreOnScreen(window);
  return FALSE;
}

// The end of an operation: idle again, the focus back where the command found
// it, and an Exit that arrived meanwhile carried out now.
void FinishOperation(HWND window, HWND focus) {
  g_tagsmithWindow.operating = 0;
  EndBusy(window);
  SetDlgFocus(window, focus);
  if (g_tagsmithWindow.exitPending) PostMessageW(window, WM_COMMAND, IDC_EXIT, 0);
}

void OnGetSerial(HWND window) {
  HWND focus = GetFocus();
  RefreshUsbSelection();
  SetDlgItemTextW(window, IDC_SERIAL_READ, L"");
  if (ShowResultMessage(window, kMessageConfirmRead, nullptr) != IDOK) {
    SetDlgFocus(window, focus);
    return;
  }
  g_tagsmithWindow.operating = 1;
  BeginBusy(window);
  PumpMessages();
  int32_t result = ReadPrinterSerial();
  if (result != 0) {
    g_frame.busy = 1;
    ShowResultMessage(window, result, nullptr);
  } else {
    wchar_t shown[kSerialNumberChars + 1];
    _snwprintf(shown, kSerialNumberChars + 1, L" %ls", SerialNumberText);
    shown[kSerialNumberChars] = L'\0';
    SetDlgItemTextW(window, IDC_SERIAL_READ, shown);
  }
  FinishOperation(window, focus);
}

void OnWriteSerial(HWND window) {
  HWND focus = GetFocus();
  RefreshUsbSelection();
  wchar_t serial[kSerialReadChars] = {};
  GetDlgItemTextW(window, IDC_SERIAL_INPUT, serial, kSerialReadChars);
  if (ShowResultMessage(window, kMessageConfirmWrite, nullptr) != IDOK) {
    SetDlgFocus(window, focus);
    return;
  }
  g_tagsmithWindow.operating = 1;
  BeginBusy(window);
  PumpMessages();
  int32_t result = WritePrinterSerial(serial);
  g_frame.busy = 1;
  ShowResultMessage(window, result != 0 ? result : kMessageWriteDone, nullptr);
  FinishOperation(window, focus);
}

void OnExit(HWND window) {
  // An operation pumps messages while it waits; Romsmith's Exit may arrive
  // then. Destroying the window under the running operation would lose its
  // result and leave the port to it, so the Exit waits for the end.
  if (g_tagsmithWindow.operating) {
    g_tagsmithWindow.exitPending = 1;
    return;
  }
  PortReplace(REPLACE_OFF, nullptr);
  DestroyWindow(window);
}

void OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_GET_SERIAL:
      OnGetSerial(window);
      break;
    case IDC_WRITE_SERIAL:
      OnWriteSerial(window);
      break;
    case IDC_EXIT:
      OnExit(window);
      break;
    case IDC_SERIAL_INPUT:
      if (HIWORD(wParam) == EN_CHANGE && g_tagsmithWindow.ready) UpdateWriteButton(window);
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_COMMAND:
      OnCommand(window, wParam);
      return 0;
    case WM_CLOSE:
      SendMessageW(window, WM_COMMAND, IDC_EXIT, 0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SETCURSOR:
      if (HandleBusyCursor(window, lParam)) return TRUE;
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) RememberFocus(window);
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) RememberFocus(window);
      break;
    case WM_SETFOCUS:
      RestoreFocus(window);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool CreateMainWindow(int showCommand) {
  g_tagsmithWindow.ready = 0;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.cbWndExtra = kClassExtraBytes;
  windowClass.hInstance = g_program.instance;
  windowClass.hIcon = LoadIconW(g_program.instance, MAKEINTRESOURCEW(IDI_TAGSMITH));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kTagsmithTitle;
  if (RegisterClassW(&windowClass) == 0) return false;
  g_frame.mainThreadId = GetCurrentThreadId();
  InitCommonControls();

  HWND window = CreateDialogParamW(g_program.instance, MAKEINTRESOURCEW(IDD_TAGSMITH_MAIN), nullptr,
                                   reinterpret_cast<DLGPROC>(reinterpret_cast<void*>(MainWndProc)), 0);
  if (window == nullptr) return false;
  g_tagsmithWindow.window = window;
  g_program.mainWindow = window;
  g_tagsmithWindow.ready = 1;
  ShowWindow(window, showCommand);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  SetForegroundWindow(window);
  UpdateWindow(window);
  SetDlgFocus(window, GetDlgItem(window, IDC_SERIAL_INPUT));
  return true;
}

void HandOverToRomsmith() {
  // The class as well as the title: Romsmith's message boxes carry its title too.
  HWND romsmith = FindWindowW(kRomsmithClass, kRomsmithTitle);
  if (romsmith == nullptr) return;
  HWND popup = GetLastActivePopup(romsmith);
  SetForegroundWindow(popup);
  ShowWindow(popup, SW_RESTORE);
  PostMessageW(romsmith, WM_COMMAND, IDC_ROMSMITH_TAGSMITH_RETURN, 0);
}
