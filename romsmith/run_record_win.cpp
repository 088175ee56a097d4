#include "run_record.h"

#include <windows.h>

#include <string>

#include "control_ids.h"
#include "exit_codes.h"
#include "main_window.h"
#include "message_catalog.h"
#include "port_io.h"
#include "program_frame.h"
#include "program_state.h"
#include "run_report_files.h"
#include "resource.h"
#include "result_codes.h"
#include "result_message.h"
#include "send_printer.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"
#include "usb_discovery.h"

namespace {

struct RunRecord {
  bool open = false;
  bool confirmed = false;    // saved from the confirmation on
  RunReport report;
  DWORD printerStartTick = 0;
  int32_t running = -1;      // the printer being written; -1 between printers
  int32_t awaitingBox = -1;  // a failed printer whose message box is still to come
};
RunRecord g_record;
void (*g_inFlightUpdate)() = nullptr;

const TextPair kCheckingVersionText = {{L"プリンタのバージョンを確認しています...",
                                        L"Checking the firmware version of the printer..."}};

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

// One Get Version exchange with printer `index` of the run, bracketed by the
// spooler switch like every exchange. True and the version when it answered.
bool ReadVersion(int32_t index, std::u16string* version) {
  if (g_settings.portKind == PORT_LAN) SelectLanRow(index);
  PrinterConnection connection;
  FillConnection(kFillForSpooler, &connection);
  int32_t result = PortReplace(REPLACE_ON, &connection);
  if (result == 0) {
    FillConnection(kFillForSend, &connection);
    CommandBuffer buffer = {0, nullptr};
    result = SendPrinter(MODE_READFIX, &connection, nullptr, &buffer);
  }
  PortReplace(REPLACE_OFF, nullptr);
  if (result == 0) *version = ReportText(FirmwareVersionText);
  return result == 0;
}

std::u16string Window(int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(g_program.mainWindow, id, text, 512);
  return ReportText(text);
}

// "fe5a/0a01/(Serial No:X1)" gives "X1".
std::u16string UsbSerial(const std::u16string& label) {
  const std::u16string mark = u"Serial No:";
  size_t start = label.find(mark);
  if (start == std::u16string::npos) return u"";
  start += mark.size();
  return label.substr(start, label.find(u')', start) - start);
}

ReportPrinter PortEntry(int32_t lanIndex) {
  ReportPrinter p;
  static const char* const kKinds[] = {"USB", "COM", "LPT", "LAN"};
  p.portKind = g_settings.portKind >= PORT_USB && g_settings.portKind <= PORT_LAN ? kKinds[g_settings.portKind] : "";
  if (g_settings.portKind == PORT_LAN) {
    const LanPrinterRecord& record = g_settings.lanList[lanIndex];
    p.port = p.ip = ReportText(record.ipAddressW);
    p.mac = ReportText(record.macAddressW);
    p.model = ReportText(record.modelNameW);
    return p;
  }
  PrinterConnection connection;
  p.port = ReportText(FillConnection(kFillForConfirmation, &connection));
  if (g_settings.portKind == PORT_USB) {
    p.usbSerial = UsbSerial(p.port);
    if (g_usbList.entries != nullptr && g_usbList.selectedIndex >= 0 && g_usbList.selectedIndex < g_usbList.count) {
      p.usbPort = ReportText(g_usbList.entries[g_usbList.selectedIndex].portName);
    }
  }
  return p;
}

bool ValidPrinter(int32_t index) {
  return g_record.open && index >= 0 && index < static_cast<int32_t>(g_record.report.printers.size());
}

// The report says what the operator saw: the failure's box as it was shown.
void OnMessageShown(const wchar_t* text) {
  if (!ValidPrinter(g_record.awaitingBox)) return;
  g_record.report.printers[static_cast<size_t>(g_record.awaitingBox)].message = ReportText(text);
  g_record.awaitingBox = -1;
}

// The printer being written, as far as it has come.
void UpdateRunningPrinter() {
  if (!ValidPrinter(g_record.running)) return;
  ReportPrinter& p = g_record.report.printers[static_cast<size_t>(g_record.running)];
  p.bytesSent = g_sentBytes;
  p.seconds = static_cast<double>(GetTickCount() - g_record.printerStartTick) / 1000.0;
}

// A save before the end: should the process end now, this is what it did.
// Tried once; the next save is never far.
void SaveAsItStands() {
  if (!g_record.open || !g_record.confirmed) return;
  RunReport& r = g_record.report;
  UpdateRunningPrinter();
  if (g_inFlightUpdate != nullptr) g_inFlightUpdate();
  r.ended = ReportNow();
  r.outcome = "interrupted";
  r.exitCode = kExitInterrupted;
  SaveRunReport(r, Language(), ReportTries::kOnce, nullptr);
}

// Above the window the operator looks at; none while a window goes away.
HWND BoxOwner() {
  for (HWND window : {g_program.progressDialog, g_program.mainWindow}) {
    if (window != nullptr && IsWindowVisible(window) && IsWindowEnabled(window)) return window;
  }
  return nullptr;
}

}  // namespace

