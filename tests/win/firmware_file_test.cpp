#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "core/firmware_file.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/settings.h"
#include "core/settings_types.h"

namespace {

void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + 7) & 0xFF);
  return bytes;
}

void PutHeader(std::vector<uint8_t>* bytes, size_t at, const char* a, const char* b) {
  const uint8_t head[16] = {'H', 't', '1', 9, 9, 9, 9, 9, 9, 9, 9, 9, 1, 0, 0x24, 0};
  std::memcpy(&(*bytes)[at], head, 16);
  std::memset(&(*bytes)[at + 16], 0, 48);
  std::memcpy(&(*bytes)[at + 32], a, std::strlen(a));
  std::memcpy(&(*bytes)[at + 48], b, std::strlen(b));
}

class FirmwareFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kit_firmware_test";
    CreateDirectoryW(folder_.c_str(), nullptr);
    LoadSettingsFrom(L"C:\\kit_no_such_folder");  // built-in model table, Rewrite All
    window_ = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPED, 0, 0, 300, 200, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    label_ = CreateWindowExW(0, L"STATIC", L"previous", WS_CHILD, 0, 0, 100, 10, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FIRMWARE_HEADER)), nullptr, nullptr);
    start_ = CreateWindowExW(0, L"BUTTON", L"Start writing", WS_CHILD, 0, 20, 100, 10, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_START_WRITING)), nullptr, nullptr);
    g_program.mainWindow = window_;
  }
  void TearDown() override {
    g_program.mainWindow = nullptr;
    DestroyWindow(window_);
    for (const std::wstring& f : files_) DeleteFileW(f.c_str());
    RemoveDirectoryW(folder_.c_str());
    if (FirmwareData.data != nullptr) GlobalFree(FirmwareData.data);
    FirmwareData = {0, nullptr};
    FreeSettings();
  }
  std::wstring File(const wchar_t* name) {
    files_.push_back(folder_ + L"\\" + name);
    return files_.back();
  }
  std::wstring Label() {
    wchar_t text[300] = {};
    GetWindowTextW(label_, text, 300);
    return text;
  }
  void ResetWindow() {
    SetWindowTextW(label_, L"previous");
    EnableWindow(start_, TRUE);
  }
  std::wstring folder_;
  std::vector<std::wstring> files_;
  HWND window_ = nullptr, label_ = nullptr, start_ = nullptr;
};

TEST_F(FirmwareFileTest, ExtensionRulesOfBothModes) {
  struct Case {
    int method;
    const wchar_t* name;
    int32_t expected;
    const wchar_t* expectedExtension;
  } cases[] = {
      {1, L"fw.hx1", PRT_SUCCESS, L".hx*"}, {1, L"FW.HX9", PRT_SUCCESS, L".hx*"},
      {1, L"fw.hxa", PRT_SUCCESS, L".hx*"}, {1, L"fw.hx", FILE_ERR_EXTENSION, L".hx*"},
      {1, L"fw.hex", FILE_ERR_EXTENSION, L".hx*"}, {0, L"fw.HEX", PRT_SUCCESS, L".hex"},
      {0, L"fw.hx1", FILE_ERR_EXTENSION, L".hex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    g_settings.writingMethod = c.method;
    ResetWindow();
    std::wstring path = folder_ + L"\\" + c.name;
    wchar_t expected[kExtensionChars] = {};
    EXPECT_EQ(CheckFirmwareFile(kCheckExtension, path.c_str(), expected, nullptr), c.expected);
    EXPECT_STREQ(expected, c.expectedExtension);
    bool rejected = c.expected != PRT_SUCCESS;
    EXPECT_EQ(Label(), rejected ? L"" : L"previous");
    EXPECT_EQ(IsWindowEnabled(start_) != FALSE, !rejected) << "Start writing";
    if (!rejected) {
      EXPECT_EQ(std::wstring(g_firmwareFile.browseFolder), folder_ + L"\\");
    }
  }
  // Step 10 also wants the file to open.
  g_settings.writingMethod = 0;
  ResetWindow();
  EXPECT_EQ(CheckFirmwareFile(kCheckExtensionOpen, (folder_ + L"\\absent.hex").c_str(), nullptr, nullptr),
            FILE_ERR_OPEN);
  EXPECT_EQ(Label(), L"");
  EXPECT_FALSE(IsWindowEnabled(start_));
}

TEST_F(FirmwareFileTest, FileIsReadWholeWithSpareZeros) {
  std::wstring path = File(L"small.hex");
  std::vector<uint8_t> bytes = Pattern(70001);
  WriteBytes(path, bytes);
  wchar_t expected[kExtensionChars];
  ASSERT_EQ(PrepareFirmware(path.c_str(), expected, &FirmwareData), PRT_SUCCESS);
  ASSERT_EQ(FirmwareData.length, bytes.size());
  ASSERT_NE(FirmwareData.data, nullptr);
  EXPECT_EQ(std::memcmp(FirmwareData.data, bytes.data(), bytes.size()), 0);
  EXPECT_GE(GlobalSize(FirmwareData.data), bytes.size() + 50);
  for (size_t i = 0; i < 50; ++i) ASSERT_EQ(FirmwareData.data[bytes.size() + i], 0) << "spare byte " << i;
  EXPECT_EQ(Label(), L"previous");

  // Prepared again before any send (the operator cancelled): the earlier
  // block is released and the new one holds the same file.
  ASSERT_EQ(PrepareFirmware(path.c_str(), expected, &FirmwareData), PRT_SUCCESS);
  ASSERT_EQ(FirmwareData.length, bytes.size());
  EXPECT_EQ(std::memcmp(FirmwareData.data, bytes.data(), bytes.size()), 0);
}

TEST_F(FirmwareFileTest, HeaderTextOnlyInFilesLargerThan512000Bytes) {
  // Exactly 512000 bytes: no scan, the label keeps its text.
  std::wstring exact = File(L"exact.hex");
  std::vector<uint8_t> bytes = Pattern(512000);
  PutHeader(&bytes, 1000, "KM-510", "Ver1.00");
  WriteBytes(exact, bytes);
  EXPECT_EQ(PrepareFirmware(exact.c_str(), nullptr, &FirmwareData), PRT_SUCCESS);
  EXPECT_EQ(Label(), L"previous");
  GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};

  // One more byte: the header is found and shown.
  std::wstring larger = File(L"larger.hex");
  bytes = Pattern(512001);
  PutHeader(&bytes, 400000, "KM-510 ROM", "Ver2.03");
  WriteBytes(larger, bytes);
  EXPECT_EQ(PrepareFirmware(larger.c_str(), nullptr, &FirmwareData), PRT_SUCCESS);
  EXPECT_EQ(Label(), L" KM-510 ROM Ver2.03");
  EXPECT_EQ(FirmwareData.length, 512001u);
  GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};

  // Large enough to be scanned but without a header: the previous file's
  // version text goes.
  std::wstring bare = File(L"bare.hex");
  WriteBytes(bare, Pattern(600000));
  EXPECT_EQ(PrepareFirmware(bare.c_str(), nullptr, &FirmwareData), PRT_SUCCESS);
  EXPECT_EQ(Label(), L"");
}

