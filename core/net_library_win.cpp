#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "net_binding.h"
#include "net_library.h"
#include "program_state.h"
#include "result_message.h"
#include "settings_types.h"

namespace {

const wchar_t* const kLibraryFiles[kNetSlotCount] = {L"SxJcp32.dll", L"lanquay.dll"};
const char* const kLibraryPrefixes[kNetSlotCount] = {"Sx", "Lq"};

// The bound entry points, in the order in which they are resolved.
const char* const kEntryWords[] = {"Startup",     "Cleanup",     "OpenPort",   "ClosePort", "WritePort",
                                   "OpenStatus",  "CloseStatus", "GetDeviceID", "OpenSearch", "CloseSearch",
                                   "SendSearch",  "SetUseICMP",  "RecvPort"};
constexpr int kEntryCount = sizeof(kEntryWords) / sizeof(kEntryWords[0]);
static_assert(kEntryCount == 13, "thirteen entry points are bound");

// GetProcAddress hands out one generic pointer type; going through the
// generic function type keeps the compiler's cast check quiet.
template <typename Fn>
Fn CastEntry(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

void ReleaseSlot(NetLibraryBinding& slot) {
  if (slot.module != nullptr) FreeLibrary(slot.module);
  slot = NetLibraryBinding{};
}

// Resolves the names in order and stops at the first one that is missing.
bool BindSlot(NetLibraryBinding& slot, const char* prefix) {
  FARPROC procs[kEntryCount] = {};
  for (int i = 0; i < kEntryCount; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "%s%s", prefix, kEntryWords[i]);
    procs[i] = GetProcAddress(slot.module, name);
    if (procs[i] == nullptr) return false;
  }
  slot.Startup = CastEntry<LqStartupFn>(procs[0]);
  slot.Cleanup = CastEntry<LqCleanupFn>(procs[1]);
  slot.OpenPort = CastEntry<LqOpenPortFn>(procs[2]);
  slot.ClosePort = CastEntry<LqClosePortFn>(procs[3]);
  slot.WritePort = CastEntry<LqWritePortFn>(procs[4]);
  slot.OpenStatus = CastEntry<LqOpenStatusFn>(procs[5]);
  slot.CloseStatus = CastEntry<LqCloseStatusFn>(procs[6]);
  slot.GetDeviceID = CastEntry<LqGetDeviceIDFn>(procs[7]);
  slot.OpenSearch = CastEntry<LqOpenSearchFn>(procs[8]);
  slot.CloseSearch = CastEntry<LqCloseSearchFn>(procs[9]);
  slot.SendSearch = CastEntry<LqSendSearchFn>(procs[10]);
  slot.SetUseICMP = CastEntry<LqSetUseICMPFn>(procs[11]);
  slot.RecvPort = CastEntry<LqRecvPortFn>(procs[12]);
  return true;
}

bool AnySlotLoaded() {
  for (const NetLibraryBinding& slot : g_netLibraries) {
    if (slot.module != nullptr) return true;
  }
  return false;
}

void ReleaseAllSlots() {
  for (NetLibraryBinding& slot : g_netLibraries) ReleaseSlot(slot);
}

// Message 16, without owner: no network library can be used.
constexpr int32_t kMessageNoNetLibrary = 16;

}  // namespace

int BindNetLibraries() {
  int usable = 0;
  for (int i = 0; i < kNetSlotCount; ++i) {
    NetLibraryBinding& slot = g_netLibraries[i];
    if (slot.module == nullptr) continue;
    if (BindSlot(slot, kLibraryPrefixes[i])) {
      usable = 1;
    } else {
      ReleaseSlot(slot);
    }
  }
  return usable;
}

bool LoadNetLibraries() {
  for (int i = 0; i < kNetSlotCount; ++i) {
    NetLibraryBinding& slot = g_netLibraries[i];
    slot = NetLibraryBinding{};
    wchar_t path[kPathChars + 16];
    _snwprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\%ls", g_settings.programFolder, kLibraryFiles[i]);
    path[sizeof(path) / sizeof(path[0]) - 1] = L'\0';
    slot.module = LoadLibraryW(path);
  }

  if (AnySlotLoaded() && BindNetLibraries() == 1) {
    for (NetLibraryBinding& slot : g_netLibraries) {
      if (slot.module == nullptr) continue;
      if (slot.Startup(g_program.instance) == 0) {
        slot.Cleanup();
        ReleaseSlot(slot);
      }
    }
    if (AnySlotLoaded()) return true;
  }

  ShowResultMessage(nullptr, kMessageNoNetLibrary, L"");
  ReleaseAllSlots();
  return false;
}

void UnloadNetLibraries() {
  for (NetLibraryBinding& slot : g_netLibraries) {
    if (slot.module == nullptr) continue;
    if (slot.Cleanup != nullptr) slot.Cleanup();
    ReleaseSlot(slot);
  }
}
