// Records of the settings file: the printer model table, the LAN printer list
// and the program-wide selections. Platform-free so that the value rules can
// be tested natively.
#pragma once

#include <cstdint>

constexpr int kPathChars = 260;        // MAX_PATH
constexpr int kSettingTextChars = 261; // a loaded text: 260 characters and terminator
constexpr int kLanListRecords = 256;   // the list block; at most 255 are used
constexpr int kLanListMaxUsed = 255;

struct ModelRecord {
  wchar_t modelName[261];
  wchar_t usbIdText[23];        // "vvvv/pppp/" or "Disable"
  int32_t lptEnabled;           // 1 when the third field is "Enable"
  wchar_t updateExtension[258]; // without the dot, for example "hx*"
};

struct LanPrinterRecord {
  int32_t librarySlot;  // 0 SxJcp32.dll, 1 lanquay.dll
  char ipAddress[32];
  char macAddress[32];
  char modelName[32];
  char deviceId[512];   // "%04x " length, then the IEEE 1284 device ID text
  wchar_t ipAddressW[32];
  wchar_t macAddressW[32];
  wchar_t modelNameW[64];
  wchar_t deviceIdW[512];
};

// One instance per program: what LoadSettings leaves for the rest of the
// program, changed by the windows until SaveSettings writes it back.
struct Settings {
  wchar_t programFolder[kPathChars];  // without the trailing backslash
  wchar_t tagsmithPath[kPathChars];   // empty when Tagsmith.exe is missing
  int32_t tagsmithPresent;
  wchar_t settingsPath[kPathChars];

  int32_t logEnabled;       // 1 when the "Log" folder exists beside the program
  int32_t writingMethod;    // 0 "PowerOn", 1 "Online"
  int32_t languageIndex;    // 0 Japanese, 1 English
  int32_t portKind;         // PORT_USB .. PORT_LAN; 4 and 5 while the window switches ports
  int32_t comIndex;         // 0..3 for COM1..COM4, 4 for the extra COM name
  wchar_t extraComName[kSettingTextChars];
  int32_t lptIndex;         // 0..3 for LPT1..LPT4
  int32_t comFlowControl;   // 0 "DTR/DSR", 1 "XON/XOFF" (system [Ports] section)

  // Loaded texts of the single keys, defaults applied.
  wchar_t fileType[kSettingTextChars];
  wchar_t country[kSettingTextChars];
  wchar_t fileName[kSettingTextChars];
  wchar_t portConnected[kSettingTextChars];
  wchar_t portUsb[kSettingTextChars];
  wchar_t portCom[kSettingTextChars];
  wchar_t portLpt[kSettingTextChars];
  wchar_t portLan[kSettingTextChars];
  wchar_t printerConnected[kSettingTextChars];

  ModelRecord* models;      // model entries + 1 records from the global heap
  int32_t modelCount;
  int32_t selectedModel;

  LanPrinterRecord* lanList;  // kLanListRecords records from the global heap
  int32_t lanCount;
  int32_t lanCountAtLoad;   // "Port%03d" keys the file holds: at load, then after each save
  int32_t selectedLan;
  // 1 when the list holds the printer of the entry that "PortLAN" names;
  // 0 when that entry was dropped at load (no address) or is missing, and
  // selectedLan then only falls back to the first row.
  int32_t savedLanListed;

  int32_t usbSearchMode;    // 0 any, 1 vendor id, 2 vendor and product id
  int32_t startNotice;      // 1 show message 13 once the main window is up
  int32_t lanParallel;      // [LAN_SEND] Parallel: LAN printers written at once, 1..64 (1: one after another)
};

extern Settings g_settings;

// The word shown when nothing is selected, in the current language.
const wchar_t* NoneWord(int languageIndex);
