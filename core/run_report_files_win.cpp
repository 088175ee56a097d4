#include "run_report_files.h"

#include <windows.h>

#include "debug_log.h"
#include "elevated_files_win.h"
#include "message_catalog.h"
#include "program_state.h"
#include "spooler_journal.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "report texts are UTF-16 on Windows");

namespace {

// A byte-order mark lets the text files open in the right encoding in
// Notepad on a Japanese or an English system alike.
const char kUtf8Mark[] = "\xEF\xBB\xBF";

// Writes `bytes` as a new file, or appends them. Logs and returns false on
// any failure; a new file is written under a temporary name and renamed into
// place, so a report is either whole or missing. The folder is the user's,
// and the program runs elevated: no junction or link there is followed.
bool PutFile(const std::wstring& path, const std::string& bytes, bool append) {
  return append ? AppendPlainFile(path, bytes, "RunReport") : ReplacePlainFile(path, bytes, nullptr, "RunReport");
}

// The programs' folder and "Reports" in it, each made when missing and
// refused when it is a junction or reached through one.
bool MakeFolder(const std::wstring& folder) {
  if (folder.empty()) {
    WriteDebugLog("RunReport Err(no folder)");
    return false;
  }
  if (MakePlainFolder(folder.substr(0, folder.rfind(L'\\')), nullptr) && MakePlainFolder(folder, nullptr)) return true;
  DebugLogF("RunReport Err(CreateDirectory %lu)", static_cast<unsigned long>(GetLastError()));
  return false;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

constexpr DWORD kTryForMs = 1000;
constexpr DWORD kTryPauseMs = 100;

// Between tries the windows are repainted but take no input: a click now
// would act on a run whose record is being saved.
void PauseKeepingPaint(DWORD ms) {
  const DWORD start = GetTickCount();
  for (DWORD spent = 0; spent < ms; spent = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_PAINT);
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&message);
  }
}

// True when the file's last byte is not a line feed: an earlier append was
// cut short (a crash, a full disk), and the next entry must not join it.
// A link is not followed here either (the append then refuses it).
bool EndsMidLine(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  char last = '\n';
  DWORD got = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    LARGE_INTEGER at = {};
    at.QuadPart = size.QuadPart - 1;
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && !ReadFile(file, &last, 1, &got, nullptr)) got = 0;
  }
  CloseHandle(file);
  return got == 1 && last != '\n';
}

// Makes the folder and writes one file, as `tries` says; `bytes` gives what
// to write at each try (an append looks at the file as it is then).
template <typename Bytes>
bool WriteTrying(const std::wstring& path, Bytes bytes, bool append, ReportTries tries, std::wstring* notWritten) {
  const DWORD start = GetTickCount();
  const std::wstring folder = path.substr(0, path.rfind(L'\\'));
  for (;;) {
    if (MakeFolder(folder) && PutFile(path, bytes(), append)) return true;
    if (tries == ReportTries::kOnce || GetTickCount() - start >= kTryForMs) break;
    PauseKeepingPaint(kTryPauseMs);
  }
  if (notWritten != nullptr && notWritten->empty()) *notWritten = path;
  return false;
}

}  // namespace

ReportTime ReportNow() {
  SYSTEMTIME local = {};
  GetLocalTime(&local);
  ReportTime time;
  time.year = local.wYear;
  time.month = local.wMonth;
  time.day = local.wDay;
  time.hour = local.wHour;
  time.minute = local.wMinute;
  time.second = local.wSecond;
  time.millisecond = local.wMilliseconds;
  TIME_ZONE_INFORMATION zone = {};
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
  time.utcOffsetMinutes = kind == TIME_ZONE_ID_INVALID ? 0 : -static_cast<int>(bias);
  return time;
}

std::wstring ReportFolder() {
  // The user's folder even while the journal is the administrators'.
  const std::wstring folder = SpoolerUserFolder();
  return folder.empty() ? L"" : folder + L"\\Reports";
}

std::u16string ReportText(const wchar_t* text) {
  return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

bool SaveRunReport(const RunReport& report, int languageIndex, ReportTries tries, std::wstring* notWritten) {
  if (notWritten != nullptr) notWritten->clear();
  const std::wstring base = ReportFolder() + L"\\Write-" + Wide(FileStamp(report.started));
  const std::string textBytes = kUtf8Mark + RunReportText(report, languageIndex), jsonBytes = RunReportJson(report);
  const bool text = WriteTrying(base + L".txt", [&] { return textBytes; }, false, tries, notWritten);
  const bool json = WriteTrying(base + L".json", [&] { return jsonBytes; }, false, tries, notWritten);
  if (text && json) WriteDebugLog("RunReport saved");
  return text && json;
}

bool AppendSerialRecord(const SerialRecord& record, int languageIndex, ReportTries tries, std::wstring* notWritten) {
  if (notWritten != nullptr) notWritten->clear();
  const std::wstring folder = ReportFolder();
  const std::wstring textPath = folder + L"\\SerialNumbers.txt", jsonPath = folder + L"\\SerialNumbers.jsonl";
  const bool text = WriteTrying(textPath, [&] {
    const bool fresh = GetFileAttributesW(textPath.c_str()) == INVALID_FILE_ATTRIBUTES;
    const char* start = fresh ? kUtf8Mark : EndsMidLine(textPath) ? "\r\n" : "";
    return start + SerialRecordText(record, languageIndex);
  }, true, tries, notWritten);
  const bool json = WriteTrying(jsonPath, [&] {
    return (EndsMidLine(jsonPath) ? "\n" : "") + SerialRecordJson(record);
  }, true, tries, notWritten);
  return text && json;
}

void TellRecordNotWritten(HWND owner, const std::wstring& path, int languageIndex) {
  static const wchar_t* const kNotWritten[] = {L"次のファイルを書き込めませんでした。\n\n", L"This file could not be written:\n\n"};
  const std::wstring text = kNotWritten[languageIndex == 0 ? 0 : 1] + path;
  const CatalogueOwner catalogue =
      g_program.kind == ProgramKind::Tagsmith ? CatalogueOwner::kTagsmith : CatalogueOwner::kRomsmith;
  MessageBoxW(owner, text.c_str(), MessageCaption(catalogue), MB_OK | MB_ICONEXCLAMATION);
}
