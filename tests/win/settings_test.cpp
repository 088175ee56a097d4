#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_types.h"
#include "tests/win/message_box_driver.h"

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::string out;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

void WriteBytes(const std::wstring& path, const void* data, size_t size) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  fwrite(data, 1, size, f);
  fclose(f);
}

// A settings file as a person would write it: UTF-16LE with its mark, CR LF.
void WriteUtf16(const std::wstring& path, const std::wstring& text) {
  std::wstring content = L"\xFEFF";
  for (wchar_t c : text) {
    if (c == L'\n') content += L'\r';
    content += c;
  }
  WriteBytes(path, content.data(), content.size() * sizeof(wchar_t));
}

std::string Utf16Bytes(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::wstring Ini(const wchar_t* section, const wchar_t* key) {
  wchar_t buf[512];
  GetPrivateProfileStringW(section, key, L"<absent>", buf, 512, g_settings.settingsPath);
  return buf;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kit_settings_test";
    CreateDirectoryW(folder_.c_str(), nullptr);
    ini_ = folder_ + L"\\Romsmith.ini";
    DeleteFileW(ini_.c_str());
    DeleteFileW((folder_ + L"\\Tagsmith.exe").c_str());
    g_program.kind = ProgramKind::Romsmith;
    g_program.mainWindow = nullptr;
  }
  void TearDown() override {
    FreeSettings();
    DeleteFileW(ini_.c_str());
    DeleteFileW((folder_ + L"\\Tagsmith.exe").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  void Load() { LoadSettingsFrom(folder_.c_str()); }
  std::wstring folder_;
  std::wstring ini_;
};

void ExpectDefaults(const wchar_t* fileName) {
  EXPECT_EQ(g_settings.writingMethod, 0);
  EXPECT_EQ(g_settings.languageIndex, 1);
  EXPECT_EQ(g_settings.portKind, 0);
  EXPECT_EQ(g_settings.comIndex, 0);
  EXPECT_STREQ(g_settings.portCom, L"COM1");
  EXPECT_STREQ(g_settings.extraComName, L"");
  EXPECT_EQ(g_settings.lptIndex, 0);
  EXPECT_STREQ(g_settings.portLpt, L"LPT1");
  EXPECT_STREQ(g_settings.portLan, L"Port001");
  EXPECT_STREQ(g_settings.printerConnected, L"Printer01");
  EXPECT_STREQ(g_settings.fileName, fileName);
  EXPECT_EQ(g_settings.selectedModel, 0);
  ASSERT_NE(g_settings.models, nullptr);
  EXPECT_STREQ(g_settings.models[0].modelName, L"KM-510");
  EXPECT_STREQ(g_settings.models[0].usbIdText, L"fe5a/0a01/");
  EXPECT_EQ(g_settings.models[0].lptEnabled, 1);
  EXPECT_STREQ(g_settings.models[0].updateExtension, L"hx*");
  EXPECT_EQ(g_settings.lanCount, 0);
  EXPECT_EQ(g_settings.usbSearchMode, 1);
  EXPECT_EQ(g_settings.startNotice, 1);
}

TEST_F(SettingsTest, MissingFileIsCreatedWithTheBuiltInRowsAndLoadsDefaults) {
  Load();
  EXPECT_EQ(std::wstring(g_settings.settingsPath), ini_);
  EXPECT_EQ(std::wstring(g_settings.programFolder), folder_);
  std::string bytes = ReadBytes(ini_);
  // The mark and the first section line come from the raw write; what
  // follows is the profile writer's work, keys in table order.
  std::string expected = "\xFF\xFE" + Utf16Bytes(
      L"[File]\r\nType=PowerOn\r\n"
      L"[Language]\r\nCountry=English\r\n"
      L"[Send]\r\nFilename=None\r\n"
      L"[Port]\r\nConnected=None\r\nPortUSB=None\r\nPortCOM=COM1\r\nPortLPT=LPT1\r\nPortLAN=None\r\n"
      L"[Printer]\r\nConnected=Printer01\r\n"
      L"Printer01=KM-510,fe5a/0a01/,Enable,hx*\r\n"
      L"Printer02=KM-1000,fe5a/0a02/,Disable,hx*\r\n"
      L"Printer03=KM-32L,fe5a/0a03/,Enable,hx*\r\n"
      L"Printer04=KM-460,fe5a/0a01/,Enable,hx*\r\n"
      L"Printer05=KM-360,fe5a/0a01/,Enable,hx*\r\n"
      L"Printer06=KT-220,fe5a/0a02/,Disable,hx*\r\n"
      L"Printer07=LX7400,,Enable,Disable\r\n"
      L"Printer08=LX7600,,Enable,Disable\r\n");
  ASSERT_GE(bytes.size(), 18u);
  EXPECT_EQ(bytes.substr(0, 18), std::string("\xFF\xFE[\0F\0i\0l\0e\0]\0\r\0\n\0", 18));
  EXPECT_EQ(bytes, expected);

  ExpectDefaults(L"None");
  EXPECT_STREQ(g_settings.portUsb, L"None");
  EXPECT_EQ(g_settings.modelCount, 8);
  EXPECT_STREQ(g_settings.models[1].modelName, L"KM-1000");
  EXPECT_EQ(g_settings.models[1].lptEnabled, 0);
  // Rows 7 and 8 lose their empty field.
  EXPECT_STREQ(g_settings.models[6].modelName, L"LX7400");
  EXPECT_STREQ(g_settings.models[6].usbIdText, L"Enable");
  EXPECT_EQ(g_settings.models[6].lptEnabled, 0);
  EXPECT_STREQ(g_settings.models[6].updateExtension, L"None");
  EXPECT_EQ(g_settings.tagsmithPresent, 0);
  EXPECT_STREQ(g_settings.tagsmithPath, L"");

  // A second load leaves the file as it is.
  Load();
  EXPECT_EQ(ReadBytes(ini_), expected);
}

TEST_F(SettingsTest, UnreachableFolderLoadsEveryDefault) {
  folder_ += L"\\missing\\deeper";
  Load();
  ExpectDefaults(L"");
  EXPECT_STREQ(g_settings.portUsb, L"None");
  EXPECT_EQ(g_settings.modelCount, 0);
}

TEST_F(SettingsTest, TagsmithBesideTheProgramIsNoticed) {
  WriteBytes(folder_ + L"\\Tagsmith.exe", "MZ", 2);
  Load();
  EXPECT_EQ(g_settings.tagsmithPresent, 1);
  EXPECT_EQ(std::wstring(g_settings.tagsmithPath), folder_ + L"\\Tagsmith.exe");
}

TEST_F(SettingsTest, TagsmithCreatesTheFileButLooksForNoTagsmith) {
  WriteBytes(folder_ + L"\\Tagsmith.exe", "MZ", 2);
  g_settings.tagsmithPresent = 0;
  g_settings.tagsmithPath[0] = L'\0';
  g_program.kind = ProgramKind::Tagsmith;
  Load();
  g_program.kind = ProgramKind::Romsmith;
  EXPECT_EQ(g_settings.tagsmithPresent, 0);
  EXPECT_STREQ(g_settings.tagsmithPath, L"");
  EXPECT_EQ(ReadBytes(ini_).substr(0, 2), "\xFF\xFE");
  ExpectDefaults(L"None");
}

struct ValueCase {
  const wchar_t* file;
  int method, language, portKind, comIndex;
  const wchar_t* portCom;
  const wchar_t* extraCom;
  const wchar_t* portLan;
  const wchar_t* printerConnected;
  int usbMode, notice;
};

TEST_F(SettingsTest, SingleKeysFallBackToTheirDefaults) {
  const ValueCase cases[] = {
      {L"[File]\nType=online\n[Language]\nCountry=japan\n[Port]\nConnected=lan\nPortCOM=COM7\nPortLAN=port012\n"
       L"[Printer]\nConnected=printer02\n[USB_SEARCH]\nMode=vid/pid\n[INIT_MSG]\nMode=off\n",
       1, 0, 3, 4, L"COM7", L"COM7", L"port012", L"printer02", 2, 0},
      {L"[File]\nType=Fast\n[Language]\nCountry=France\n[Port]\nConnected=SCSI\nPortCOM=COM0\nPortLAN=Port256\n"
       L"[Printer]\nConnected=Printer00\n[USB_SEARCH]\nMode=\n[INIT_MSG]\nMode=\n",
       0, 1, 0, 0, L"COM1", L"", L"Port001", L"Printer01", 1, 1},
      {L"[Port]\nPortCOM=COMx\nPortLAN=Port01\n[Printer]\nConnected=Printer100\n[USB_SEARCH]\nMode=ALL\n", 0, 1, 0, 0,
       L"COM1", L"", L"Port001", L"Printer01", 0, 1},
      {L"[Port]\nPortCOM=com3\nPortLAN=Port000\n[Printer]\nConnected=Print01\n", 0, 1, 0, 2, L"com3", L"", L"Port001",
       L"Printer01", 1, 1},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.file)));
    WriteUtf16(ini_, c.file);
    Load();
    EXPECT_EQ(g_settings.writingMethod, c.method);
    EXPECT_EQ(g_settings.languageIndex, c.language);
    EXPECT_EQ(g_settings.portKind, c.portKind);
    EXPECT_EQ(g_settings.comIndex, c.comIndex);
    EXPECT_STREQ(g_settings.portCom, c.portCom);
    EXPECT_STREQ(g_settings.extraComName, c.extraCom);
    EXPECT_STREQ(g_settings.portLan, c.portLan);
    EXPECT_STREQ(g_settings.printerConnected, c.printerConnected);
    EXPECT_EQ(g_settings.usbSearchMode, c.usbMode);
    EXPECT_EQ(g_settings.startNotice, c.notice);
  }
}

