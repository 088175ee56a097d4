#include "spooler_pattern.h"

namespace {

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

bool IsNoPortSelected(const std::wstring& portName, const std::wstring& noneWord) {
  if (portName.empty()) return true;
  if (portName.size() != noneWord.size()) return false;
  for (size_t i = 0; i < portName.size(); ++i) {
    if (AsciiLower(portName[i]) != AsciiLower(noneWord[i])) return false;
  }
  return true;
}

std::wstring SpoolerPortPattern(const std::wstring& portName) {
  // A USB printer whose port number could not be read is listed as "USB";
  // as a pattern that would select every USB printer of the spooler.
  const std::wstring kUnknownUsbPort = L"USB";
  if (portName == kUnknownUsbPort) return L"";
  for (size_t i = 0; i + 2 < portName.size(); ++i) {
    if (portName[i] == L':' && AsciiLower(portName[i + 1]) == L'l' && AsciiLower(portName[i + 2]) == L'p') {
      return i == kUnknownUsbPort.size() && portName.compare(0, i, kUnknownUsbPort) == 0 ? L"" : portName.substr(0, i);
    }
  }
  if (portName.compare(0, 4, L"KMr_") == 0 || portName.compare(0, 4, L"KMl_") == 0) return portName.substr(4);
  return portName;
}

bool IsRemotePrinterName(const std::wstring& printerName) { return printerName.find(L"\\\\") != std::wstring::npos; }

bool SpoolerPrinterSelected(const std::wstring& pattern, const std::wstring& printerName,
                            const std::wstring& portList) {
  if (pattern.empty() || IsRemotePrinterName(printerName)) return false;
  // A digit next to the text means another port that merely shares it:
  // COM1 in "COM10:", 10.0.0.1 in "10.0.0.15" or "110.0.0.1". Switching
  // such a printer would send its receipts to a file.
  for (size_t at = portList.find(pattern); at != std::wstring::npos; at = portList.find(pattern, at + 1)) {
    const size_t end = at + pattern.size();
    if ((at == 0 || !IsAsciiDigit(portList[at - 1])) && (end == portList.size() || !IsAsciiDigit(portList[end]))) {
      return true;
    }
  }
  return false;
}
