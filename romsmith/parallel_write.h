// The LAN list served side by side when [LAN_SEND] Parallel is above 1:
// Start writing, the version reads around it in Update mode, and Reset
// Printer. Each printer is served by a worker of its own (lan_worker.h), at
// most Parallel at once.
#pragma once

#include <windows.h>

// Start writing: writes the confirmed firmware block (FirmwareData) to every
// printer of the LAN list and frees the block. Called with the main window
// busy and the run record begun; leaves the progress dialog at its closing
// messages, or closed after a run in which no printer was written.
void RunParallelWrite();

// The version reads of a LAN run in Update mode, however it writes, every
// printer at once (at most 64): before the first write, and after the
// POWER-lamp OK for every written printer with the retries of a one-by-one
// read, within 15 s a printer and 2 minutes for the list, a try in
// progress included. They never change a write's result.
void ReadVersionsBeforeWrites();
void ReadVersionsSideBySide(HWND dialog);

// Reset Printer over the LAN list, every printer at once; one box names the
// printers that failed. Called with the main window busy.
void ResetSideBySide();