TEST_F(SettingsTest, EmptyAndMissingTextsTakeTheNoneWordOfTheFileLanguage) {
  WriteUtf16(ini_, L"[Language]\nCountry=Japan\n[Send]\nFilename=\n[Port]\nPortUSB=\n");
  Load();
  EXPECT_EQ(g_settings.languageIndex, 0);
  EXPECT_STREQ(g_settings.fileName, L"");
  EXPECT_STREQ(g_settings.portUsb, L"\u306a\u3057");
  EXPECT_STREQ(g_settings.portConnected, L"\u306a\u3057");
  // No model entries: the preset is the one model.
  EXPECT_STREQ(g_settings.models[0].modelName, L"KM-510");
}

TEST_F(SettingsTest, ModelEntriesAndSelection) {
  WriteUtf16(ini_,
             L"[Printer]\nConnected=Printer03\nPrinter01=AB-1\nPrinter02=,,AB-2,,fe5a/0b02/,,Enable,,hx*,\n"
             L"Printer03=AB-3,fe5a/0b03/,Disable,hy*,extra\nPrinter04=AB-4=trailing\n"
             L"Printer09=AB-9,Disable,Enable,hz*\n");
  Load();
  // The text behind a second "=" is a line of its own, hence a sixth entry.
  ASSERT_EQ(g_settings.modelCount, 6);
  EXPECT_EQ(g_settings.selectedModel, 2);
  EXPECT_STREQ(g_settings.models[0].modelName, L"AB-1");
  EXPECT_STREQ(g_settings.models[0].usbIdText, L"None");
  EXPECT_EQ(g_settings.models[0].lptEnabled, 0);
  EXPECT_STREQ(g_settings.models[0].updateExtension, L"None");
  EXPECT_STREQ(g_settings.models[1].modelName, L"AB-2");
  EXPECT_STREQ(g_settings.models[1].usbIdText, L"fe5a/0b02/");
  EXPECT_EQ(g_settings.models[1].lptEnabled, 1);
  EXPECT_STREQ(g_settings.models[1].updateExtension, L"hx*");
  EXPECT_STREQ(g_settings.models[2].updateExtension, L"hy*");
  // Entries 0..7 are read again by the built-in keys, which give the whole
  // value; "trailing" has no built-in key of its position and keeps its
  // empty listing value.
  EXPECT_STREQ(g_settings.models[3].modelName, L"AB-4=trailing");
  EXPECT_STREQ(g_settings.models[4].modelName, L"None");
  EXPECT_STREQ(g_settings.models[5].modelName, L"AB-9");
  EXPECT_STREQ(g_settings.models[5].usbIdText, L"Disable");
  EXPECT_EQ(g_settings.models[5].lptEnabled, 1);
}

