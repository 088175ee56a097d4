// The debug log "Log\_DEBUG.LOG" beside the program, written only while the
// "Log" folder exists at start (the settings' log switch).
#pragma once

// Appends one line "[hh:mm:ss:mmm] text"; never reports failure.
void WriteDebugLog(const char* text);

// printf-style convenience over WriteDebugLog; the line is formatted only when
// logging is on.
void DebugLogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The 17-character entry and exit markers of every core function.
constexpr const char kLogEnter[] = ">>>>>>>>>>>>>>>>>";
constexpr const char kLogLeave[] = "<<<<<<<<<<<<<<<<<";
