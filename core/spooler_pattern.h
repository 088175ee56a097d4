// Platform-free rules of spooler port switching: which port text to look for
// and which spooler printers it selects.
#pragma once

#include <string>

// True when the selected port names no port at all: an empty text or the
// None word of the empty USB list entry (compared without regard to case).
bool IsNoPortSelected(const std::wstring& portName, const std::wstring& noneWord);

// The text searched for in the spooler's port lists. A port text with ":LP"
// (any case of L and P) is cut at that colon; otherwise a network port name
// "KMr_..." or "KMl_..." loses its four-character prefix. "USB" alone (a USB
// printer without a readable port number) gives no pattern: it selects none.
std::wstring SpoolerPortPattern(const std::wstring& portName);

// A printer name with "\\" in it is a connection to a printer shared by
// another computer; its port is not ours to switch.
bool IsRemotePrinterName(const std::wstring& printerName);

// True when the printer is to be switched: its port list contains the
// pattern (case-sensitive) with no digit right before or after it, so COM1
// selects "COM1:" and "COM2:,COM1:" but not "COM10:", and it is a local
// printer.
bool SpoolerPrinterSelected(const std::wstring& pattern, const std::wstring& printerName,
                            const std::wstring& portList);
