// The port list of the test spoolers (EnumPorts level 1): the usual local
// ports and any the test adds. A port journal names only ports from it.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

inline std::vector<std::wstring> FakeSpoolerPorts(const std::vector<std::wstring>& extra = {}) {
  std::vector<std::wstring> ports = {L"LPT1:", L"LPT2:", L"LPT3:", L"COM1:", L"COM2:", L"COM3:", L"COM4:",
                                     L"USB001", L"USB002", L"USB003", L"FILE:"};
  ports.insert(ports.end(), extra.begin(), extra.end());
  return ports;
}

// Records first, then the names, as the spooler lays them out.
inline BOOL LayOutFakePorts(const std::vector<std::wstring>& ports, BYTE* buffer, DWORD bytes, DWORD* needed,
                            DWORD* returned) {
  DWORD total = static_cast<DWORD>(ports.size() * sizeof(PORT_INFO_1W));
  for (const std::wstring& port : ports) total += static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t));
  *needed = total;
  *returned = 0;
  if (buffer == nullptr || bytes < total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* info = reinterpret_cast<PORT_INFO_1W*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(info + ports.size());
  for (const std::wstring& port : ports) {
    (info++)->pName = lstrcpyW(text, port.c_str());
    text += port.size() + 1;
  }
  *returned = static_cast<DWORD>(ports.size());
  return TRUE;
}

// The usual ports alone, as a test spooler's port list.
inline BOOL UsualFakePorts(BYTE* buffer, DWORD bytes, DWORD* needed, DWORD* returned) {
  return LayOutFakePorts(FakeSpoolerPorts(), buffer, bytes, needed, returned);
}