TEST_F(SettingsTest, LanEntriesLoadAndSaveBack) {
  WriteUtf16(ini_,
             L"[Port]\nConnected=LAN\nPortLAN=Port002\n[IPAddress]\n"
             L"Port001=1,KM-510,127.0.0.2,00:11:22:33:44:55\nPort002=x,KM-1000,127.0.0.3\n"
             L"Port003=0,\u30d7\u30ea\u30f3\u30bf,127.0.0.4,aa:bb,0010 MFG:X;\n");
  Load();
  ASSERT_EQ(g_settings.lanCount, 3);
  EXPECT_EQ(g_settings.lanCountAtLoad, 3);
  EXPECT_EQ(g_settings.selectedLan, 1);
  const LanPrinterRecord* r = g_settings.lanList;
  EXPECT_EQ(r[0].librarySlot, 1);
  EXPECT_STREQ(r[0].ipAddress, "127.0.0.2");
  EXPECT_STREQ(r[0].macAddressW, L"00:11:22:33:44:55");
  EXPECT_STREQ(r[0].deviceIdW, L"");
  EXPECT_EQ(r[1].librarySlot, 0);
  EXPECT_STREQ(r[1].macAddressW, L"");
  EXPECT_STREQ(r[2].modelNameW, L"\u30d7\u30ea\u30f3\u30bf");
  EXPECT_STREQ(r[2].deviceIdW, L"0010 MFG:X;");

  // The operator deletes the first printer and picks the (new) second.
  g_settings.lanList[0] = g_settings.lanList[1];
  g_settings.lanList[1] = g_settings.lanList[2];
  g_settings.lanCount = 2;
  g_settings.selectedLan = 1;
  SaveSettings();
  EXPECT_EQ(Ini(L"IPAddress", L"Port001"), L"0,KM-1000,127.0.0.3,");
  EXPECT_EQ(Ini(L"IPAddress", L"Port002"), L"0,\u30d7\u30ea\u30f3\u30bf,127.0.0.4,aa:bb");
  EXPECT_EQ(Ini(L"IPAddress", L"Port003"), L"<absent>");
  EXPECT_EQ(Ini(L"Port", L"PortLAN"), L"Port002");

  Load();
  ASSERT_EQ(g_settings.lanCount, 2);
  EXPECT_EQ(g_settings.selectedLan, 1);
  EXPECT_STREQ(g_settings.lanList[1].modelNameW, L"\u30d7\u30ea\u30f3\u30bf");
  EXPECT_STREQ(g_settings.lanList[1].ipAddressW, L"127.0.0.4");
  EXPECT_EQ(g_settings.portKind, 3);
}

