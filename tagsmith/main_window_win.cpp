#include "main_window.h"

#include <cwchar>
#include <string>

#include "program_frame.h"
#include "program_state.h"
#include "resource.h"
#include "result_message.h"
#include "send_printer.h"
#include "serial_operations.h"
#include "serial_record.h"
#include "settings_types.h"
#include "spooler.h"
#include "tagsmith_texts.h"
#include "tick_wait.h"

TagsmithWindowState g_tagsmithWindow = {};

namespace {

// Catalogue messages of the two operations.
enum OperationMessage : int32_t {
  kMessageNoPrinters = 2,
  kMessageConfirmRead = 11,
  kMessageConfirmWrite = 12,
  kMessageWriteDone = 14
};
constexpr int kSerialInputLimit = 10;
// The box holds 10 characters when typed, but a program can put more into it
// with WM_SETTEXT. Reading up to one character more than the serial
// command's length byte can describe keeps such a text too long, so the core
// refuses it whole instead of writing a cut version.
constexpr int kSerialReadChars = 257;

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
  const int language = g_settings.languageIndex == 0 ? 0 : 1;
  for (int i = 0; i < kTagsmithControlTextCount; ++i) {
    SetDlgItemTextW(window, kTagsmithControlTexts[i].controlId, kTagsmithControlTexts[i].text[language]);
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

// Asks the operation's confirmation; on OK the window turns busy. On
// anything else, or when there is no LAN printer to ask about, the focus goes
// back where the command found it.
bool ConfirmAndBegin(HWND window, int32_t confirmation, HWND focus) {
  if (SelectedPrinterMissing()) {
    ShowResultMessage(window, kMessageNoPrinters, nullptr);
    SetDlgFocus(window, focus);
    return false;
  }
  if (ShowResultMessage(window, confirmation, nullptr) != IDOK) {
    SetDlgFocus(window, focus);
    return false;
  }
  g_tagsmithWindow.operating = 1;
  BeginBusy(window);
  PumpMessages();
  return true;
}

void OnGetSerial(HWND window) {
  HWND focus = GetFocus();
  RefreshUsbSelection();
  SetDlgItemTextW(window, IDC_SERIAL_READ, L"");
  if (!ConfirmAndBegin(window, kMessageConfirmRead, focus)) return;
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
  g_frame.busy = 1;
  ShowPrintersLeftOnFile(window, false);
  FinishOperation(window, focus);
}

void OnWriteSerial(HWND window) {
  HWND focus = GetFocus();
  RefreshUsbSelection();
  wchar_t serial[kSerialReadChars] = {};
  GetDlgItemTextW(window, IDC_SERIAL_INPUT, serial, kSerialReadChars);
  if (!ConfirmAndBegin(window, kMessageConfirmWrite, focus)) return;
  SerialWriteFacts facts;
  int32_t result = WritePrinterSerial(serial, &facts);
  RecordSerialWrite(facts, serial, result);
  g_frame.busy = 1;
  ShowResultMessage(window, result != 0 ? result : kMessageWriteDone, nullptr);
  ShowPrintersLeftOnFile(window, false);
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

bool CreateMainWindow(int showCommand) {
  g_tagsmithWindow.ready = 0;
  HWND window = CreateMainDialog(kTagsmithTitle, MainWndProc, IDI_TAGSMITH, IDD_TAGSMITH_MAIN, 0);
  if (window == nullptr) return false;
  g_tagsmithWindow.window = window;
  g_tagsmithWindow.ready = 1;
  ShowMainWindow(window, showCommand);
  SetDlgFocus(window, GetDlgItem(window, IDC_SERIAL_INPUT));
  return true;
}

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
      g_program.mainWindow = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return FrameDefaultProc(window, message, wParam, lParam);
}

void HandOverToRomsmith() {
  HWND romsmith = BringWindowForward(kRomsmithTitle);
  if (romsmith != nullptr) PostMessageW(romsmith, WM_COMMAND, IDC_ROMSMITH_TAGSMITH_RETURN, 0);
}
