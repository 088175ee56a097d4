#include "serial_operations.h"

#include <cwchar>

#include "debug_log.h"
#include "net_binding.h"
#include "program_state.h"
#include "result_codes.h"
#include "send_printer.h"
#include "settings_types.h"
#include "spooler.h"
#include "tick_wait.h"
#include "usb_discovery.h"

namespace {

// The printer stores the new number before it answers again.
constexpr DWORD kReadBackDelayMs = 1000;

void SetPortName(PrinterConnection* connection, const wchar_t* name) {
  _snwprintf(connection->portName, kPortNameChars, L"%ls", name);
  connection->portName[kPortNameChars - 1] = L'\0';
}

void FillUsb(int purpose, PrinterConnection* connection) {
  int32_t index = g_usbList.selectedIndex;
  if (g_usbList.entries == nullptr || index < 0 || index >= g_usbList.count) {
    SetPortName(connection, L"");
    return;
  }
  const UsbPrinterEntry& entry = g_usbList.entries[index];
  SetPortName(connection, purpose == kPurposeSend ? entry.devicePath : entry.portName);
}

void FillCom(PrinterConnection* connection) {
  wchar_t name[kSettingTextChars];
  if (g_settings.comIndex == 4) {
    _snwprintf(name, kSettingTextChars, L"%ls", g_settings.extraComName);
  } else {
    _snwprintf(name, kSettingTextChars, L"COM%d", static_cast<int>(g_settings.comIndex) + 1);
  }
  name[kSettingTextChars - 1] = L'\0';
  SetPortName(connection, name);
  _snwprintf(connection->comPath, kComPathChars, L"\\\\.\\%ls", name);
  connection->comPath[kComPathChars - 1] = L'\0';
}

void FillLan(PrinterConnection* connection) {
  int32_t index = g_settings.selectedLan;
  if (g_settings.lanList == nullptr || index < 0 || index >= g_settings.lanCount) {
    SetPortName(connection, L"");
    return;
  }
  const LanPrinterRecord& record = g_settings.lanList[index];
  SetPortName(connection, record.ipAddressW);
  g_program.netSlot = LanSlotFor(record.librarySlot);
}

// One exchange bracketed by the spooler switch: the port is taken from the
// spooler's printers first and always given back. A give-back that failed
// does not change what the exchange did; the window names the printers left
// on "FILE:" after the result (ShowPrintersLeftOnFile).
template <typename Exchange>
int32_t WithPortTakenOver(Exchange exchange) {
  PrinterConnection connection = {};
  connection.handle = INVALID_HANDLE_VALUE;
  FillConnection(kPurposeSpooler, &connection);
  int32_t result = PortReplace(REPLACE_ON, &connection);
  if (result == 0) {
    FillConnection(kPurposeSend, &connection);
    result = exchange(&connection);
  }
  PortReplace(REPLACE_OFF, nullptr);
  return result;
}

int32_t ReadSerialOn(PrinterConnection* connection) {
  CommandBuffer command = {};
  return SendPrinter(MODE_READVARI, connection, nullptr, &command);
}

}  // namespace

void RefreshUsbSelection() {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  int32_t result = BuildUsbPrinterList();
  if (result != 0 || g_usbList.count == 1) g_usbList.selectedIndex = 0;
  if (g_usbList.selectedIndex < 0 || g_usbList.selectedIndex >= g_usbList.count) g_usbList.selectedIndex = 0;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void SelectSavedUsbPrinter() {
  g_usbList.selectedIndex = 0;
  for (int32_t i = 0; g_usbList.entries != nullptr && i < g_usbList.count; ++i) {
    if (std::wcscmp(g_usbList.entries[i].label, g_settings.portUsb) == 0) {
      g_usbList.selectedIndex = i;
      return;
    }
  }
}

int32_t LanSlotFor(int32_t namedSlot) {
  int32_t slot = namedSlot == kNetSlotSx ? kNetSlotSx : kNetSlotLanquay;
  int32_t other = slot == kNetSlotSx ? kNetSlotLanquay : kNetSlotSx;
  if (g_netLibraries[slot].module == nullptr && g_netLibraries[other].module != nullptr) return other;
  return slot;
}

void FillConnection(int purpose, PrinterConnection* connection) {
  connection->portKind = g_settings.portKind;
  connection->comPath[0] = L'\0';
  switch (g_settings.portKind) {
    case PORT_USB:
      FillUsb(purpose, connection);
      break;
    case PORT_COM:
      FillCom(connection);
      break;
    case PORT_LPT:
      _snwprintf(connection->portName, kPortNameChars, L"LPT%d", static_cast<int>(g_settings.lptIndex) + 1);
      break;
    default:
      FillLan(connection);
      break;
  }
}

bool SelectedPrinterMissing() {
  if (g_settings.portKind != PORT_LAN) return false;
  return g_settings.lanList == nullptr || g_settings.lanCount <= 0 || g_settings.savedLanListed == 0;
}

int32_t ReadPrinterSerial() { return WithPortTakenOver(ReadSerialOn); }

int32_t WritePrinterSerial(const wchar_t* serialText, SerialWriteFacts* facts) {
  *facts = SerialWriteFacts();
  return WithPortTakenOver([serialText, facts](PrinterConnection* connection) {
    // On a production line the last number read came from the previous
    // printer: the record's number before is read from this one.
    facts->beforeRead = ReadSerialOn(connection) == 0;
    if (facts->beforeRead) facts->before = SerialNumberText;
    CommandBuffer command = {};
    int32_t result = SendPrinter(MODE_SERIALNO_SET, connection, serialText, &command);
    if (result != 0) return result;
    TickWait(kReadBackDelayMs);
    // A read-back that fails leaves SerialNumberText as it was; its result
    // decides, so that an old matching number never passes for a write.
    result = ReadSerialOn(connection);
    if (result != 0) return result;
    if (CompareStringOrdinal(SerialNumberText, -1, serialText, -1, TRUE) != CSTR_EQUAL) {
      DebugLogF("WritePrinterSerial Err(PRT_ERR_VERIFY)");
      return static_cast<int32_t>(PRT_ERR_VERIFY);
    }
    facts->readBackMatched = true;
    return 0;
  });
}
