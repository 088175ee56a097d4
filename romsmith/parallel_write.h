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

// After the POWER-lamp OK of such a run in Update mode: reads the version of
// every written printer, all at once, with the retries of the one-by-one
// reads; never changes the run's result.
void ReadVersionsSideBySide(HWND dialog);

// Reset Printer over the LAN list, every printer at once; one box names the
// printers that failed. Called with the main window busy.
void ResetSideBySide();
