// The record of one Start writing run, kept while the run goes and saved as
// its report from the confirmation on: as it stands when the run starts and
// at each printer's start and end, so that a run killed half-way leaves a
// report that says so, and once more when the run ends, whatever the end
// (run_report_files.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "printer_connection.h"

// Starts the record once the firmware file is read: the file, the mode and
// one not-attempted entry per target printer in list order.
void BeginRunRecord(const wchar_t* path, const CommandBuffer& firmware);
// The operator confirmed the run: the record is saved from now on, first
// with the outcome "interrupted" and every printer "not_attempted".
void RecordRunConfirmed();
// Printer `index` of the run is about to be written / has been written with
// `result` (0 or a result code); each saves the record as it stands, the
// printer being written as "interrupted". In Update mode the start reads the
// printer's version first (the printer runs during the write).
void RecordPrinterStart(int32_t index);
void RecordPrinterEnd(int32_t index, int32_t result);
// A printer of a run with several printers in flight is on its way /
// ended: its own bytes and time, as the one-by-one figures of
// RecordPrinterEnd belong to one printer at a time. Neither saves: dozens
// of printers end within a second, and each save is a flushed file, so
// the caller saves (SaveRunRecord) every so often and once at the end.
void RecordPrinterRunning(int32_t index, uint32_t bytesSent, double seconds);
void RecordPrinterOutcome(int32_t index, int32_t result, uint32_t bytesSent, double seconds);
// While printers are written side by side: called before every save so
// that the printers in flight stand in it as far as they have come, also
// when the session ends between two saves; null otherwise.
void SetInFlightUpdate(void (*update)());
// True while the open record reads versions around the writes (Update mode).
bool RecordReadsVersions();
// A version read of printer `index` made by the caller (several printers
// read at once), before or after its write; `read` false when it did not answer.
void RecordVersionRead(int32_t index, bool beforeWrite, bool read, const std::u16string& version);
// The printers of the open record that were written, in list order.
std::vector<int32_t> RecordWrittenPrinters();
// In Update mode, once the operator has confirmed the POWER lamp: reads the
// version of each written printer again, a few tries within 15 s per printer
// and 2 minutes in all (a try in progress included), with a line in the
// progress dialog meanwhile. Where Get Version shows its result, the version
// of the printer left selected shows, or nothing when it was not read; then
// the printers still left on "FILE:" are named. Never changes the run's
// result. Does nothing in Rewrite All mode.
void ReadVersionsAfterWrite(HWND dialog);
// The bounds of the version reads after an Update write: a restarted
// printer may take a while to answer.
constexpr int kVersionTries = 4;
constexpr DWORD kVersionRetryMs = 2000;
constexpr DWORD kVersionTriesMs = 15000;  // one printer
constexpr DWORD kVersionListMs = 120000;  // the whole list
// The frame of those reads, one by one or side by side. Begin: the progress
// dialog says what runs and takes no OK, and an Exit waits. End: the version
// label shows the version read after the write from the printer left
// selected (empty when it was not read), the printers still on "FILE:" are
// named, and the dialog takes its OK again.
void BeginVersionCheck(HWND dialog);
void EndVersionCheck(HWND dialog);
// Saves a confirmed record as it stands, with the bytes sent so far: the
// session is ending (log-off, shutdown) and the process may end without
// another word, or printers written side by side have moved on.
void SaveRunRecord();
// Ends the record with the exit code the run ends with (exit_codes.h) and
// saves it, with the spooler printers still on "FILE:" at this moment;
// nothing happens when no record is open. A report that cannot be saved
// after a moment's tries is told in a box; the run's result stays.
void CloseRunRecord(int exitCode);
