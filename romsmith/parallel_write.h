// Start writing over a LAN list with [LAN_SEND] Parallel above 1: every
// printer written on its own connection, several at once.
#pragma once

// Runs the write of the confirmed firmware block (FirmwareData) to every
// printer of the LAN list and frees the block. Called with the main window
// busy and the run record begun; leaves the progress dialog at its closing
// messages, or closed after a run in which no printer was written.
void RunParallelWrite();
