#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "debug_log.h"
#include "device_id.h"
#include "printable_text.h"
#include "printer_search.h"
#include "result_codes.h"
#include "tick_wait.h"

namespace {

constexpr int32_t kSearchEntries = 256;   // the array handed to SendSearch
constexpr int32_t kSearchCapacity = 255;  // entries the library may fill
constexpr int32_t kSearchSeconds = 5;

// Copies a library text field that may lack its terminator, cut to fit.
void CopyText(char* to, size_t toSize, const char* from, size_t fromSize) {
  size_t n = 0;
  while (n < fromSize && n + 1 < toSize && from[n] != '\0') ++n;
  std::memcpy(to, from, n);
  std::memset(to + n, 0, toSize - n);
}

// ANSI text to wide, at most maxChars characters and a terminator.
void WidenText(wchar_t* to, int maxChars, const char* from) {
  int n = MultiByteToWideChar(CP_ACP, 0, from, -1, to, maxChars + 1);
  if (n == 0) {
    // Longer than the field: convert what fits and terminate it ourselves.
    n = MultiByteToWideChar(CP_ACP, 0, from, static_cast<int>(strnlen(from, static_cast<size_t>(maxChars))), to,
                            maxChars);
    to[n > 0 ? n : 0] = L'\0';
  }
  to[maxChars] = L'\0';
}

void CollectPrinter(LanPrinterRecord* record, int32_t slot, const LqSearchEntry& entry, const char* model) {
  record->librarySlot = slot;
  CopyText(record->ipAddress, sizeof(record->ipAddress), entry.ipAddress, sizeof(entry.ipAddress));
  CopyText(record->macAddress, sizeof(record->macAddress), entry.macAddress, sizeof(entry.macAddress));
  CopyText(record->modelName, sizeof(record->modelName), model, kModelBufferBytes);
  // All three come from the network and go into the settings file and the
  // list: a line break in a model name would add lines to the file.
  for (char* text : {record->ipAddress, record->macAddress, record->modelName}) KeepPrintableAnsi(text);
  WidenText(record->ipAddressW, 31, record->ipAddress);
  WidenText(record->macAddressW, 31, record->macAddress);
  WidenText(record->modelNameW, 31, record->modelName);
  for (wchar_t* text : {record->ipAddressW, record->macAddressW, record->modelNameW}) KeepPrintable(text);
  WidenText(record->deviceIdW, 511, record->deviceId);
}

}  // namespace

int32_t GetDeviceID(const char* ipAddress, char* model, LanPrinterRecord* record, int32_t slot,
                    const NetLibraryBinding* bindings) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("GetDeviceID Start");
  const NetLibraryBinding& library = bindings[slot];

  LqHandle status = library.OpenStatus(ipAddress);
  if (status == -1) {
    WriteDebugLog("GetDeviceID(OpenStatus[LAN_STATUS_OPEN_ERROR])");
    return PRT_ERR_SEARCH;
  }

  // One byte more than the library may fill, so that the reply can always be
  // terminated after what arrived.
  char reply[kDeviceIdReplyBytes + 1] = {};
  uint32_t received = 0;
  int32_t result = PRT_SUCCESS;
  if (library.GetDeviceID(status, reply, static_cast<int32_t>(kDeviceIdReplyBytes), &received) == 0) {
    result = PRT_ERR_SEARCH;
    WriteDebugLog("GetDeviceID(GetDeviceID[LAN_DEVICEID_ERROR])");
  }
  if (library.CloseStatus(status) == 0) {
    WriteDebugLog("GetDeviceID(CloseStatus[LAN_STATUS_CLOSE_ERROR])");
    return PRT_ERR_SEARCH;
  }
  if (result != PRT_SUCCESS) return result;

  // The count comes from the library: never trust it beyond the buffer.
  size_t length = received < kDeviceIdReplyBytes ? received : kDeviceIdReplyBytes;
  reply[length] = '\0';
  DeviceIdReply parsed = ParseDeviceIdReply(DeviceIdFormOfSlot(slot), reply, length, record->deviceId,
                                            sizeof(record->deviceId), model, kModelBufferBytes);
  if (!parsed.modelFound) {
    WriteDebugLog("GetDeviceID(Model[LAN_MODEL_ERROR])");
    return PRT_ERR_SEARCH;
  }
  WriteDebugLog("GetDeviceID End");
  WriteDebugLog(kLogLeave);
  return PRT_SUCCESS;
}

int32_t SearchPrinter(int32_t mode, LanPrinterRecord* results, int32_t* found, const NetLibraryBinding* bindings) {
  (void)mode;  // "Online" and "PowerOn" search alike
  WriteDebugLog(kLogEnter);
  WriteDebugLog("SearchPrinter Start");
  int32_t result = PRT_SUCCESS;
  int32_t filled = 0;
  LqSearchEntry entries[kSearchEntries];  // 24576 bytes, zeroed before each search

  for (int32_t slot = 0; slot < kNetSlotCount; ++slot) {
    const NetLibraryBinding& library = bindings[slot];
    if (library.module == nullptr) continue;

    LqHandle search = library.OpenSearch();
    if (search == -1) {
      result = PRT_ERR_OPEN;
      WriteDebugLog("SearchPrinter(OpenSearch[PRT_ERR_OPEN])");
      continue;
    }

    std::memset(entries, 0, sizeof(entries));
    uint32_t count = 0;
    WriteDebugLog("SearchPrinter SendSearch");
    if (library.SendSearch(search, entries, kSearchCapacity, kSearchSeconds, 0, &count) == 0) {
      result = PRT_ERR_SEARCH;
      WriteDebugLog("SearchPrinter(SendSearch[PRT_ERR_SEARCH])");
      library.CloseSearch(search);
      continue;
    }
    DebugLogF(slot == kNetSlotSx ? "SXMODE dwSearchCnt = %ld" : "LQMODE dwSearchCnt = %ld", static_cast<long>(count));

    // A count beyond what was asked for is the library's fault: read no
    // further than the entries it was allowed to fill.
    uint32_t usable = count < static_cast<uint32_t>(kSearchCapacity) ? count : kSearchCapacity;
    for (uint32_t i = 0; i < usable && filled < kLanListRecords; ++i) {
      char ipAddress[sizeof(entries[i].ipAddress)];
      CopyText(ipAddress, sizeof(ipAddress), entries[i].ipAddress, sizeof(entries[i].ipAddress));
      char model[kModelBufferBytes] = {};
      result = GetDeviceID(ipAddress, model, &results[filled], slot, bindings);
      if (result == PRT_SUCCESS) {
        CollectPrinter(&results[filled], slot, entries[i], model);
        ++filled;
      }
      PumpMessages();  // keeps the progress window alive between entries
    }
    library.CloseSearch(search);
  }

  *found = filled;
  if (filled != 0) {
    result = PRT_SUCCESS;
  } else if (result == PRT_SUCCESS) {
    result = PRT_ERR_SEARCH;
    WriteDebugLog("SearchPrinter(NO SEARCH[PRT_ERR_SEARCH])");
  }
  WriteDebugLog("SearchPrinter End");
  WriteDebugLog(kLogLeave);
  return result;
}
