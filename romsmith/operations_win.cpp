// The printer operations of the main window: Get Version, Print Version,
// Reset Printer and Start writing. Each brackets its exchanges with the
// spooler switch so that no driver talks to the printer meanwhile.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "firmware_file.h"
#include "lan_worker.h"
#include "main_window.h"
#include "message_catalog.h"
#include "parallel_write.h"
#include "port_journal.h"
#include "program_frame.h"
#include "program_state.h"
#include "progress_dialog.h"
#include "resource.h"
#include "result_codes.h"
#include "result_message.h"
#include "run_record.h"
#include "send_printer.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"

namespace {

constexpr int kMessageNoPrinters = 2;
constexpr int kMessageConfirmWrite = 6;
constexpr int kMessageConfirmReset = 8;
constexpr int kMessageConfirmPrint = 9;
constexpr int kMessageConfirmGetVersion = 10;
constexpr int kPathBoxChars = 2064;

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }
bool OnLan() { return g_settings.portKind == PORT_LAN; }

// One exchange with the printer the window names now: spooler entries on its
// port to "FILE:", the command, and the entries back whatever happened.
// Returns the exchange's result. A printer that could not be put back is no
// reason to call the exchange failed: it stays marked, the next give-back
// tries it again, and the operation names what is still on "FILE:" once its
// last give-back is done (ShowPrintersLeftOnFile).
int32_t ExchangeWithPrinter(uint16_t kind, const wchar_t* text, CommandBuffer* buffer) {
  PrinterConnection connection;
  FillConnection(kFillForSpooler, &connection);
  int32_t result = PortReplace(REPLACE_ON, &connection);
  if (kind == MODE_READFIX) SetDlgItemTextW(g_program.mainWindow, IDC_VERSION_RESULT, L"");
  if (result == 0) {
    FillConnection(kFillForSend, &connection);
    result = SendPrinter(kind, &connection, text, buffer);
  }
  PortReplace(REPLACE_OFF, nullptr);
  return result;
}

void FreeFirmwareBlock() {
  if (FirmwareData.data != nullptr) GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};
}

// Start writing on an empty LAN list would open a progress dialog that no
// printer ever completes: say so and end instead.
bool RefuseEmptyLanList() {
  if (!OnLan() || g_settings.lanCount > 0) return false;
  ShowResultMessage(g_program.mainWindow, kMessageNoPrinters, L"");
  return true;
}

void ShowPreparing(HWND dialog, int32_t printer) {
  const wchar_t* preparing = kPreparingText.In(Language());
  SetWindowTextW(dialog, kProgramTitle);
  if (OnLan()) {
    wchar_t text[256];
    _snwprintf(text, 256, kLanPreparingFormat.In(Language()), preparing, g_settings.lanList[printer].ipAddressW);
    text[255] = L'\0';
    SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, text);
  } else {
    SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, preparing);
  }
  SetDlgItemTextW(dialog, IDC_PROGRESS_BYTES, L"");
  SetDlgItemTextW(dialog, IDC_PROGRESS_WAIT_LINE, L"");
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_CLOSING), SW_HIDE);
  PumpMessages();
}

}  // namespace

