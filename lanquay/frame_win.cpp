// The library frame: entry point, Windows Sockets start and end, the
// registry settings, the error value and the hidden-window message loop.
#include <cstring>

#include "lq_context.h"

LqProcessState g_lq = {nullptr, 0, 0, 1};

namespace {

constexpr char kSettingsKey[] = "Software\\NWD_QUAYDLL";
constexpr int32_t kDefaultTimeStep = 4;
constexpr int32_t kDefaultRounds = 2;
constexpr uint32_t kDefaultOpenWaits = 1;

// One REG_DWORD-sized value; anything missing, longer than 4 bytes or
// unreadable counts as 0, which the caller replaces by its default.
uint32_t ReadSettingValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
  uint32_t value = 0;
  DWORD size = sizeof(value);
  DWORD type = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
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
  LqContext* record = LqLookup(handle);
  return record ? record->errorValue : 0;
}

/// Reads the time-outs again at every open, so a registry change applies to
/// the next handle while open handles keep what they received.
void LqReadSettings(LqContext* record, bool withOpenTimeout) {
  int32_t timeStep = static_cast<int32_t>(ReadSettingValue("TIME"));
  int32_t rounds = static_cast<int32_t>(ReadSettingValue("RETRY"));
  g_lq.timeStep = timeStep == 0 ? kDefaultTimeStep : timeStep;
  g_lq.rounds = rounds == 0 ? kDefaultRounds : rounds;
  if (!record) return;
  record->timeStep = g_lq.timeStep;
  record->rounds = g_lq.rounds;
  if (withOpenTimeout) {
    uint32_t waits = ReadSettingValue("OPEN_TIMEOUT");
    record->openWaits = waits == 0 ? kDefaultOpenWaits : waits;
  }
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

/// Creates the hidden window and runs the thread's messages until the
/// window's WM_DESTROY posts the quit message.
bool LqRunHiddenWindow(const char* className, DWORD extraStyle, void* createParam) {
  HWND window = CreateWindowExA(0, className, "", WS_OVERLAPPEDWINDOW | extraStyle, 0, 0, 320, 24, nullptr, nullptr,
                                g_lq.instance, createParam);
  if (!window) {
    // A window destroyed inside its own WM_CREATE has already posted the
    // quit message; left in the queue it would end the caller's own loop.
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return false;
  }
  ShowWindow(window, SW_HIDE);
  MSG msg;
  // GetMessage gives -1 on failure; that must end the wait too.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}
