// The library frame: entry point, Windows Sockets start and end, the
// registry settings, the error value and the hidden-window message loop.
#include <cstring>

#include "lq_context.h"

LqProcessState g_lq = {nullptr, 0, 0, 1};
LqSeams g_lqSeams = {SetTimer, connect, send, LqUnacknowledged};

namespace {

constexpr char kSettingsKey[] = "Software\\NWD_QUAYDLL";

// One REG_DWORD-sized value of the open settings key; anything missing,
// longer than 4 bytes or unreadable counts as 0, which the caller replaces
// by its default.
uint32_t ReadSettingValue(HKEY key, const char* name) {
  if (key == nullptr) return 0;
  uint32_t value = 0;
  DWORD size = sizeof(value);
  DWORD type = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (status != ERROR_SUCCESS || size > sizeof(value)) return 0;
  return value;
}

}  // namespace

// The loader's notifications need no work: sockets start in LqStartup.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

/// Starts Windows Sockets 1.1; any other negotiated version is refused.
extern "C" int WINAPI LqStartup(HINSTANCE instance) {
  g_lq.instance = instance;
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) == 0 && LOBYTE(data.wVersion) == 1 && HIBYTE(data.wVersion) == 1) return 1;
  WSACleanup();
  return 0;
}

/// Ends Windows Sockets; 1 when the platform reported no error.
extern "C" int WINAPI LqCleanup(void) { return WSACleanup() == 0 ? 1 : 0; }

/// The handle's error value; 0 for handle 0 and for any handle not open.
extern "C" int WINAPI LqGetError(LqHandle handle) {
  LqContext* record = LqAcquire(handle);
  if (!record) return 0;
  const int value = record->errorValue;
  LqRelease(record);
  return value;
}

/// Reads the time-outs again at every open, so a registry change applies to
/// the next handle while open handles keep what they received.
void LqReadSettings(LqContext* record, bool withOpenTimeout) {
  // The key is opened once for all three: each registry call is a round
  // trip, and dozens of ports may open at once.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) key = nullptr;
  const uint32_t time = ReadSettingValue(key, "TIME");
  const uint32_t retry = ReadSettingValue(key, "RETRY");
  const uint32_t openTimeout = withOpenTimeout ? ReadSettingValue(key, "OPEN_TIMEOUT") : 0;
  if (key != nullptr) RegCloseKey(key);
  const LqTimeouts timeouts = LqClampTimeouts(time, retry, openTimeout);
  g_lq.timeStep = timeouts.timeStep;
  g_lq.rounds = timeouts.rounds;
  if (!record) return;
  record->timeStep = timeouts.timeStep;
  record->rounds = timeouts.rounds;
  if (withOpenTimeout) record->openWaits = timeouts.openWaits;
}

/// Copies the host text; longer text than the field holds is refused rather
/// than cut, so a truncated name never reaches the wrong printer.
bool LqSetHost(LqContext* record, const char* host) {
  if (!record || !host) return false;
  size_t length = strnlen(host, sizeof(record->host));
  if (length >= sizeof(record->host)) return false;
  memcpy(record->host, host, length);
  record->host[length] = '\0';
  return true;
}

/// Creates the hidden window and runs the thread's messages until that
/// window is gone. The exchange windows post no quit message of their own: a
/// thread has a single quit flag, so a quit of the exchange's would overwrite
/// (or be mistaken for) the caller's. Any quit seen here is therefore the
/// caller's: it ends the exchange (its window destroyed, so nothing writes
/// after the call returns) and is posted again with its exit code for the
/// caller's own loop. Nested exchanges (a caller's window starting one while
/// another waits) each end only with their own window.
bool LqRunHiddenWindow(const char* className, DWORD extraStyle, void* createParam) {
  HWND window = CreateWindowExA(0, className, "", WS_OVERLAPPEDWINDOW | extraStyle, 0, 0, 320, 24, nullptr, nullptr,
                                g_lq.instance, createParam);
  // A window destroyed during its own creation may still be reported.
  if (!window || !IsWindow(window)) return false;
  ShowWindow(window, SW_HIDE);
  MSG msg;
  while (IsWindow(window)) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    // The caller's quit (0) or a failing queue (-1): end the exchange now.
    DestroyWindow(window);
    if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  return true;
}