TEST_F(FirmwareFileTest, FailuresLeaveNoBlock) {
  EXPECT_EQ(PrepareFirmware(L"", nullptr, &FirmwareData), -2);
  EXPECT_EQ(FirmwareData.data, nullptr);

  ResetWindow();
  EXPECT_EQ(PrepareFirmware((folder_ + L"\\absent.hex").c_str(), nullptr, &FirmwareData), FILE_ERR_OPEN);
  EXPECT_EQ(FirmwareData.data, nullptr);
  EXPECT_EQ(Label(), L"");
  EXPECT_FALSE(IsWindowEnabled(start_));

  std::wstring wrong = File(L"fw.bin");
  WriteBytes(wrong, Pattern(10));
  wchar_t expected[kExtensionChars] = {};
  EXPECT_EQ(PrepareFirmware(wrong.c_str(), expected, &FirmwareData), FILE_ERR_EXTENSION);
  EXPECT_STREQ(expected, L".hex");
  EXPECT_EQ(FirmwareData.data, nullptr);

  // A file locked against reading cannot be opened.
  std::wstring locked = File(L"locked.hex");
  WriteBytes(locked, Pattern(10));
  HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(PrepareFirmware(locked.c_str(), nullptr, &FirmwareData), FILE_ERR_OPEN);
  CloseHandle(lock);
}

TEST_F(FirmwareFileTest, FileThatChangesAfterSizingIsNeverReadInPart) {
  struct Case {
    const char* what;
    size_t sizedAs;
    size_t readAs;
  } cases[] = {{"shrinks", 600000, 599999}, {"grows", 1000, 1001}, {"emptied", 513000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring path = File(L"changing.hex");
    std::vector<uint8_t> bytes = Pattern(c.sizedAs);
    if (c.sizedAs > 512064) PutHeader(&bytes, 0, "A", "B");
    WriteBytes(path, bytes);
    CommandBuffer data = {0, nullptr};
    ASSERT_EQ(CheckFirmwareFile(kCheckExtensionOpen, path.c_str(), nullptr, &data), PRT_SUCCESS);
    ASSERT_EQ(CheckFirmwareFile(kCheckSize, path.c_str(), nullptr, &data), PRT_SUCCESS);
    ASSERT_EQ(data.length, c.sizedAs);
    bytes.resize(c.readAs, 0x55);
    WriteBytes(path, bytes);
    data.data = static_cast<BYTE*>(GlobalAlloc(GPTR, data.length + 50));
    ASSERT_NE(data.data, nullptr);
    EXPECT_EQ(CheckFirmwareFile(kCheckRead, path.c_str(), nullptr, &data), FILE_ERR_READ);
    GlobalFree(data.data);
  }
}

}  // namespace
