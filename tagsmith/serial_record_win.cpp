// Tagsmith's serial-number record: one entry per write, appended to the
// record in the reports folder (run_report_files.h).
#include "serial_record.h"

#include "program_state.h"
#include "run_report_files.h"
#include "send_printer.h"
#include "serial_operations.h"
#include "settings_types.h"
#include "spooler.h"
#include "usb_discovery.h"

void RecordSerialWrite(const SerialWriteFacts& facts, const wchar_t* serialWritten, int32_t result) {
  SerialRecord record;
  record.time = ReportNow();
  ReportPrinter& p = record.printer;
  static const char* const kKinds[] = {"USB", "COM", "LPT", "LAN"};
  p.portKind = g_settings.portKind >= PORT_USB && g_settings.portKind <= PORT_LAN ? kKinds[g_settings.portKind] : "";
  PrinterConnection connection = {};
  FillConnection(kPurposeSpooler, &connection);
  p.port = ReportText(connection.portName);
  if (g_settings.portKind == PORT_USB && g_usbList.entries != nullptr && g_usbList.selectedIndex >= 0 &&
      g_usbList.selectedIndex < g_usbList.count) {
    p.port = ReportText(g_usbList.entries[g_usbList.selectedIndex].label);
    p.usbPort = ReportText(connection.portName);
  } else if (g_settings.portKind == PORT_LAN && g_settings.lanList != nullptr && g_settings.selectedLan >= 0 &&
             g_settings.selectedLan < kLanListMaxUsed) {
    const LanPrinterRecord& lan = g_settings.lanList[g_settings.selectedLan];
    p.ip = ReportText(lan.ipAddressW);
    p.mac = ReportText(lan.macAddressW);
    p.model = ReportText(lan.modelNameW);
  }
  record.beforeRead = facts.beforeRead;
  record.serialBefore = ReportText(facts.before.c_str());
  record.serialWritten = ReportText(serialWritten);
  record.readBackMatched = facts.readBackMatched;
  for (const std::wstring& name : PrintersLeftOnFile()) record.leftOnFile.push_back(ReportText(name.c_str()));
  record.code = result;
  // A serial number's audit trail is not lost without a word.
  const int language = g_settings.languageIndex == 0 ? 0 : 1;
  std::wstring notWritten;
  if (!AppendSerialRecord(record, language, ReportTries::kForAMoment, &notWritten)) {
    TellRecordNotWritten(g_program.mainWindow, notWritten, language);
  }
}