TEST_F(SettingsTest, SaveThenLoadKeepsTheSelectionsAndJapaneseTexts) {
  Load();
  const wchar_t* path = L"C:\\\u30d5\u30a1\u30fc\u30e0\\fw.hx1";
  g_settings.writingMethod = 1;
  g_settings.portKind = 1;
  wcscpy(g_settings.fileName, path);
  wcscpy(g_settings.portCom, L"COM9");
  wcscpy(g_settings.portLpt, L"LPT3");
  wcscpy(g_settings.portUsb, L"USB001 KM-510 \u30d7\u30ea\u30f3\u30bf");
  g_settings.selectedModel = 4;
  SaveSettings();
  EXPECT_EQ(ReadBytes(ini_).substr(0, 2), "\xFF\xFE") << "the file stays UTF-16";
  EXPECT_EQ(Ini(L"Port", L"PortLAN"), L"None");

  Load();
  EXPECT_EQ(g_settings.writingMethod, 1);
  EXPECT_EQ(g_settings.portKind, 1);
  EXPECT_STREQ(g_settings.fileName, path);
  EXPECT_EQ(g_settings.comIndex, 4);
  EXPECT_STREQ(g_settings.extraComName, L"COM9");
  EXPECT_EQ(g_settings.lptIndex, 2);
  EXPECT_STREQ(g_settings.portUsb, L"USB001 KM-510 \u30d7\u30ea\u30f3\u30bf");
  EXPECT_EQ(g_settings.selectedModel, 4);
  EXPECT_STREQ(g_settings.printerConnected, L"Printer05");
}

