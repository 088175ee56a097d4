// Exit codes of a run started with a firmware file on the command line, so
// that a caller can tell an unattended write from a failure. A run started
// without a command line ends with 0, except a hidden start (show command
// SW_HIDE), which is taken as unattended: with no file to check it shows
// message 20 and ends with kExitFileRejected.
#pragma once

constexpr int kExitWritten = 0;           // written, both closing messages confirmed
constexpr int kExitDeclined = 1;          // the confirmation was answered with Cancel
constexpr int kExitFileRejected = 2;      // wrong extension, missing, empty or unreadable file
constexpr int kExitWriteFailed = 3;       // a printer exchange failed (one by one: later printers were not written)
constexpr int kExitNoLanPrinters = 4;     // port kind LAN with an empty printer list
constexpr int kExitNotStarted = 5;        // another copy runs, or no network library / window
constexpr int kExitInterrupted = 6;       // closed before the run reached one of the ends above
constexpr int kExitWrittenPrinterLeftOnFile = 7;  // written, but a printer could not be put back from "FILE:"