void BeginRunRecord(const wchar_t* path, const CommandBuffer& firmware) {
  RunReport& r = g_record.report;
  r = RunReport();
  r.program = u"Romsmith";
  const std::u16string version = ReportText(g_frame.versionText);
  r.version = version.rfind(u"Ver. ", 0) == 0 ? version.substr(5) : version;
  r.started = ReportNow();
  r.mode = g_settings.writingMethod == 1 ? 1 : 0;
  r.filePath = ReportText(path);
  r.fileSize = firmware.length;
  r.fileCrc = firmware.data != nullptr ? FileCrc32(firmware.data, firmware.length) : 0;
  std::u16string label = Window(IDC_FIRMWARE_HEADER);
  while (!label.empty() && label.front() == u' ') label.erase(0, 1);
  r.fileLabel = label;
  r.automatic = g_frame.interactive == 0;
  r.parallel = g_settings.portKind == PORT_LAN && g_settings.lanParallel > 1 ? g_settings.lanParallel : 1;
  const int32_t printers = g_settings.portKind == PORT_LAN ? g_settings.lanCount : 1;
  for (int32_t i = 0; i < printers; ++i) {
    ReportPrinter p = PortEntry(i);
    p.bytesTotal = firmware.length;
    p.versionsRead = r.mode == 1;
    r.printers.push_back(p);
  }
  g_record.open = true;
  g_record.confirmed = false;
  g_record.running = g_record.awaitingBox = -1;
  SetShownMessageObserver(OnMessageShown);
}

void RecordRunConfirmed() {
  g_record.confirmed = g_record.open;
  SaveAsItStands();
}

void RecordPrinterStart(int32_t index) {
  // A LAN list was read as a whole before its first write.
  if (ValidPrinter(index) && g_record.report.mode == 1 && g_settings.portKind != PORT_LAN) {
    ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
    p.beforeRead = ReadVersion(index, &p.versionBefore);
  }
  g_record.printerStartTick = GetTickCount();
  g_sentBytes = 0;
  if (!ValidPrinter(index)) return;
  g_record.report.printers[static_cast<size_t>(index)].result = "interrupted";
  g_record.running = index;
  SaveAsItStands();
}

namespace {

// The end of printer `index` in the record, without saving it.
void NotePrinterEnd(int32_t index, int32_t result) {
  ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
  p.result = result == 0 ? "written" : "failed";
  p.code = result;
  p.bytesSent = result == 0 ? p.bytesTotal : g_sentBytes;
  p.seconds = static_cast<double>(GetTickCount() - g_record.printerStartTick) / 1000.0;
  g_record.running = -1;
  if (result != 0) {
    // Until its box is shown (OnMessageShown), the catalogue's text of it.
    p.message = ReportText(CatalogueText(CatalogueOwner::kRomsmith, MessageNumberForCode(result), Language()));
    g_record.awaitingBox = index;
  }
}

}  // namespace

void RecordPrinterEnd(int32_t index, int32_t result) {
  if (!ValidPrinter(index)) return;
  NotePrinterEnd(index, result);
  SaveAsItStands();
}

void RecordPrinterOutcome(int32_t index, int32_t result, uint32_t bytesSent, double seconds) {
  if (!ValidPrinter(index)) return;
  const uint32_t saved = g_sentBytes;
  g_sentBytes = bytesSent;
  NotePrinterEnd(index, result);
  g_sentBytes = saved;
  g_record.report.printers[static_cast<size_t>(index)].seconds = seconds;
}

void RecordPrinterRunning(int32_t index, uint32_t bytesSent, double seconds) {
  if (!ValidPrinter(index)) return;
  ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
  p.result = "interrupted";
  p.bytesSent = bytesSent;
  p.seconds = seconds;
}