TEST_F(SettingsTest, SaveTakesTheBoxesOfTheMainWindow) {
  Load();
  HWND window = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  HWND edit = CreateWindowExW(0, L"EDIT", L"D:\\x.hex", WS_CHILD, 0, 0, 50, 10, window,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(1021)), nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  g_program.mainWindow = window;
  SaveSettings();
  g_program.mainWindow = nullptr;
  DestroyWindow(window);
  EXPECT_EQ(Ini(L"Send", L"Filename"), L"D:\\x.hex");
  EXPECT_EQ(Ini(L"Port", L"PortCOM"), L"COM1") << "boxes that do not exist give the loaded text";
}

TEST_F(SettingsTest, MoreThan255LanEntriesShowMessage5AndKeepTheFirst255) {
  std::wstring text = L"[Language]\nCountry=English\n[IPAddress]\n";
  for (int n = 1; n <= 256; ++n) {
    wchar_t line[64];
    swprintf(line, 64, L"Port%03d=1,KM-510,127.0.%d.%d,\n", n, n / 200, n % 200);
    text += line;
  }
  WriteUtf16(ini_, text);
  {
    MessageBoxDriver driver(L"Romsmith", IDOK);
    Load();
    const SeenBox& seen = driver.Finish();
    ASSERT_TRUE(seen.found) << "message 5 was not shown";
    EXPECT_EQ(seen.text, L"The number of IP addresses has exceeded 255.\n\nNo more can be registered.");
    EXPECT_EQ(seen.owner, nullptr);
  }
  EXPECT_EQ(g_settings.lanCount, 255);
  EXPECT_EQ(g_settings.lanCountAtLoad, 255);
  EXPECT_STREQ(g_settings.lanList[254].ipAddressW, L"127.0.1.55");
  SaveSettings();
  EXPECT_EQ(Ini(L"IPAddress", L"Port256"), L"1,KM-510,127.0.1.56,") << "the 256th key stays in the file";
}

TEST_F(SettingsTest, FilesThatAreNotSettingsStillLoad) {
  struct Junk {
    const char* name;
    std::string bytes;
  };
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) ^ (i >> 3));
  std::string ansi = "[Port]\r\nConnected=COM\r\nPortCOM=COM2\r\n[Printer]\r\nPrinter01=ZZ-1,fe5a/0a09/,Enable,hq*\r\n";
  std::string truncated = "\xFF\xFE" + Utf16Bytes(L"[Port]\r\nConnected=LPT\r\nPortLPT=LP");
  truncated += '\0';  // half a character at the end
  std::string huge = "\xFF\xFE" + Utf16Bytes(L"[Send]\r\nFilename=" + std::wstring(200000, L'a') + L"\r\n");
  const Junk cases[] = {{"binary", binary}, {"ansi", ansi}, {"truncated", truncated}, {"huge", huge}, {"empty", ""}};
  for (const Junk& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(ini_, c.bytes.data(), c.bytes.size());
    Load();
    ASSERT_NE(g_settings.models, nullptr);
    EXPECT_LE(wcslen(g_settings.fileName), 260u);
    EXPECT_GE(g_settings.portKind, 0);
    EXPECT_LE(g_settings.portKind, 3);
  }
  // What could be read was read.
  WriteBytes(ini_, ansi.data(), ansi.size());
  Load();
  EXPECT_EQ(g_settings.portKind, 1);
  EXPECT_EQ(g_settings.comIndex, 1);
  EXPECT_STREQ(g_settings.models[0].modelName, L"ZZ-1");
  WriteBytes(ini_, huge.data(), huge.size());
  Load();
  EXPECT_EQ(wcslen(g_settings.fileName), 260u) << "a long text is cut to its field";
}

