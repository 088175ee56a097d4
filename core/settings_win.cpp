#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "control_ids.h"
#include "debug_log.h"
#include "program_state.h"
#include "result_message.h"
#include "settings.h"
#include "settings_rules.h"

namespace {

constexpr wchar_t kSettingsFileName[] = L"Romsmith.ini";
constexpr wchar_t kTagsmithFileName[] = L"Tagsmith.exe";
constexpr wchar_t kMissing[] = L"\x01";  // profile default that marks an absent key
constexpr DWORD kSizeWhenUnreadable = 512;
// The listing buffer follows the file size; a settings file this large is
// not ours, and what does not fit is simply not read.
constexpr DWORD kMaxListingChars = 16u * 1024 * 1024;
constexpr int kMessageTooManyLan = 5;

// The byte-order mark and "[File]\r\n" in UTF-16LE: a file that starts like
// this is kept in UTF-16 by every later profile write, so Japanese survives.
constexpr BYTE kNewFileHeader[18] = {0xFF, 0xFE, 0x5B, 0x00, 0x46, 0x00, 0x69, 0x00, 0x6C,
                                     0x00, 0x65, 0x00, 0x5D, 0x00, 0x0D, 0x00, 0x0A, 0x00};

// Keys of the model entries in file order, for writing back the selection.
struct SettingsKeys {
  std::vector<std::wstring> modelKeys;
};
SettingsKeys g_settingsKeys;

template <size_t N>
void SetText(wchar_t (&field)[N], const wchar_t* text) {
  CopyToField(field, N, text);
}

// Wide to ANSI with the system code page, cut to the field without
// splitting a double-byte character.
void WideToAnsiField(const wchar_t* text, char* out, size_t outBytes) {
  if (out == nullptr || outBytes == 0) return;
  out[0] = '\0';
  int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  std::string ansi(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], needed, nullptr, nullptr);
  size_t keep = 0;
  for (size_t i = 0; i < ansi.size() && ansi[i] != '\0';) {
    size_t step = IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) && i + 1 < ansi.size() && ansi[i + 1] != '\0' ? 2 : 1;
    if (i + step > outBytes - 1) break;
    i += step;
    keep = i;
  }
  memcpy(out, ansi.data(), keep);
  out[keep] = '\0';
}

// Reads a key into `out` (kSettingTextChars); returns false when the key is
// absent.
bool ReadKey(const wchar_t* section, const wchar_t* key, wchar_t* out) {
  GetPrivateProfileStringW(section, key, kMissing, out, kSettingTextChars, g_settings.settingsPath);
  return !(out[0] == L'\x01' && out[1] == L'\0');
}

// False when the profile write failed (another program holds the file).
bool Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  return WritePrivateProfileStringW(section, key, value, g_settings.settingsPath) != FALSE;
}

// A LAN record field as stored: the reader takes runs of commas as one
// separator, so an empty field or a comma inside one would shift the fields
// after it (the MAC text would become the address). An empty field is stored
// as the None word and a comma as a blank.
std::wstring StoredLanField(const wchar_t* text, const wchar_t* none) {
  if (text[0] == L'\0') return none;
  std::wstring stored(text);
  std::replace(stored.begin(), stored.end(), L',', L' ');
  return stored;
}

