#include "progress_dialog.h"

#include "exit_codes.h"
#include "main_window.h"
#include "parallel_write.h"
#include "program_frame.h"
#include "program_state.h"
#include "resource.h"
#include "run_record.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"

ProgressState g_progress = {kProgressNone, 1, 0, 0};

namespace {

// Everything but the icon and the main message: hidden while searching.
const int kWritingControls[] = {IDC_PROGRESS_BYTES, IDC_PROGRESS_ZERO,      IDC_PROGRESS_HUNDRED,
                                IDC_PROGRESS_BAR,   IDC_PROGRESS_WAIT_LINE, IDC_PROGRESS_CLOSING,
                                IDC_PROGRESS_OK};

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

void ShowItem(HWND dialog, int id, bool shown) { ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE); }

void OnInitDialog(HWND dialog) {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  BeginBusy(g_program.mainWindow);
  g_progress.normalCursor = 0;
  SendDlgItemMessageW(dialog, IDC_INFO_ICON, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconW(g_program.instance, MAKEINTRESOURCEW(IDI_ROMSMITH))), 0);
  bool writing = g_progress.state == kProgressWriting;
  for (int id : kWritingControls) ShowItem(dialog, id, writing);
  if (writing) EnableWindow(GetDlgItem(dialog, IDC_PROGRESS_OK), FALSE);
  UpdateWindow(dialog);
}

void OnOk(HWND dialog) {
  if (g_progress.state == kProgressWriting) {
    // Wine hands a click to a disabled button too; OK means nothing until
    // the write has ended.
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_PROGRESS_OK))) return;
    // A LAN list is read side by side, however it was written.
    if (g_progress.writeSucceeded != 0 && g_settings.portKind == PORT_LAN) {
      ReadVersionsSideBySide(dialog);
    } else if (g_progress.writeSucceeded != 0) {
      ReadVersionsAfterWrite(dialog);
    }
    g_progress.state = kProgressClosing;
    SetDlgItemTextW(dialog, IDC_PROGRESS_CLOSING, kWritingDoneText.In(Language()));
    return;
  }
  bool confirmed = g_progress.state == kProgressClosing && g_progress.writeSucceeded != 0;
  // Judged now, after the run's last give-back: a printer that a later
  // exchange put back is no longer left on "FILE:". The closing messages of
  // a run where some printers failed still end it as failed.
  int written = g_progress.someFailed != 0          ? kExitWriteFailed
                : PrintersLeftOnFile().empty() ? kExitWritten
                                               : kExitWrittenPrinterLeftOnFile;
  g_progress.writeSucceeded = 0;
  g_progress.someFailed = 0;
  CloseRunRecord(confirmed ? written : g_mainWindow.exitCode);
  DestroyWindow(dialog);
  EndUnattendedRun(confirmed ? written : g_mainWindow.exitCode);
}

void OnDestroy() {
  // Closed before the closing messages were confirmed.
  CloseRunRecord(kExitInterrupted);
  HWND window = g_program.mainWindow;
  if (window != nullptr) EndBusy(window);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  g_program.progressDialog = nullptr;
  g_progress.state = kProgressNone;
  if (window != nullptr) {
    SetForegroundWindow(window);
    UpdateWindow(window);
    RestoreFocus(window);
  }
  g_progress.normalCursor = 1;
}

}  // namespace

HWND OpenProgressDialog(int32_t state) {
  g_progress.state = state;
  HWND dialog = CreateDialogParamW(g_program.instance, MAKEINTRESOURCEW(IDD_PROGRESS), g_program.mainWindow,
                                   ProgressDlgProc, 0);
  g_program.progressDialog = dialog;
  if (dialog == nullptr) g_progress.state = kProgressNone;
  return dialog;
}

void ShowPowerLampStep() {
  HWND dialog = g_program.progressDialog;
  if (dialog == nullptr) return;
  static const int kHidden[] = {IDC_PROGRESS_MESSAGE, IDC_PROGRESS_BYTES, IDC_PROGRESS_ZERO,
                                IDC_PROGRESS_HUNDRED, IDC_PROGRESS_BAR,   IDC_PROGRESS_WAIT_LINE};
  for (int id : kHidden) ShowItem(dialog, id, false);
  SetDlgItemTextW(dialog, IDC_PROGRESS_CLOSING, kPowerLampText.In(Language()));
  ShowItem(dialog, IDC_PROGRESS_CLOSING, true);
  HWND ok = GetDlgItem(dialog, IDC_PROGRESS_OK);
  EnableWindow(ok, TRUE);
  SetDlgFocus(dialog, ok);
  g_progress.normalCursor = 1;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      g_program.progressDialog = dialog;
      OnInitDialog(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_PROGRESS_OK) OnOk(dialog);
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return TRUE;
    case WM_SETCURSOR:
      if (g_progress.normalCursor != 0) return FALSE;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      if (HIWORD(lParam) == WM_LBUTTONDOWN) SetForegroundWindow(dialog);
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      return FALSE;
  }
}
