#include "send_printer.h"

#include <cstring>

#include "debug_log.h"
#include "port_io.h"
#include "printer_command.h"
#include "result_codes.h"
#include "settings_types.h"

wchar_t FirmwareVersionText[kFirmwareVersionChars] = {};
wchar_t SerialNumberText[kSerialNumberChars] = {};

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kReplyDelayMs = 1000;
constexpr DWORD kAttemptDelayMs = 50;
constexpr uint32_t kDrainCapacity = 255;
constexpr size_t kDrainBufferBytes = 261;
constexpr int kSerialAnsiBytes = 261;

bool AwaitsReply(uint16_t kind) { return kind == MODE_RESET3 || kind == MODE_READFIX || kind == MODE_READVARI; }

// A zero-filled block from the global heap holding bytes, or null.
BYTE* NewBlock(const uint8_t* bytes, size_t length) {
  BYTE* block = static_cast<BYTE*>(GlobalAlloc(GPTR, length));
  if (block) std::memcpy(block, bytes, length);
  return block;
}

// Builds the command of kinds 17 to 21 into the caller's record. Returns 0,
// PRT_ERR_DATA for a serial text the length byte cannot describe, or
// PRT_ERR_MEMORY.
int32_t SetCommand(uint16_t kind, const wchar_t* serialText, CommandBuffer* buffer) {
  uint8_t command[kSerialCommandMaxBytes];
  size_t length = 0;
  if (kind == MODE_SERIALNO_SET) {
    char text[kSerialAnsiBytes] = {};
    int bytes = 0;
    if (serialText && serialText[0]) {
      // Ask for the full length first: a text that does not fit must be
      // refused, not cut.
      bytes = WideCharToMultiByte(CP_ACP, 0, serialText, -1, nullptr, 0, nullptr, nullptr) - 1;
      if (bytes < 0 || bytes > static_cast<int>(kSerialTextMaxBytes)) {
        DebugLogF("SendPrinter Err(PRT_ERR_DATA(serial text %d bytes))", bytes);
        return PRT_ERR_DATA;
      }
      WideCharToMultiByte(CP_ACP, 0, serialText, -1, text, kSerialAnsiBytes - 1, nullptr, nullptr);
    }
    length = BuildSerialCommand(text, static_cast<size_t>(bytes), command);
    if (length == 0) return PRT_ERR_DATA;
  } else {
    const uint8_t* fixed = FixedCommandBytes(kind, &length);
    std::memcpy(command, fixed, length);
  }
  BYTE* block = NewBlock(command, length);
  if (!block) {
    WriteDebugLog("SendPrinter Err(PRT_ERR_MEMORY)");
    return PRT_ERR_MEMORY;
  }
  // A block the caller left in the record is replaced: free it first.
  if (buffer->data) GlobalFree(buffer->data);
  buffer->data = block;
  buffer->length = static_cast<uint32_t>(length);
  return 0;
}

int32_t WaitReset3(const PrinterConnection* connection, BYTE* reply) {
  WriteDebugLog("CommandWait MODE_RESET3");
  uint32_t received = kReset3Capacity;
  int32_t result = PrinterReceiveData(MODE_RESET3, connection, reply, &received);
  if (result != 0) return result;
  if (IsReset3Reply(reply, received)) {
    WriteDebugLog("CommandWait Success");
    return 0;
  }
  WriteDebugLog("CommandWait Err(PRT_ERR_DATA)");
  return PRT_ERR_DATA;
}

// Returns the result and whether the attempts end here.
int32_t WaitReadFix(const PrinterConnection* connection, BYTE* reply, bool* final) {
  WriteDebugLog("CommandWait MODE_READFIX");
  uint32_t received = kReadFixCapacity;
  int32_t result = PrinterReceiveData(MODE_READFIX, connection, reply, &received);
  if (result != 0) return result;
  *final = true;
  if (!HasReadFixHeader(reply, received)) {
    WriteDebugLog("CommandWait Err(PRT_ERR_DATA)");
    return PRT_ERR_DATA;
  }
  char text[kFirmwareTextBytes] = {};
  if (ParseReadFixText(reply + 2, received - 2, text) != 0) {
    WriteDebugLog("CommandWait Err(PRT_ERR_FORMAT)");
    return PRT_ERR_FORMAT;
  }
  std::memset(FirmwareVersionText, 0, sizeof(FirmwareVersionText));
  MultiByteToWideChar(CP_ACP, 0, text, -1, FirmwareVersionText, kFirmwareVersionChars - 1);
  FirmwareVersionText[kFirmwareVersionChars - 1] = L'\0';
  WriteDebugLog("CommandWait Success");
  return 0;
}