// Two saves in one run (before Tagsmith starts, then on Exit) with the list
// grown and then shrunk between them: the keys the first save added are gone.
TEST_F(SettingsTest, ASecondSaveRemovesTheKeysTheFirstAdded) {
  WriteUtf16(ini_, L"[IPAddress]\nPort001=1,KM-510,127.0.0.2,\n");
  Load();
  for (int i = 1; i < 4; ++i) g_settings.lanList[i] = g_settings.lanList[0];
  g_settings.lanCount = 4;
  SaveSettings();
  EXPECT_EQ(Ini(L"IPAddress", L"Port004"), L"1,KM-510,127.0.0.2,");
  g_settings.lanCount = 1;
  SaveSettings();
  for (const wchar_t* key : {L"Port002", L"Port003", L"Port004"}) EXPECT_EQ(Ini(L"IPAddress", key), L"<absent>");
  Load();
  EXPECT_EQ(g_settings.lanCount, 1);
}

// A hand-edited list with duplicate addresses, lines that are no keys, a
// gap in the numbering and values that are no records loads what it can.
TEST_F(SettingsTest, HandEditedLanListLoadsWithinTheList) {
  WriteUtf16(ini_, L"[Language]\nCountry=English\n[IPAddress]\n"
                   L"Port001=1,KM-510,127.0.0.2,aa\n"
                   L"this line is no key\n"
                   L"Port002=0,KM-510,127.0.0.2,bb\n"
                   L"Port003=,,,,,,,,,,,,,,,,,,,,,,,\n"
                   L"Port005=1," + std::wstring(100, L'M') + L",127.0.0.9,cc\n"
                   L"Port004=1,KM-1000,127.0.0.4,dd\n");
  Load();
  ASSERT_EQ(g_settings.lanCount, 3) << "entries without an address and second copies are dropped";
  const LanPrinterRecord* r = g_settings.lanList;
  EXPECT_STREQ(r[0].macAddressW, L"aa") << "the first of two entries with one address is kept";
  EXPECT_STREQ(r[1].ipAddressW, L"127.0.0.4") << "keys are read by number, not by line order";
  EXPECT_STREQ(r[2].ipAddressW, L"127.0.0.9");
  EXPECT_EQ(wcslen(r[2].modelNameW), 63u) << "a long model is cut to its field";
  SaveSettings();
  EXPECT_EQ(Ini(L"IPAddress", L"Port003"), L"1," + std::wstring(63, L'M') + L",127.0.0.9,cc");
  for (const wchar_t* key : {L"Port004", L"Port005", L"Port006"}) EXPECT_EQ(Ini(L"IPAddress", key), L"<absent>");
}

// "PortLAN" names a key: the selection follows that entry past the entries
// before it that the loader drops. When the entry itself is dropped the
// selection falls back to the first row and says the saved printer is not
// listed; a repeated address stands for the printer already listed.
TEST_F(SettingsTest, TheLanSelectionFollowsItsKeyPastDroppedEntries) {
  struct Case {
    const wchar_t* portLan;
    const wchar_t* entries;  // Port001 upwards, one address per character: '-' none
    int selected;
    int listed;
  } cases[] = {
      {L"Port003", L"-ab", 1, 1},  {L"Port003", L"aab", 1, 1}, {L"port004", L"a-ab", 1, 1},
      {L"Port002", L"a-b", 0, 0},  {L"Port003", L"aba", 0, 1}, {L"Port009", L"ab", 0, 0},
      {L"None", L"-a", 0, 0},
  };
  for (const Case& c : cases) {
    std::wstring text = L"[Port]\nPortLAN=" + std::wstring(c.portLan) + L"\n[IPAddress]\n";
    for (size_t i = 0; c.entries[i] != L'\0'; ++i) {
      wchar_t line[64];
      swprintf(line, 64, L"Port%03d=1,KM-510,%ls,\n", static_cast<int>(i + 1),
               c.entries[i] == L'-' ? L"None" : c.entries[i] == L'a' ? L"127.0.0.2" : L"127.0.0.3");
      text += line;
    }
    SCOPED_TRACE(testing::PrintToString(text));
    WriteUtf16(ini_, text);
    Load();
    EXPECT_EQ(g_settings.selectedLan, c.selected);
    EXPECT_EQ(g_settings.savedLanListed, c.listed);
  }
}

