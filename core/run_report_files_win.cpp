#include "run_report_files.h"

#include <windows.h>

#include "debug_log.h"
#include "elevated_files_win.h"
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

bool SaveRunReport(const RunReport& report, int languageIndex, std::wstring* jsonPath) {
  if (jsonPath != nullptr) jsonPath->clear();
  const std::wstring folder = ReportFolder();
  if (!MakeFolder(folder)) return false;
  const std::wstring base = folder + L"\\Write-" + Wide(FileStamp(report.started));
  const bool text = PutFile(base + L".txt", kUtf8Mark + RunReportText(report, languageIndex), false);
  const bool json = PutFile(base + L".json", RunReportJson(report), false);
  if (json && jsonPath != nullptr) *jsonPath = base + L".json";
  if (text && json) WriteDebugLog("RunReport saved");
  return text && json;
}

bool AppendSerialRecord(const SerialRecord& record, int languageIndex) {
  const std::wstring folder = ReportFolder();
  if (!MakeFolder(folder)) return false;
  const std::wstring textPath = folder + L"\\SerialNumbers.txt";
  const bool fresh = GetFileAttributesW(textPath.c_str()) == INVALID_FILE_ATTRIBUTES;
  const bool text = PutFile(textPath, (fresh ? kUtf8Mark : "") + SerialRecordText(record, languageIndex), true);
  const bool json = PutFile(folder + L"\\SerialNumbers.jsonl", SerialRecordJson(record), true);
  return text && json;
}