// Opens the file for reading only to learn its size.
bool SettingsFileSize(DWORD* size) {
  HANDLE file = CreateFileW(g_settings.settingsPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *size = GetFileSize(file, nullptr);
  CloseHandle(file);
  if (*size == INVALID_FILE_SIZE) *size = kSizeWhenUnreadable;
  return true;
}

void CreateSettingsFile() {
  HANDLE file =
      CreateFileW(g_settings.settingsPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(file, kNewFileHeader, sizeof(kNewFileHeader), &written, nullptr);
    CloseHandle(file);
  } else {
    DebugLogF("LoadSettings Err(CreateFileW %lu)", static_cast<unsigned long>(GetLastError()));
  }
  // Attempted even when the file could not be created: a writable path may
  // still take them.
  for (const BuiltInKey& k : kBuiltInKeys) Write(k.section, k.key, k.creationValue);
  for (const BuiltInModel& m : kBuiltInModels) {
    wchar_t value[kSettingTextChars];
    _snwprintf(value, kSettingTextChars, L"%ls,%ls,%ls,%ls", m.model, m.usbIdText, m.lptFlag, m.updateExtension);
    value[kSettingTextChars - 1] = L'\0';
    Write(L"Printer", m.key, value);
  }
}

void ReadListing(DWORD fileSize, SettingsListing* listing) {
  DWORD chars = fileSize > kMaxListingChars ? kMaxListingChars : fileSize + 50;
  // Two spare NULs beyond what the profile call may fill keep the listing
  // terminated whatever it returns.
  std::vector<wchar_t> buffer;
  try {
    buffer.assign(static_cast<size_t>(chars) + 2, L'\0');
  } catch (...) {
    DebugLogF("LoadSettings Err(PRT_ERR_MEMORY)");
    return;
  }
  for (int s = 0; s < kSectionCount; ++s) {
    std::fill(buffer.begin(), buffer.end(), L'\0');
    DWORD got = GetPrivateProfileSectionW(kSectionNames[s], buffer.data(), chars, g_settings.settingsPath);
    if (got > chars) got = chars;
    CollectSectionListing(s, buffer.data(), static_cast<size_t>(got) + 1, listing);
  }
}

void AllocateTables(const SettingsListing& listing) {
  if (g_settings.models != nullptr) GlobalFree(g_settings.models);
  // The listing caps the rows; the size is checked all the same, since a
  // product that wraps would give a small block and rows written past it.
  size_t bytes = 0;
  const bool fits = CheckedTableBytes(listing.modelRows.size() + 1, sizeof(ModelRecord), &bytes);
  g_settings.models = fits ? static_cast<ModelRecord*>(GlobalAlloc(GPTR, bytes)) : nullptr;
  g_settings.modelCount = static_cast<int32_t>(listing.modelRows.size());
  if (g_settings.models == nullptr) {
    // The rest of the program needs one model; keep the preset alone.
    DebugLogF("LoadSettings Err(PRT_ERR_MEMORY)");
    g_settings.models = static_cast<ModelRecord*>(GlobalAlloc(GPTR, sizeof(ModelRecord)));
    g_settings.modelCount = 0;
  }
  if (g_settings.lanList == nullptr) {
    g_settings.lanList =
        static_cast<LanPrinterRecord*>(GlobalAlloc(GPTR, kLanListRecords * sizeof(LanPrinterRecord)));
  } else {
    ZeroMemory(g_settings.lanList, kLanListRecords * sizeof(LanPrinterRecord));
  }
}

void TablesFromListing(const SettingsListing& listing) {
  const wchar_t* none = NoneWord(g_settings.languageIndex);
  g_settingsKeys.modelKeys.clear();
  g_settings.selectedModel = SelectedModelIndex(listing);
  for (size_t k = 0; k < listing.modelRows.size(); ++k) {
    const SettingsRow& row = listing.rows[listing.modelRows[k]];
    g_settingsKeys.modelKeys.push_back(row.key);
    if (g_settings.modelCount > 0) ParseModelValue(row.value.c_str(), none, &g_settings.models[k]);
  }
  if (g_settings.lanList == nullptr) return;
  int record = 0;
  for (size_t n = 0; n < listing.lanRows.size() && record < kLanListRecords; ++n) {
    LanPrinterRecord& r = g_settings.lanList[record];
    ParseLanValue(listing.rows[listing.lanRows[n]].value.c_str(), none, WideToAnsiField, &r);
    if (!AsciiEqualNoCase(r.ipAddressW, none)) ++record;
  }
}

// A key whose value must be one of a fixed list (any case): a match sets the
// index and the loaded text; anything else leaves the defaults already set.
template <size_t N>
void ReadListKey(const wchar_t* section, const wchar_t* key, const wchar_t* const* list, int count, int32_t* index,
                 wchar_t (&loaded)[N]) {
  wchar_t text[kSettingTextChars];
  if (!ReadKey(section, key, text)) return;
  int found = LookupNoCase(text, list, count);
  if (found >= 0) {
    *index = found;
    SetText(loaded, text);
  }
}

void ReadSingleKeys() {
  wchar_t text[kSettingTextChars];

  static const wchar_t* const kMethods[] = {L"PowerOn", L"Online"};
  g_settings.writingMethod = 0;
  SetText(g_settings.fileType, kMethods[0]);
  ReadListKey(L"File", L"Type", kMethods, 2, &g_settings.writingMethod, g_settings.fileType);

  static const wchar_t* const kLanguages[] = {L"Japan", L"English"};
  g_settings.languageIndex = 1;
  SetText(g_settings.country, kLanguages[1]);
  ReadListKey(L"Language", L"Country", kLanguages, 2, &g_settings.languageIndex, g_settings.country);
  const wchar_t* none = NoneWord(g_settings.languageIndex);

  SetText(g_settings.fileName, L"");
  if (ReadKey(L"Send", L"Filename", text)) SetText(g_settings.fileName, text);

  static const wchar_t* const kKinds[] = {L"USB", L"COM", L"LPT", L"LAN"};
  g_settings.portKind = 0;
  SetText(g_settings.portConnected, none);
  ReadListKey(L"Port", L"Connected", kKinds, 4, &g_settings.portKind, g_settings.portConnected);

  SetText(g_settings.portUsb, none);
  if (ReadKey(L"Port", L"PortUSB", text) && text[0] != L'\0') SetText(g_settings.portUsb, text);

  g_settings.comIndex = 0;
  SetText(g_settings.portCom, L"COM1");
  SetText(g_settings.extraComName, L"");
  if (ReadKey(L"Port", L"PortCOM", text)) {
    int index = PortComIndex(text);
    if (index >= 0) {
      g_settings.comIndex = index;
      SetText(g_settings.portCom, text);
      if (index == 4) SetText(g_settings.extraComName, text);
    }
  }

  static const wchar_t* const kLpts[] = {L"LPT1", L"LPT2", L"LPT3", L"LPT4"};
  g_settings.lptIndex = 0;
  SetText(g_settings.portLpt, kLpts[0]);
  ReadListKey(L"Port", L"PortLPT", kLpts, 4, &g_settings.lptIndex, g_settings.portLpt);

  SetText(g_settings.portLan, L"Port001");
  if (ReadKey(L"Port", L"PortLAN", text) && IsValidPortLan(text)) SetText(g_settings.portLan, text);

  SetText(g_settings.printerConnected, L"Printer01");
  if (ReadKey(L"Printer", L"Connected", text) && IsValidPrinterConnected(text)) {
    SetText(g_settings.printerConnected, text);
  }
}

void ReadModelTable(size_t modelEntries) {
  const wchar_t* none = NoneWord(g_settings.languageIndex);
  const BuiltInModel& first = kBuiltInModels[0];
  ModelRecord& preset = g_settings.models[0];
  SetText(preset.modelName, first.model);
  SetText(preset.usbIdText, first.usbIdText);
  preset.lptEnabled = 1;
  SetText(preset.updateExtension, first.updateExtension);
  if (g_settings.modelCount == 0) return;
  wchar_t text[kSettingTextChars];
  for (size_t k = 0; k < modelEntries && k < static_cast<size_t>(kBuiltInModelCount); ++k) {
    if (ReadKey(L"Printer", kBuiltInModels[k].key, text) && text[0] != L'\0') {
      ParseModelValue(text, none, &g_settings.models[k]);
    }
  }
}

void ReadLanList(size_t lanEntries, bool moreEntries) {
  const wchar_t* none = NoneWord(g_settings.languageIndex);
  int32_t handled = 0;
  // The selection names a key; the entries before it that are dropped below
  // move every later one up, so its row is found while the keys are read.
  int32_t selected = -1;
  bool shown = false;
  wchar_t key[16];
  wchar_t text[kSettingTextChars];
  for (size_t n = 1; n <= lanEntries && g_settings.lanList != nullptr; ++n) {
    _snwprintf(key, 16, L"Port%03u", static_cast<unsigned>(n));
    key[15] = L'\0';
    if (!ReadKey(L"IPAddress", key, text) || text[0] == L'\0') continue;
    LanPrinterRecord record = {};
    ParseLanValue(text, none, WideToAnsiField, &record);
    // A hand-edited file may hold entries without an address, or one
    // printer twice: an entry without an address reaches no printer, and a
    // second one would write the same printer again while it flashes.
    if (record.ipAddressW[0] == L'\0' || AsciiEqualNoCase(record.ipAddressW, none)) continue;
    const bool named = AsciiEqualNoCase(key, g_settings.portLan);
    int32_t listed = -1;
    for (int32_t i = 0; i < handled && listed < 0; ++i) {
      if (wcscmp(g_settings.lanList[i].ipAddressW, record.ipAddressW) == 0) listed = i;
    }
    // A selected second copy stands for the same printer: its first row.
    if (listed >= 0) {
      if (named) selected = listed;
      continue;
    }
    if (handled >= kLanListMaxUsed) {
      ShowResultMessage(nullptr, kMessageTooManyLan, nullptr);
      shown = true;
      break;
    }
    if (named) selected = handled;
    g_settings.lanList[handled++] = record;
  }
  // Entries beyond the ones the list can take were not even read.
  if (moreEntries && !shown) {
    ShowResultMessage(nullptr, kMessageTooManyLan, nullptr);
  }
  g_settings.lanCount = handled;
  g_settings.lanCountAtLoad = static_cast<int32_t>(std::min<size_t>(lanEntries, kLanListMaxUsed));
  g_settings.savedLanListed = selected >= 0 ? 1 : 0;
  g_settings.selectedLan = selected >= 0 ? selected : 0;
}

}  // namespace