// A save while another program holds the file writes nothing: the keys of
// the printers deleted meanwhile must still go at the next save that works,
// or they come back at the next start.
TEST_F(SettingsTest, AFailedSaveKeepsTheDeletedKeysForTheNextSave) {
  WriteUtf16(ini_, L"[Port]\nPortLAN=Port003\n[IPAddress]\nPort001=1,KM-510,127.0.0.2,\n"
                   L"Port002=1,KM-510,127.0.0.3,\nPort003=1,KM-510,127.0.0.4,\n");
  Load();
  ASSERT_EQ(g_settings.lanCount, 3);
  g_settings.lanCount = 1;
  g_settings.selectedLan = 0;
  HANDLE holder = CreateFileW(ini_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  SaveSettings();
  CloseHandle(holder);
  EXPECT_EQ(Ini(L"IPAddress", L"Port003"), L"1,KM-510,127.0.0.4,") << "the held file was written";
  SaveSettings();
  for (const wchar_t* key : {L"Port002", L"Port003"}) EXPECT_EQ(Ini(L"IPAddress", key), L"<absent>");
  EXPECT_EQ(Ini(L"Port", L"PortLAN"), L"Port001");
}

}  // namespace

// Another program holds the file with write access (the other program saving,
// an editor): the read-only open fails, but the file exists, so nothing is
// written and the operator's values are still read.
TEST_F(SettingsTest, AFileHeldForWritingIsNeverOverwritten) {
  WriteUtf16(ini_, L"[File]\nType=Online\n[Printer]\nConnected=Printer02\nPrinter01=MY-1,fe5a/0001/,Enable,hx*\n"
                   L"Printer02=MY-2,fe5a/0002/,Disable,hy*\n");
  const std::string before = ReadBytes(ini_);
  HANDLE holder = CreateFileW(ini_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  Load();
  CloseHandle(holder);
  EXPECT_EQ(ReadBytes(ini_), before) << "the held file was overwritten";
  EXPECT_EQ(g_settings.writingMethod, 1);
  ASSERT_EQ(g_settings.modelCount, 2);
  EXPECT_EQ(g_settings.selectedModel, 1);
  EXPECT_STREQ(g_settings.models[1].modelName, L"MY-2");
}

// LAN records whose model is empty or holds a comma come back as written
// (the empty model as the None word, the comma as a blank), with the address
// and MAC text in their own fields.
TEST_F(SettingsTest, LanRecordsWithEmptyOrCommaModelsSurviveSaveAndLoad) {
  Load();
  struct Case {
    const wchar_t* model;
    const wchar_t* loadedModel;
    const wchar_t* ip;
    const wchar_t* mac;
  } cases[] = {{L"", L"None", L"127.0.0.2", L"00:11:22:33:44:55"},
               {L"KM,510", L"KM 510", L"127.0.0.3", L"00:11:22:33:44:66"},
               {L"KM-1000", L"KM-1000", L"127.0.0.4", L""}};
  const int count = static_cast<int>(sizeof cases / sizeof cases[0]);
  for (int i = 0; i < count; ++i) {
    LanPrinterRecord& r = g_settings.lanList[i];
    r = LanPrinterRecord{};
    wcscpy(r.modelNameW, cases[i].model);
    wcscpy(r.ipAddressW, cases[i].ip);
    wcscpy(r.macAddressW, cases[i].mac);
  }
  g_settings.lanCount = count;
  SaveSettings();
  FreeSettings();
  Load();
  ASSERT_EQ(g_settings.lanCount, count);
  for (int i = 0; i < count; ++i) {
    const LanPrinterRecord& r = g_settings.lanList[i];
    EXPECT_STREQ(r.modelNameW, cases[i].loadedModel) << i;
    EXPECT_STREQ(r.ipAddressW, cases[i].ip) << i;
    EXPECT_STREQ(r.macAddressW, cases[i].mac) << i;
  }
}
