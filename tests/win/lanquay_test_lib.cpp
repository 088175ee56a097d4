#include "lanquay_test_lib.h"

#include <gtest/gtest.h>

#include "sim_client.h"

namespace {

template <typename Fn>
void Bind(HMODULE module, Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!*slot) ADD_FAILURE() << "export missing: " << name;
}

}  // namespace

LanquayLib& Lq() {
  static LanquayLib lib;
  if (lib.module) return lib;
  // The build copies the DLL next to the test program.
  lib.module = LoadLibraryA("lanquay.dll");
  if (!lib.module) {
    ADD_FAILURE() << "LoadLibrary(lanquay.dll) failed: " << GetLastError();
    return lib;
  }
  Bind(lib.module, &lib.startup, "LqStartup");
  Bind(lib.module, &lib.cleanup, "LqCleanup");
  Bind(lib.module, &lib.openPort, "LqOpenPort");
  Bind(lib.module, &lib.closePort, "LqClosePort");
  Bind(lib.module, &lib.writePort, "LqWritePort");
  Bind(lib.module, &lib.writePortAsync, "LqWritePort_Async");
  Bind(lib.module, &lib.readPort, "LqReadPort");
  Bind(lib.module, &lib.recvPort, "LqRecvPort");
  Bind(lib.module, &lib.openStatus, "LqOpenStatus");
  Bind(lib.module, &lib.closeStatus, "LqCloseStatus");
  Bind(lib.module, &lib.getDeviceId, "LqGetDeviceID");
  Bind(lib.module, &lib.getStatus, "LqGetStatus");
  Bind(lib.module, &lib.getError, "LqGetError");
  if (lib.startup && lib.startup(GetModuleHandleA(nullptr)) != 1) ADD_FAILURE() << "LqStartup did not return 1";
  return lib;
}

void SetLqSetting(const char* name, int64_t value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\NWD_QUAYDLL", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (value < 0) {
    RegDeleteValueA(key, name);
  } else {
    DWORD dword = static_cast<DWORD>(value);
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof(dword)),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

void SetLqSettingQword(const char* name, uint64_t value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\NWD_QUAYDLL", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::string QuickLanPrinter() {
  const std::string host = SimHost(2);
  if (SimCommand(host + " reset") != "OK") return "";
  SetLqSetting("TIME", 1);
  SetLqSetting("RETRY", 1);
  SetLqSetting("OPEN_TIMEOUT", -1);
  return host;
}
