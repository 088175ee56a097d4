// Console demonstration of the core: sends one firmware data file to the
// printer on a COM port the way the firmware writer's last (or only) write
// does, and prints the result code.
//   fwsend_demo FILE [COMn]
// Logging follows the programs' rule: on when a "Log" folder exists beside
// the executable.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "printer_connection.h"
#include "result_codes.h"
#include "send_printer.h"
#include "settings_types.h"

namespace {

// The file's bytes in a zero-filled global block, as the programs hold the
// firmware data. Returns null on failure.
BYTE* ReadFirmware(const wchar_t* path, uint32_t* length) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open %ls (error %lu)\n", path, GetLastError());
    return nullptr;
  }
  LARGE_INTEGER size = {};
  BYTE* block = nullptr;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 0x7FFFFFFF) {
    block = static_cast<BYTE*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(size.QuadPart)));
    DWORD read = 0;
    if (block && (!ReadFile(file, block, static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
                  read != static_cast<DWORD>(size.QuadPart))) {
      GlobalFree(block);
      block = nullptr;
    }
  }
  CloseHandle(file);
  if (!block) fprintf(stderr, "cannot read %ls\n", path);
  *length = block ? static_cast<uint32_t>(size.QuadPart) : 0;
  return block;
}

void SetUpLogging() {
  wchar_t exe[kPathChars] = {};
  GetModuleFileNameW(nullptr, exe, kPathChars);
  wchar_t* slash = wcsrchr(exe, L'\\');
  if (slash) *slash = L'\0';
  wcsncpy(g_settings.programFolder, exe, kPathChars - 1);
  wchar_t logFolder[kPathChars + 8];
  _snwprintf(logFolder, kPathChars + 8, L"%ls\\Log", exe);
  logFolder[kPathChars + 7] = L'\0';
  DWORD attributes = GetFileAttributesW(logFolder);
  g_settings.logEnabled =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    fprintf(stderr, "usage: fwsend_demo FILE [COMn]\n");
    return 2;
  }
  const wchar_t* comName = argc > 2 ? argv[2] : L"COM5";

  SetUpLogging();
  g_settings.languageIndex = 1;
  g_settings.writingMethod = 0;  // "Rewrite All area": a .hex file
  g_settings.comFlowControl = 0;
  g_settings.portKind = PORT_COM;

  PrinterConnection connection = {};
  connection.portKind = PORT_COM;
  connection.handle = INVALID_HANDLE_VALUE;
  _snwprintf(connection.comPath, kComPathChars, L"\\\\.\\%ls", comName);
  connection.comPath[kComPathChars - 1] = L'\0';
  wcsncpy(connection.portName, comName, kPortNameChars - 1);

  CommandBuffer firmware = {};
  firmware.data = ReadFirmware(argv[1], &firmware.length);
  if (!firmware.data) {
    LocalFree(argv);
    return 2;
  }
  uint32_t length = firmware.length;
  printf("sending %ls (%lu bytes) to %ls\n", argv[1], static_cast<unsigned long>(length), comName);
  fflush(stdout);
  ULONGLONG start = GetTickCount64();
  int32_t result = SendPrinter(MODE_FWSEND_LAST, &connection, nullptr, &firmware);
  printf("result %ld after %llu ms%s\n", static_cast<long>(result),
         static_cast<unsigned long long>(GetTickCount64() - start), firmware.data ? "" : " (block freed)");
  LocalFree(argv);
  return result == PRT_SUCCESS ? 0 : 1;
}