void SetInFlightUpdate(void (*update)()) { g_inFlightUpdate = update; }

bool RecordReadsVersions() { return g_record.open && g_record.report.mode == 1; }

void RecordVersionRead(int32_t index, bool beforeWrite, bool read, const std::u16string& version) {
  if (!g_record.open || index < 0 || index >= static_cast<int32_t>(g_record.report.printers.size())) return;
  ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
  (beforeWrite ? p.beforeRead : p.afterRead) = read;
  if (read) (beforeWrite ? p.versionBefore : p.versionAfter) = version;
}

std::vector<int32_t> RecordWrittenPrinters() {
  std::vector<int32_t> written;
  for (size_t i = 0; g_record.open && i < g_record.report.printers.size(); ++i) {
    if (g_record.report.printers[i].result == "written") written.push_back(static_cast<int32_t>(i));
  }
  return written;
}

void BeginVersionCheck(HWND dialog) {
  // An Exit meanwhile waits for the reads, as it waits for any exchange.
  g_mainWindow.operationRunning = 1;
  EnableWindow(GetDlgItem(dialog, IDC_PROGRESS_OK), FALSE);
  SetDlgItemTextW(dialog, IDC_PROGRESS_CLOSING, kCheckingVersionText.In(Language()));
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  PumpMessages();
}

void EndVersionCheck(HWND dialog) {
  // The label shows the printer left selected, as Get Version would: its
  // version read after the write, or nothing when it could not be read.
  const size_t selected = g_settings.portKind == PORT_LAN ? static_cast<size_t>(g_settings.selectedLan) : 0;
  std::wstring text;
  if (g_record.open && selected < g_record.report.printers.size() && g_record.report.printers[selected].afterRead) {
    const std::u16string& version = g_record.report.printers[selected].versionAfter;
    text = L" " + std::wstring(version.begin(), version.end());
  }
  SetDlgItemTextW(g_program.mainWindow, IDC_VERSION_RESULT, text.c_str());
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  // Each read gave the spooler's printers back once more: what is still on
  // "FILE:" is known only now.
  ShowPrintersLeftOnFile(dialog, true);
  EnableWindow(GetDlgItem(dialog, IDC_PROGRESS_OK), TRUE);
  FinishOperation();
}

void ReadVersionsAfterWrite(HWND dialog) {
  if (g_settings.writingMethod != 1) return;
  BeginVersionCheck(dialog);
  const ULONGLONG listEnd = GetTickCount64() + kVersionListMs;
  for (size_t i = 0; g_record.open && i < g_record.report.printers.size(); ++i) {
    ReportPrinter& p = g_record.report.printers[i];
    if (p.result != "written") continue;
    const ULONGLONG start = GetTickCount64();
    if (start >= listEnd) break;
    // Every wait of a try ends at the bound, so that a try in progress
    // cannot carry the check past it.
    const ULONGLONG end = start + kVersionTriesMs < listEnd ? start + kVersionTriesMs : listEnd;
    WaitDeadline bound(end);
    for (int tries = 0; tries < kVersionTries && !p.afterRead; ++tries) {
      if (tries > 0) TickWait(kVersionRetryMs);
      if (GetTickCount64() >= end) break;
      p.afterRead = ReadVersion(static_cast<int32_t>(i), &p.versionAfter);
    }
  }
  EndVersionCheck(dialog);
}

void SaveRunRecord() { SaveAsItStands(); }

void CloseRunRecord(int exitCode) {
  if (!g_record.open) return;
  UpdateRunningPrinter();
  g_record.open = false;
  SetShownMessageObserver(nullptr);
  RunReport& r = g_record.report;
  r.ended = ReportNow();
  r.exitCode = exitCode;
  bool failed = false;
  for (const ReportPrinter& p : r.printers) failed = failed || p.result == "failed";
  // A printer left on "FILE:" does not undo a write that went out whole.
  const bool written = exitCode == kExitWritten || exitCode == kExitWrittenPrinterLeftOnFile;
  r.outcome = failed ? "failed" : exitCode == kExitDeclined ? "declined" : written ? "written" : "interrupted";
  r.leftOnFile.clear();
  for (const std::wstring& name : PrintersLeftOnFile()) r.leftOnFile.push_back(ReportText(name.c_str()));
  std::wstring notWritten;
  if (!SaveRunReport(r, Language(), ReportTries::kForAMoment, &notWritten)) {
    TellRecordNotWritten(BoxOwner(), notWritten, Language());
  }
}