void LoadSettings() {
  wchar_t modulePath[1044] = {};
  GetModuleFileNameW(nullptr, modulePath, 1043);
  wchar_t drive[_MAX_DRIVE] = {}, dir[1044] = {}, name[1044] = {}, ext[1044] = {};
  _wsplitpath_s(modulePath, drive, _MAX_DRIVE, dir, 1044, name, 1044, ext, 1044);
  std::wstring folder = std::wstring(drive) + dir;
  if (!folder.empty()) folder.pop_back();  // the trailing backslash
  LoadSettingsFrom(folder.c_str());
}

void LoadSettingsFrom(const wchar_t* programFolder) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("LoadSettings Start");
  SetText(g_settings.programFolder, programFolder);

  if (g_program.kind == ProgramKind::Romsmith) {
    _snwprintf(g_settings.tagsmithPath, kPathChars, L"%ls\\%ls", g_settings.programFolder, kTagsmithFileName);
    g_settings.tagsmithPath[kPathChars - 1] = L'\0';
    g_settings.tagsmithPresent = PathFileExistsW(g_settings.tagsmithPath) ? 1 : 0;
    if (!g_settings.tagsmithPresent) g_settings.tagsmithPath[0] = L'\0';
  }

  _snwprintf(g_settings.settingsPath, kPathChars, L"%ls\\%ls", g_settings.programFolder, kSettingsFileName);
  g_settings.settingsPath[kPathChars - 1] = L'\0';

  DWORD fileSize = 0;
  if (!SettingsFileSize(&fileSize)) {
    const DWORD openError = GetLastError();
    WIN32_FILE_ATTRIBUTE_DATA entry;
    if (GetFileAttributesExW(g_settings.settingsPath, GetFileExInfoStandard, &entry)) {
      // The file exists but another program holds it (a save of the other
      // program, an editor, a backup tool): writing the defaults would lose
      // the operator's model table and selections. Its directory entry still
      // gives the size, and the profile reads below take what they can.
      WriteDebugLog("LoadSettings Err(CreateFileW)");
      DebugLogF("%lu", static_cast<unsigned long>(openError));
      fileSize = entry.nFileSizeHigh != 0 ? kMaxListingChars : entry.nFileSizeLow;
    } else {
      CreateSettingsFile();
      if (!SettingsFileSize(&fileSize)) fileSize = kSizeWhenUnreadable;
    }
  }

  SettingsListing listing;
  ReadListing(fileSize, &listing);
  g_settings.languageIndex = listing.languageIndex;
  AllocateTables(listing);
  TablesFromListing(listing);

  ReadSingleKeys();
  if (g_settings.models != nullptr) ReadModelTable(listing.modelRows.size());
  ReadLanList(listing.lanRows.size(), listing.moreLanEntries);

  wchar_t text[kSettingTextChars];
  g_settings.usbSearchMode = 1;
  if (ReadKey(L"USB_SEARCH", L"Mode", text)) {
    if (AsciiEqualNoCase(text, L"ALL")) g_settings.usbSearchMode = 0;
    if (AsciiEqualNoCase(text, L"VID/PID")) g_settings.usbSearchMode = 2;
  }
  g_settings.startNotice = 1;
  if (ReadKey(L"INIT_MSG", L"Mode", text) && AsciiEqualNoCase(text, L"OFF")) g_settings.startNotice = 0;
  // Read only: the program never writes the key, so a dealer sets it by hand.
  g_settings.lanParallel = LanParallelValue(ReadKey(L"LAN_SEND", L"Parallel", text) ? text : nullptr);

  WriteDebugLog("LoadSettings End");
  WriteDebugLog(kLogLeave);
}

