#include "firmware_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "control_ids.h"
#include "debug_log.h"
#include "program_state.h"
#include "result_codes.h"
#include "settings_rules.h"
#include "settings_types.h"

CommandBuffer FirmwareData = {0, nullptr};
FirmwareFileState g_firmwareFile = {};

namespace {

constexpr uint32_t kSpareBytes = 50;

void ClearHeaderLabel() {
  if (g_program.mainWindow != nullptr) SetDlgItemTextW(g_program.mainWindow, IDC_FIRMWARE_HEADER, L"");
}

void DisableStartWriting() {
  if (g_program.mainWindow == nullptr) return;
  if (HWND button = GetDlgItem(g_program.mainWindow, IDC_START_WRITING)) EnableWindow(button, FALSE);
}

int32_t ReportUnopenable(const char* step) {
  DebugLogF("CheckFirmwareFile Err(%s _wfopen %d)", step, errno);
  ClearHeaderLabel();
  DisableStartWriting();
  return FILE_ERR_OPEN;
}

const wchar_t* ModelUpdateExtension() {
  if (g_settings.models == nullptr) return L"hx*";
  int32_t count = g_settings.modelCount > 0 ? g_settings.modelCount : 1;
  int32_t index = g_settings.selectedModel >= 0 && g_settings.selectedModel < count ? g_settings.selectedModel : 0;
  return g_settings.models[index].updateExtension;
}

int32_t CheckExtension(const wchar_t* path, wchar_t* expectedExtension) {
  FirmwarePathParts parts = SplitFirmwarePath(path);
  int mode = g_settings.writingMethod == kWriteModeUpdate ? kWriteModeUpdate : kWriteModeRewriteAll;
  std::wstring expected = ExpectedFirmwareExtension(mode, ModelUpdateExtension());
  if (expectedExtension != nullptr) CopyToField(expectedExtension, kExtensionChars, expected.c_str());
  if (!FirmwareExtensionMatches(mode, parts.extension, expected)) {
    ClearHeaderLabel();
    DisableStartWriting();
    return FILE_ERR_EXTENSION;
  }
  CopyToField(g_firmwareFile.browseFolder, kPathChars, parts.folder.c_str());
  return PRT_SUCCESS;
}

int32_t SizeFile(const wchar_t* path, CommandBuffer* data) {
  FILE* file = _wfopen(path, L"rb");
  if (file == nullptr) return ReportUnopenable("11");
  int64_t size = -1;
  if (_fseeki64(file, 0, SEEK_END) == 0) size = _ftelli64(file);
  _fseeki64(file, 0, SEEK_SET);
  fclose(file);
  // The length is 32-bit and the block adds its spare bytes: a file beyond
  // that cannot be held whole, so it is refused rather than cut.
  if (size < 0 || static_cast<uint64_t>(size) > UINT32_MAX - kSpareBytes) {
    DebugLogF("CheckFirmwareFile Err(11 size %lld)", static_cast<long long>(size));
    return FILE_ERR_READ;
  }
  // An empty file holds no firmware: sending it would tell the operator to
  // power-cycle a printer that received nothing.
  if (size == 0) {
    DebugLogF("CheckFirmwareFile Err(11 empty)");
    ClearHeaderLabel();
    return FILE_ERR_NOT_FIRMWARE;
  }
  data->length = static_cast<uint32_t>(size);
  return PRT_SUCCESS;
}

// Converts the header label to wide text (system code page, at most 255
// characters) without a dangling lead byte at its end.
void ShowHeaderLabel(const char* label) {
  std::string text = label;
  size_t whole = 0;
  for (size_t i = 0; i < text.size();) {
    size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
    if (i + step > text.size()) break;
    i += step;
    whole = i;
  }
  text.resize(whole);
  wchar_t wide[256] = {};
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 255);
  wide[255] = L'\0';
  if (g_program.mainWindow != nullptr) SetDlgItemTextW(g_program.mainWindow, IDC_FIRMWARE_HEADER, wide);
}

int32_t ReadWholeFile(const wchar_t* path, CommandBuffer* data) {
  FILE* file = _wfopen(path, L"rb");
  if (file == nullptr) return ReportUnopenable("12");
  size_t got = data->data != nullptr ? fread(data->data, 1, data->length, file) : 0;
  int32_t result = got < data->length ? FILE_ERR_READ : PRT_SUCCESS;
  // A file that grew since it was sized would otherwise go out cut short.
  if (result == PRT_SUCCESS && fgetc(file) != EOF) result = FILE_ERR_READ;
  fclose(file);
  if (result != PRT_SUCCESS) {
    DebugLogF("CheckFirmwareFile Err(12 read %lu of %lu)", static_cast<unsigned long>(got),
              static_cast<unsigned long>(data->length));
  }
  if (got > kHeaderScanThreshold) {
    // A file large enough to hold a header but without one must not keep the
    // previous file's version under its name.
    char label[kHeaderLabelBytes] = {};
    if (FindFirmwareHeaderLabel(data->data, got, label)) {
      ShowHeaderLabel(label);
    } else {
      ClearHeaderLabel();
    }
  }
  return result;
}

}  // namespace

int32_t CheckFirmwareFile(int step, const wchar_t* path, wchar_t* expectedExtension, CommandBuffer* data) {
  if (path == nullptr) path = L"";
  switch (step) {
    case kCheckExtension:
      return CheckExtension(path, expectedExtension);
    case kCheckExtensionOpen: {
      int32_t result = CheckExtension(path, expectedExtension);
      if (result != PRT_SUCCESS) return result;
      FILE* file = _wfopen(path, L"rb");
      if (file == nullptr) return ReportUnopenable("10");
      fclose(file);
      return PRT_SUCCESS;
    }
    case kCheckSize:
      return data != nullptr ? SizeFile(path, data) : FILE_ERR_OPEN;
    case kCheckRead:
      return data != nullptr ? ReadWholeFile(path, data) : FILE_ERR_READ;
    default:
      return FILE_ERR_OPEN;
  }
}

int32_t PrepareFirmware(const wchar_t* path, wchar_t* expectedExtension, CommandBuffer* data) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("PrepareFirmware Start");
  int32_t result = PRT_SUCCESS;
  if (path == nullptr || path[0] == L'\0') {
    result = -2;
  } else if ((result = CheckFirmwareFile(kCheckExtensionOpen, path, expectedExtension, data)) == PRT_SUCCESS &&
             (result = CheckFirmwareFile(kCheckSize, path, expectedExtension, data)) == PRT_SUCCESS) {
    // A block still held here was prepared for a write that never went out
    // (a send frees the block and clears the pointer): it is ours to free.
    if (data->data != nullptr) GlobalFree(data->data);
    data->data = static_cast<BYTE*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(data->length) + kSpareBytes));
    if (data->data == nullptr) {
      DebugLogF("PrepareFirmware Err(PRT_ERR_MEMORY)");
      result = PRT_ERR_MEMORY;
    } else {
      result = CheckFirmwareFile(kCheckRead, path, expectedExtension, data);
      if (result != PRT_SUCCESS) {
        GlobalFree(data->data);
        data->data = nullptr;
        data->length = 0;
      }
    }
  }
  DebugLogF("PrepareFirmware End(%ld)", static_cast<long>(result));
  WriteDebugLog(kLogLeave);
  return result;
}
