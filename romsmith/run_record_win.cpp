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
#include "send_printer.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"
#include "usb_discovery.h"

namespace {

struct RunRecord {
  bool open = false;
  RunReport report;
  DWORD printerStartTick = 0;
};
RunRecord g_record;

// The read after the write: a restarted printer may take a while to answer.
constexpr DWORD kVersionTriesMs = 15000;     // one printer
constexpr DWORD kVersionListMs = 120000;     // the whole list
constexpr DWORD kVersionRetryMs = 2000;
constexpr int kVersionTries = 4;

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
}

void RecordPrinterStart(int32_t index) {
  if (g_record.open && g_record.report.mode == 1 && index >= 0 &&
      index < static_cast<int32_t>(g_record.report.printers.size())) {
    ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
    p.beforeRead = ReadVersion(index, &p.versionBefore);
  }
  g_record.printerStartTick = GetTickCount();
  g_sentBytes = 0;
  (void)index;
}

void RecordPrinterEnd(int32_t index, int32_t result) {
  if (!g_record.open || index < 0 || index >= static_cast<int32_t>(g_record.report.printers.size())) return;
  ReportPrinter& p = g_record.report.printers[static_cast<size_t>(index)];
  p.result = result == 0 ? "written" : "failed";
  p.code = result;
  p.bytesSent = result == 0 ? p.bytesTotal : g_sentBytes;
  p.seconds = static_cast<double>(GetTickCount() - g_record.printerStartTick) / 1000.0;
  if (result != 0) {
    const wchar_t* text = CatalogueText(CatalogueOwner::kRomsmith, MessageNumberForCode(result), Language());
    p.message = FirstLine(ReportText(text));
  }
}

void RecordPrinterOutcome(int32_t index, int32_t result, uint32_t bytesSent, double seconds) {
  const uint32_t saved = g_sentBytes;
  g_sentBytes = bytesSent;
  RecordPrinterEnd(index, result);
  g_sentBytes = saved;
  if (g_record.open && index >= 0 && index < static_cast<int32_t>(g_record.report.printers.size())) {
    g_record.report.printers[static_cast<size_t>(index)].seconds = seconds;
  }
}

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

void ReadVersionsAfterWrite(HWND dialog) {
  if (!g_record.open || g_record.report.mode != 1) return;
  // An Exit meanwhile waits for the reads, as it waits for any exchange.
  g_mainWindow.operationRunning = 1;
  HWND ok = GetDlgItem(dialog, IDC_PROGRESS_OK);
  EnableWindow(ok, FALSE);
  SetDlgItemTextW(dialog, IDC_PROGRESS_CLOSING, kCheckingVersionText.In(Language()));
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  PumpMessages();
  const DWORD listStart = GetTickCount();
  std::u16string shown;
  for (size_t i = 0; i < g_record.report.printers.size(); ++i) {
    ReportPrinter& p = g_record.report.printers[i];
    if (p.result != "written") continue;
    const DWORD start = GetTickCount();
    for (int tries = 0; tries < kVersionTries && GetTickCount() - listStart < kVersionListMs; ++tries) {
      if (tries > 0) {
        if (GetTickCount() - start + kVersionRetryMs >= kVersionTriesMs) break;
        TickWait(kVersionRetryMs);
      }
      p.afterRead = ReadVersion(static_cast<int32_t>(i), &p.versionAfter);
      if (p.afterRead) break;
    }
    if (p.afterRead) shown = p.versionAfter;
  }
  if (!shown.empty()) {
    const std::wstring text = L" " + std::wstring(shown.begin(), shown.end());
    SetDlgItemTextW(g_program.mainWindow, IDC_VERSION_RESULT, text.c_str());
  }
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  EnableWindow(ok, TRUE);
  FinishOperation();
}

void CloseRunRecord(int exitCode) {
  if (!g_record.open) return;
  g_record.open = false;
  RunReport& r = g_record.report;
  r.ended = ReportNow();
  r.exitCode = exitCode;
  bool failed = false;
  for (const ReportPrinter& p : r.printers) failed = failed || p.result == "failed";
  r.outcome = failed ? "failed"
              : exitCode == kExitDeclined ? "declined"
              : exitCode == kExitWritten ? "written"
                                         : "interrupted";
  SaveRunReport(r, Language(), nullptr);
}