int32_t WaitReadVari(const PrinterConnection* connection, BYTE* reply, bool* final) {
  WriteDebugLog("CommandWait MODE_READVARI");
  uint32_t received = kReadVariCapacity;
  int32_t result = PrinterReceiveData(MODE_READVARI, connection, reply, &received);
  if (result != 0) return result;
  if (!HasReadVariHeader(reply, received)) {
    WriteDebugLog("CommandWait Err(PRT_ERR_DATA)");
    return PRT_ERR_DATA;
  }
  *final = true;
  size_t start = 0;
  size_t length = ReadVariSerialSpan(reply, received, &start);
  // At most 49 characters and the terminator.
  wchar_t wide[kSerialNumberChars] = {};
  int chars = 0;
  if (length != 0) {
    int needed = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(reply + start),
                                     static_cast<int>(length), nullptr, 0);
    if (needed > 0) {
      wchar_t* all = static_cast<wchar_t*>(GlobalAlloc(GPTR, (static_cast<size_t>(needed) + 1) * sizeof(wchar_t)));
      if (all) {
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(reply + start), static_cast<int>(length), all,
                            needed);
        chars = needed < kSerialNumberChars - 2 ? needed : kSerialNumberChars - 2;
        std::memcpy(wide, all, static_cast<size_t>(chars) * sizeof(wchar_t));
        GlobalFree(all);
      }
    }
  }
  std::memset(SerialNumberText, 0, sizeof(SerialNumberText));
  std::memcpy(SerialNumberText, wide, static_cast<size_t>(chars) * sizeof(wchar_t));
  return 0;
}

}  // namespace

int32_t CommandWait(uint16_t kind, const PrinterConnection* connection) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("CommandWait Start");
  BYTE reply[kReplyBufferBytes] = {};
  int32_t result = 0;
  bool wrongReply = false;
  TickWait(kReplyDelayMs);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    TickWait(kAttemptDelayMs);
    bool final = false;
    if (kind == MODE_RESET3) {
      result = WaitReset3(connection, reply);
      final = result == 0;
    } else if (kind == MODE_READFIX) {
      result = WaitReadFix(connection, reply, &final);
    } else if (kind == MODE_READVARI) {
      result = WaitReadVari(connection, reply, &final);
    } else {
      result = 0;
    }
    if (final) break;
    if (result == PRT_ERR_DATA) wrongReply = true;
  }
  // A printer that answered wrongly and then fell silent reports the wrong
  // answer, not a missing one: the reply it gave is the better diagnosis.
  if (wrongReply && (result == PRT_ERR_NOREPLY || result == PRT_ERR_RECEIVE)) result = PRT_ERR_DATA;
  WriteDebugLog("CommandWait End");
  WriteDebugLog(kLogLeave);
  return result;
}

int32_t SendPrinter(uint16_t kind, PrinterConnection* connection, const wchar_t* serialText,
                    CommandBuffer* commandBuffer) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("SendPrinter Start");
  int32_t result = 0;
  connection->handle = PortOpen(connection);
  if (connection->handle == INVALID_HANDLE_VALUE) {
    WriteDebugLog("SendPrinter Err(PRT_ERR_PORT_OPEN)");
    result = PRT_ERR_OPEN;
  } else {
    switch (kind) {
      case MODE_RESET3:
      case MODE_READFIX:
      case MODE_READVARI:
      case MODE_VERSION_PRINT:
      case MODE_SERIALNO_SET:
        result = SetCommand(kind, serialText, commandBuffer);
        break;
      default:
        break;
    }
    if (result == 0) {
      switch (kind) {
        case MODE_RESET3:
          WriteDebugLog("SendPrinter (MODE_RESET3 Command Set)");
          break;
        case MODE_VERSION_PRINT:
          WriteDebugLog("SendPrinter (MODE_VERSION_PRINT Command Set)");
          WriteDebugLog("SendPrinter (Command Send)");
          break;
        case MODE_READFIX:
          WriteDebugLog("SendPrinter (MODE_READFIX Command Set)");
          break;
        case MODE_READVARI:
          WriteDebugLog("SendPrinter (MODE_READVARI Command Set)");
          break;
        case MODE_SERIALNO_SET:
          WriteDebugLog("SendPrinter (MODE_SERIALNO_SET Command Set");
          WriteDebugLog("SendPrinter (Command Send)");
          break;
        default:
          WriteDebugLog("SendPrinter (Command Send)");
          break;
      }
      if (AwaitsReply(kind)) {
        if (g_settings.portKind == PORT_LAN) {
          const BYTE zero = 0;
          PrinterSendData(kind, connection, &zero, 1);
        }
        WriteDebugLog("SendPrinter (MODE_BFCLEAR Command Receive)");
        BYTE scratch[kDrainBufferBytes] = {};
        uint32_t capacity = kDrainCapacity;
        PrinterReceiveData(MODE_BFCLEAR, connection, scratch, &capacity);
        WriteDebugLog("SendPrinter (Command Send)");
      }
      result = PrinterSendData(kind, connection, commandBuffer->data, commandBuffer->length);
      if (result == 0 && AwaitsReply(kind)) result = CommandWait(kind, connection);
    }
    // Without a reply, only the close tells whether the printer took what
    // was sent (a firmware block, the print command); a reply already told.
    int32_t closed = PortClose(connection->handle);
    if (result == 0 && (kind == MODE_FWSEND || kind == MODE_FWSEND_LAST || kind == MODE_VERSION_PRINT)) {
      result = closed;
    }
  }
  if (kind != MODE_FWSEND && commandBuffer->data) {
    GlobalFree(commandBuffer->data);
    commandBuffer->data = nullptr;
  }
  WriteDebugLog("SendPrinter End");
  WriteDebugLog(kLogLeave);
  return result;
}