namespace {

// The text of a box of the main window when it exists, else the loaded one.
void CurrentText(int controlId, const wchar_t* loaded, wchar_t* out) {
  HWND control = g_program.mainWindow != nullptr ? GetDlgItem(g_program.mainWindow, controlId) : nullptr;
  if (control != nullptr) {
    GetWindowTextW(control, out, kSettingTextChars);
  } else {
    CopyToField(out, kSettingTextChars, loaded);
  }
}

}  // namespace

void SaveSettings() {
  // Without a loaded path the profile calls would fall back to the system's
  // own profile file.
  if (g_settings.settingsPath[0] == L'\0') return;
  WriteDebugLog(kLogEnter);
  WriteDebugLog("SaveSettings Start");
  static const wchar_t* const kMethods[] = {L"PowerOn", L"Online"};
  static const wchar_t* const kKinds[] = {L"USB", L"COM", L"LPT", L"LAN"};
  const wchar_t* none = NoneWord(g_settings.languageIndex);
  wchar_t text[kSettingTextChars];

  bool saved = Write(L"File", L"Type", kMethods[g_settings.writingMethod == 1 ? 1 : 0]);
  CurrentText(IDC_FILE_NAME, g_settings.fileName, text);
  saved &= Write(L"Send", L"Filename", text);
  int kind = g_settings.portKind;
  saved &= Write(L"Port", L"Connected", kind >= 0 && kind < 4 ? kKinds[kind] : g_settings.portConnected);
  CurrentText(IDC_USB_PORT, g_settings.portUsb, text);
  saved &= Write(L"Port", L"PortUSB", text);
  CurrentText(IDC_COM_PORT, g_settings.portCom, text);
  saved &= Write(L"Port", L"PortCOM", text);
  CurrentText(IDC_LPT_PORT, g_settings.portLpt, text);
  saved &= Write(L"Port", L"PortLPT", text);

  size_t model = static_cast<size_t>(g_settings.selectedModel);
  saved &= Write(L"Printer", L"Connected",
                 g_settings.selectedModel >= 0 && model < g_settingsKeys.modelKeys.size()
                     ? g_settingsKeys.modelKeys[model].c_str()
                     : g_settings.printerConnected);

  wchar_t key[16];
  int32_t count = g_settings.lanList != nullptr ? g_settings.lanCount : 0;
  if (count > kLanListMaxUsed) count = kLanListMaxUsed;
  for (int32_t n = 1; n <= count; ++n) {
    const LanPrinterRecord& r = g_settings.lanList[n - 1];
    _snwprintf(key, 16, L"Port%03d", static_cast<int>(n));
    key[15] = L'\0';
    const std::wstring modelText = StoredLanField(r.modelNameW, none);
    const std::wstring address = StoredLanField(r.ipAddressW, none);
    _snwprintf(text, kSettingTextChars, L"%ld,%ls,%ls,%ls", static_cast<long>(r.librarySlot), modelText.c_str(),
               address.c_str(), r.macAddressW);
    text[kSettingTextChars - 1] = L'\0';
    saved &= Write(L"IPAddress", key, text);
  }
  for (int32_t n = count + 1; n <= g_settings.lanCountAtLoad; ++n) {
    _snwprintf(key, 16, L"Port%03d", static_cast<int>(n));
    key[15] = L'\0';
    saved &= Write(L"IPAddress", key, nullptr);
  }

  // The selection after the entries: a save that stops part way must not
  // leave it naming a key of the new list while the file holds the old one.
  if (g_settings.lanCount > 0) {
    _snwprintf(text, kSettingTextChars, L"Port%03d", static_cast<int>(g_settings.selectedLan + 1));
    text[kSettingTextChars - 1] = L'\0';
    saved &= Write(L"Port", L"PortLAN", text);
  } else {
    saved &= Write(L"Port", L"PortLAN", none);
  }

  // After a whole save the file holds keys 1 to count, and a later save after
  // more deletions must remove those too. A save that failed may have left
  // any key up to the larger count, so that one is kept for the next save.
  if (saved) {
    g_settings.lanCountAtLoad = count;
  } else {
    if (count > g_settings.lanCountAtLoad) g_settings.lanCountAtLoad = count;
    WriteDebugLog("SaveSettings Err(WritePrivateProfileStringW)");
  }
  WriteDebugLog("SaveSettings End");
  WriteDebugLog(kLogLeave);
}

void FreeSettings() {
  if (g_settings.models != nullptr) GlobalFree(g_settings.models);
  if (g_settings.lanList != nullptr) GlobalFree(g_settings.lanList);
  g_settings.models = nullptr;
  g_settings.lanList = nullptr;
  g_settings.modelCount = 0;
  g_settings.lanCount = 0;
  g_settings.lanCountAtLoad = 0;
  g_settingsKeys.modelKeys.clear();
}
