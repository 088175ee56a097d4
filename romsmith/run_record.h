// The record of one Start writing run, kept while the run goes and saved as
// its report when the run ends, whatever the end (run_report_files.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "printer_connection.h"

// Starts the record once the firmware file is read: the file, the mode and
// one not-attempted entry per target printer in list order.
void BeginRunRecord(const wchar_t* path, const CommandBuffer& firmware);
// Printer `index` of the run is about to be written / has been written with
// `result` (0 or a result code). In Update mode the start reads the
// printer's version first (the printer runs during the write).
void RecordPrinterStart(int32_t index);
void RecordPrinterEnd(int32_t index, int32_t result);
// A printer of a run with several printers in flight ended: its own bytes
// and time, as the one-by-one figures of RecordPrinterEnd belong to one
// printer at a time.
void RecordPrinterOutcome(int32_t index, int32_t result, uint32_t bytesSent, double seconds);
// True while the open record reads versions around the writes (Update mode).
bool RecordReadsVersions();
// A version read of printer `index` made by the caller (several printers
// read at once), before or after its write; `read` false when it did not answer.
void RecordVersionRead(int32_t index, bool beforeWrite, bool read, const std::u16string& version);
// The printers of the open record that were written, in list order.
std::vector<int32_t> RecordWrittenPrinters();
// In Update mode, once the operator has confirmed the POWER lamp: reads the
// version of each written printer again, a few tries within a bounded time,
// with a line in the progress dialog meanwhile; the last version read shows
// where Get Version shows its result. Never changes the run's result.
void ReadVersionsAfterWrite(HWND dialog);
// Ends the record with the exit code the run ends with (exit_codes.h) and
// saves it; nothing happens when no record is open. A report that cannot be
// saved is logged only.
void CloseRunRecord(int exitCode);
