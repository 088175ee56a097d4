// Tagsmith's serial-number record: one entry per write, appended to the
// record in the reports folder (run_report_files.h).
#include "serial_record.h"

#include "run_report_files.h"
#include "send_printer.h"
#include "serial_operations.h"
#include "settings_types.h"
#include "usb_discovery.h"

void RecordSerialWrite(const wchar_t* serialBefore, const wchar_t* serialWritten, int32_t result) {
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
  record.beforeRead = serialBefore != nullptr;
  record.serialBefore = ReportText(serialBefore);
  record.serialWritten = ReportText(serialWritten);
  record.readBackMatched = result == 0;
  record.code = result;
  AppendSerialRecord(record, g_settings.languageIndex == 0 ? 0 : 1);
}
