// Loading and saving "Romsmith.ini", the settings file that both programs
// share in the program folder.
#pragma once

// Fills g_settings from the settings file beside the running executable,
// creating the file with the built-in defaults when it is missing. Shows
// message 5 (no owner) when the file lists more than 255 LAN printers.
void LoadSettings();

// LoadSettings with the program folder given instead of taken from the
// executable's path (no trailing backslash).
void LoadSettingsFrom(const wchar_t* programFolder);

// Romsmith only: writes the current selections and the LAN printer list back;
// does nothing before LoadSettings has named the file.
// When the main window exists, the file name and port names are taken from
// its boxes.
void SaveSettings();

// Frees the model table and the LAN printer list (whoever allocated the
// list) and clears their pointers; nobody frees them again.
void FreeSettings();
