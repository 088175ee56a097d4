// The port journal on disk: PortReplace records each printer before it is
// moved to "FILE:" and clears it once the printer is back, so that a run
// killed in between is repaired by the next start of either program.
//
// The file is "PortJournal.txt" in "Romsmith" under %ProgramData% while the
// program runs elevated: that folder is made with rights for the
// administrators and SYSTEM to change it and for users to read it, and a
// journal there that the administrators do not own is not acted on. Not
// elevated, it is in the user's local application-data folder under
// "Romsmith", as earlier versions kept it; an elevated start takes such a
// journal over once. No file of either folder is reached through a
// junction or link. It is always replaced whole: a temporary file is written
// and flushed, then renamed over the old one, so that a crash leaves one or
// the other. Every read-modify-write of the file holds the named mutex
// "Romsmith_PortJournal", so that Romsmith and Tagsmith never lose each
// other's entries; and a named mutex per printer is held while this process
// has that printer on "FILE:", so that a program started meanwhile does not
// take it back.
#pragma once

#include <string>
#include <vector>

// Points the journal at another folder (tests); null or empty gives back the
// local application-data folder. With a test folder alone the journal is
// kept there whether elevated or not.
void SetSpoolerJournalFolder(const wchar_t* folder);
// Points the elevated journal at another folder in place of %ProgramData%
// (tests); null or empty gives it back.
void SetSpoolerJournalAdminFolder(const wchar_t* folder);

// The journal's full path; empty when no folder can be found.
std::wstring SpoolerJournalPath();

// The user's own folder of the programs (or the test folder): the reports'
// folder lies in it.
std::wstring SpoolerUserFolder();

// Records `printerName` with its port list before it is moved to "FILE:".
// False when the journal could not be written (the switch goes on: the
// exchange must not fail for want of a journal; the log says so).
bool JournalPrinterSwitching(const wchar_t* printerName, const wchar_t* portList);

// Clears the printer's entry once it is back on its port, or when its move
// to "FILE:" failed; the file goes when no entry is left.
void JournalPrinterBack(const wchar_t* printerName);

// Start-up repair through the current spooler calls: every printer in the
// journal whose port list is still exactly "FILE:" is put back on the port
// list recorded. A printer whose port list is something else was set up
// again by the operator since and is left alone (its entry goes); one that
// cannot be opened, read or changed stays in the journal for the next start.
// A printer that another running program has switched is left to it.
// Returns the names of the printers put back.
std::vector<std::wstring> RestoreJournalPrinters();
