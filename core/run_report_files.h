// Where the run reports and Tagsmith's serial-number record are kept, and
// writing them: "Reports" in the user's local application data, "Romsmith",
// which both programs may write to without administrator rights (the port
// journal is elsewhere while elevated). No junction or link there is
// followed. A report that cannot be written is logged (and, at the end of a
// run, told): it never changes the outcome of the run it describes.
#pragma once

#include <windows.h>

#include <string>

#include "run_report.h"

// The local time now, with the offset from UTC.
ReportTime ReportNow();

// The reports folder; empty when no application-data folder can be found.
std::wstring ReportFolder();

// UTF-16 of a Windows text (null gives empty).
std::u16string ReportText(const wchar_t* text);

// How hard a file is tried: once (a report saved while the run goes on is
// saved again soon), or for about a second, for a file held open by another
// program for a moment (a spreadsheet, a virus check).
enum class ReportTries { kOnce, kForAMoment };

// Writes "Write-<start time>.txt" (the settings' language) and ".json",
// each under a temporary name first and then moved into place, so that a
// process killed meanwhile leaves the last whole file. The path of a file
// that could not be written goes to `notWritten` (when not null). False
// when either file could not be written.
bool SaveRunReport(const RunReport& report, int languageIndex, ReportTries tries, std::wstring* notWritten);

// Appends one entry to "SerialNumbers.jsonl" (one JSON object a line) and
// "SerialNumbers.txt", each starting on a fresh line even when the file's
// last line was cut short. As SaveRunReport otherwise.
bool AppendSerialRecord(const SerialRecord& record, int languageIndex, ReportTries tries, std::wstring* notWritten);

// Tells the operator in a box that `path` was not written (`owner` may be
// null). What the record describes is not changed by it.
void TellRecordNotWritten(HWND owner, const std::wstring& path, int languageIndex);
