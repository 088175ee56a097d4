// The one routine through which every operator message of both programs is
// shown: a result code or a message number becomes a box in the language of
// the settings.
#pragma once

#include <windows.h>

#include <cstdint>

// Shows message `code` (a catalogue number 0..24, or a negative result code
// mapped to its message) with `owner` as the owner window (may be null).
// `text` is the caller's text or the argument of the message's %s; messages
// that need none ignore it. Returns the box's answer (IDOK 1, IDCANCEL 2),
// 2 when the message shows no box, or 0 when the box could not be shown.
int ShowResultMessage(HWND owner, int32_t code, const wchar_t* text);

// `observer` is called with the text of each box ShowResultMessage shows,
// just before it shows it (null: nobody). One observer at a time.
void SetShownMessageObserver(void (*observer)(const wchar_t* text));
// After the last exchange of an operation, whatever its result: when a
// give-back has left spooler printers on "FILE:", a box names them (the text
// after a firmware write that went out whole, or the plain one). Returns
// true when a box was shown; nothing is shown when every printer is back.
bool ShowPrintersLeftOnFile(HWND owner, bool firmwareSent);