std::wstring FillPlaces(const wchar_t* format, const wchar_t* const* arguments, int count) {
  std::wstring out;
  int used = 0;
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (p[0] == L'%' && p[1] == L's' && used < count) {
      out += arguments[used++];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

void OnPrinterCommand(int commandId) {
  int message = kMessageConfirmReset;
  uint16_t kind = MODE_RESET3;
  if (commandId == IDC_GET_VERSION) {
    message = kMessageConfirmGetVersion;
    kind = MODE_READFIX;
  } else if (commandId == IDC_PRINT_VERSION) {
    message = kMessageConfirmPrint;
    kind = MODE_VERSION_PRINT;
  }
  HWND window = g_program.mainWindow;
  HWND focus = GetFocus();
  g_mainWindow.operationRunning = 1;
  RefreshUsbPorts();
  if (OnLan() && g_settings.lanCount == 0) {
    ShowResultMessage(window, kMessageNoPrinters, L"");
    FinishOperation();
    return;
  }
  if (ShowResultMessage(window, message, L"") != IDOK) {
    FinishOperation();
    return;
  }
  BeginBusy(window);
  PumpMessages();
  if (OnLan() && kind == MODE_RESET3 && g_settings.lanParallel > 1) {
    ResetSideBySide();
    EndBusy(window);
    if (focus != nullptr && IsWindow(focus)) SetDlgFocus(window, focus);
    FinishOperation();
    return;
  }
  int32_t printers = OnLan() && kind == MODE_RESET3 ? g_settings.lanCount : 1;
  for (int32_t i = 0; i < printers; ++i) {
    if (OnLan()) {
      SelectLanRow(kind == MODE_RESET3 ? i : g_settings.selectedLan);
      PumpMessages();
    }
    CommandBuffer buffer = {0, nullptr};
    // A failed give-back does not stop a reset of the list: the later
    // printers are reset all the same, and their give-backs try again.
    int32_t result = ExchangeWithPrinter(kind, nullptr, &buffer);
    if (result != 0) {
      g_frame.busy = 1;
      ShowResultMessage(window, result, L"");
      break;
    }
    if (kind == MODE_READFIX) {
      wchar_t text[kFirmwareVersionChars + 2];
      _snwprintf(text, kFirmwareVersionChars + 2, L" %ls", FirmwareVersionText);
      text[kFirmwareVersionChars + 1] = L'\0';
      SetDlgItemTextW(window, IDC_VERSION_RESULT, text);
    }
  }
  g_frame.busy = 1;
  ShowPrintersLeftOnFile(window, false);
  EndBusy(window);
  if (focus != nullptr && IsWindow(focus)) SetDlgFocus(window, focus);
  FinishOperation();
}

void OnStartWriting() {
  HWND window = g_program.mainWindow;
  g_mainWindow.operationRunning = 1;
  wchar_t path[kPathBoxChars] = {};
  GetDlgItemTextW(window, IDC_FILE_NAME, path, kPathBoxChars);
  wchar_t expected[kExtensionChars];
  FreeFirmwareBlock();
  int32_t result = PrepareFirmware(path, expected, &FirmwareData);
  if (result != 0) {
    ShowResultMessage(window, result, path);
    FinishOperation();
    EndUnattendedRun(kExitFileRejected);
    return;
  }
  if (RefuseEmptyLanList()) {
    FreeFirmwareBlock();
    FinishOperation();
    EndUnattendedRun(kExitNoLanPrinters);
    return;
  }
  RefreshUsbPorts();
  PrinterConnection connection;
  FillConnection(kFillForConfirmation, &connection);
  int language = Language();
  wchar_t usbPort[kPortNameChars + 8];
  const wchar_t* port = connection.portName;
  if (g_settings.portKind == PORT_USB) {
    _snwprintf(usbPort, kPortNameChars + 8, L"(USB) %ls", connection.portName);
    usbPort[kPortNameChars + 7] = L'\0';
    port = usbPort;
  } else if (OnLan()) {
    port = kLanPortConfirm.In(language);
  }
  const wchar_t* places[] = {port, path, OnLan() ? kLanNotice.In(language) : L""};
  std::wstring text = FillPlaces(CatalogueText(CatalogueOwner::kRomsmith, kMessageConfirmWrite, language), places, 3);
  // The record names the printers as the rebuilt list and the answered
  // confirmation have them: a USB printer plugged or pulled before the
  // click must not put another printer's name on the report.
  if (OnLan() && g_settings.lanParallel > 1) {
    ReadyLanWorkers(static_cast<size_t>(g_settings.lanCount < g_settings.lanParallel ? g_settings.lanCount
                                                                                      : g_settings.lanParallel));
  }
  const bool confirmed = ShowResultMessage(window, kMessageConfirmWrite, text.c_str()) == IDOK;
  BeginRunRecord(path, FirmwareData);
  if (!confirmed) {
    EndLanWorkers();
    CloseRunRecord(kExitDeclined);
    FreeFirmwareBlock();
    FinishOperation();
    EndUnattendedRun(kExitDeclined);
    return;
  }
  RecordRunConfirmed();

  BeginBusy(window);
  // What Get Version showed before is not the version after this write.
  if (g_settings.writingMethod == 1) SetDlgItemTextW(window, IDC_VERSION_RESULT, L"");
  if (OnLan() && g_settings.lanParallel > 1) {
    RunParallelWrite();
    FinishOperation();
    return;
  }
  int32_t printers = OnLan() ? g_settings.lanCount : 1;
  g_progress.writeSucceeded = 0;
  HWND dialog = OpenProgressDialog(kProgressWriting);
  result = dialog != nullptr ? 0 : PRT_ERR_MEMORY;
  // Update mode reads every printer of a LAN list at once before the first
  // write, rather than each one before its own.
  if (OnLan() && dialog != nullptr) ReadVersionsBeforeWrites();
  for (int32_t i = 0; i < printers && dialog != nullptr; ++i) {
    if (OnLan()) {
      SelectLanRow(i);
      PumpMessages();
    }
    ShowPreparing(dialog, i);
    uint16_t kind = i == printers - 1 ? MODE_FWSEND_LAST : MODE_FWSEND;
    // A printer left on "FILE:" is tried again by the next give-back; the
    // run goes on, as the firmware reached this printer.
    RecordPrinterStart(i);
    result = ExchangeWithPrinter(kind, path, &FirmwareData);
    RecordPrinterEnd(i, result);
    if (result != 0) break;
  }
  // A run that stopped before its last printer still holds the block.
  FreeFirmwareBlock();

  if (result != 0) {
    g_mainWindow.exitCode = kExitWriteFailed;
    if (g_program.progressDialog != nullptr) {
      ShowResultMessage(g_program.progressDialog, result, L"");
      // An earlier printer of the list may be the one left on "FILE:".
      ShowPrintersLeftOnFile(g_program.progressDialog, false);
      g_progress.state = kProgressClosing;
      SendMessageW(g_program.progressDialog, WM_COMMAND, IDC_PROGRESS_OK, 0);
    } else {
      EndBusy(window);
      EndUnattendedRun(kExitWriteFailed);
    }
    CloseRunRecord(kExitWriteFailed);
  } else {
    g_progress.writeSucceeded = 1;
    // Update mode reads the versions after the POWER lamp, each read with a
    // give-back of its own: the printers left are named after those.
    if (g_program.progressDialog != nullptr && g_settings.writingMethod != 1) {
      ShowPrintersLeftOnFile(g_program.progressDialog, true);
    }
    ShowPowerLampStep();
  }
  if (g_mainWindow.exitRequested && g_program.progressDialog != nullptr) {
    // The printer work is over and its ports are given back: the closing
    // messages give way to the operator's Exit.
    DestroyWindow(g_program.progressDialog);
  }
  FinishOperation();
}
