// Where the run reports and Tagsmith's serial-number record are kept, and
// writing them: "Reports" in the user's local application data, "Romsmith",
// which both programs may write to without administrator rights (the port
// journal is elsewhere while elevated). No junction or link there is
// followed. A report that cannot be written is logged and left: it never
// changes the outcome of the run it describes.
#pragma once

#include <string>

#include "run_report.h"

// The local time now, with the offset from UTC.
ReportTime ReportNow();

// The reports folder; empty when no application-data folder can be found.
std::wstring ReportFolder();

// UTF-16 of a Windows text (null gives empty).
std::u16string ReportText(const wchar_t* text);

// Writes "Write-<start time>.txt" (the settings' language) and ".json".
// The paths written are returned through `jsonPath` when not null (empty on
// failure). False when either file could not be written.
bool SaveRunReport(const RunReport& report, int languageIndex, std::wstring* jsonPath);

// Appends one entry to "SerialNumbers.jsonl" (one JSON object a line) and
// "SerialNumbers.txt". False when either could not be written.
bool AppendSerialRecord(const SerialRecord& record, int languageIndex);
