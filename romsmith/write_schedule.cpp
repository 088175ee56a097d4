#include "write_schedule.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "exit_codes.h"

namespace {

struct Pair {
  const wchar_t* text[2];
  const wchar_t* In(int language) const { return text[language == 0 ? 0 : 1]; }
};

const Pair kWaiting = {{L"待機中", L"waiting"}};
const Pair kWritingFormat = {{L"書込み中 %d %%", L"writing %d %%"}};
const Pair kWritten = {{L"書込み完了", L"written"}};
const Pair kFailedFormat = {{L"失敗: %ls", L"failed: %ls"}};
const Pair kTotalFormat = {{L"%llu / %llu Byte\n%d %%  (完了 %d, 失敗 %d, 全 %d 台)",
                            L"%llu / %llu Byte\n%d %%  (written %d, failed %d, of %d)"}};
const Pair kFailedHead = {
    {L"%d 台中 %d 台のプリンタで書込みに失敗しました。", L"Writing failed on %d of %d printers."}};
const Pair kResetFailedHead = {
    {L"%d 台中 %d 台のプリンタのリセットに失敗しました。", L"Reset failed on %d of %d printers."}};
const Pair kMoreFailed = {{L"ほか %d 台 (レポートを参照してください)", L"and %d more (see the run report)"}};
const Pair kWrittenCount = {{L"%d 台のプリンタに書込みました。", L"%d printer(s) were written."}};
const Pair kNoneWritten = {{L"書込みできたプリンタはありません。", L"No printer was written."}};
const Pair kResetCount = {{L"%d 台のプリンタをリセットしました。", L"%d printer(s) were reset."}};
const Pair kNoneReset = {{L"リセットできたプリンタはありません。", L"No printer was reset."}};

std::wstring Format(const wchar_t* format, ...) {
  wchar_t text[512];
  va_list args;
  va_start(args, format);
  vswprintf(text, sizeof(text) / sizeof(text[0]), format, args);
  va_end(args);
  text[511] = L'\0';
  return text;
}

}  // namespace

WriteSchedule::WriteSchedule(const std::vector<bool>& oneAtATime, int32_t parallel, uint32_t bytesEach)
    : printers_(oneAtATime.size()), parallel_(parallel < 1 ? 1 : parallel), bytesEach_(bytesEach) {
  for (size_t i = 0; i < oneAtATime.size(); ++i) printers_[i].oneAtATime = oneAtATime[i];
}

int32_t WriteSchedule::Next() {
  if (inFlight_ >= parallel_) return -1;
  bool oneAtATimeBusy = false;
  for (const ScheduledPrinter& p : printers_)
    oneAtATimeBusy = oneAtATimeBusy || (p.oneAtATime && p.state == PrinterRun::kWriting);
  while (firstWaiting_ < printers_.size() && printers_[firstWaiting_].state != PrinterRun::kWaiting) ++firstWaiting_;
  for (size_t i = firstWaiting_; i < printers_.size(); ++i) {
    ScheduledPrinter& p = printers_[i];
    if (p.state != PrinterRun::kWaiting || (p.oneAtATime && oneAtATimeBusy)) continue;
    p.state = PrinterRun::kWriting;
    ++inFlight_;
    return static_cast<int32_t>(i);
  }
  return -1;
}

void WriteSchedule::Sent(int32_t printer, uint32_t bytes) {
  if (printer < 0 || static_cast<size_t>(printer) >= printers_.size()) return;
  ScheduledPrinter& p = printers_[static_cast<size_t>(printer)];
  if (p.state == PrinterRun::kWriting) p.sent = bytes > bytesEach_ ? bytesEach_ : bytes;
}

void WriteSchedule::End(int32_t printer, int32_t code) {
  if (printer < 0 || static_cast<size_t>(printer) >= printers_.size()) return;
  ScheduledPrinter& p = printers_[static_cast<size_t>(printer)];
  if (p.state != PrinterRun::kWriting) return;  // an end is counted once
  --inFlight_;
  p.code = code;
  p.state = code == 0 ? PrinterRun::kWritten : PrinterRun::kFailed;
  if (code == 0) p.sent = bytesEach_;
}

bool WriteSchedule::Finished() const { return Count(PrinterRun::kWaiting) == 0 && inFlight_ == 0; }

int32_t WriteSchedule::Count(PrinterRun state) const {
  int32_t n = 0;
  for (const ScheduledPrinter& p : printers_) n += p.state == state ? 1 : 0;
  return n;
}

uint64_t WriteSchedule::BytesSent() const {
  uint64_t sum = 0;
  for (const ScheduledPrinter& p : printers_) sum += p.sent;
  return sum;
}

int WriteSchedule::ExitCode() const {
  return Count(PrinterRun::kWritten) == static_cast<int32_t>(printers_.size()) ? kExitWritten : kExitWriteFailed;
}

int32_t PercentOf(uint64_t sent, uint64_t total) {
  if (total == 0) return 0;
  if (sent >= total) return 100;
  return static_cast<int32_t>(sent * 100 / total);
}

std::wstring RowStateText(const ScheduledPrinter& printer, uint32_t bytesEach, const std::wstring& messageLine,
                          int languageIndex) {
  switch (printer.state) {
    case PrinterRun::kWaiting:
      return kWaiting.In(languageIndex);
    case PrinterRun::kWriting:
      return Format(kWritingFormat.In(languageIndex), static_cast<int>(PercentOf(printer.sent, bytesEach)));
    case PrinterRun::kWritten:
      return kWritten.In(languageIndex);
    case PrinterRun::kFailed:
      return Format(kFailedFormat.In(languageIndex), messageLine.c_str());
  }
  return L"";
}

std::wstring TotalText(const WriteSchedule& schedule, int languageIndex) {
  return Format(kTotalFormat.In(languageIndex), static_cast<unsigned long long>(schedule.BytesSent()),
                static_cast<unsigned long long>(schedule.BytesTotal()),
                static_cast<int>(PercentOf(schedule.BytesSent(), schedule.BytesTotal())),
                static_cast<int>(schedule.Count(PrinterRun::kWritten)),
                static_cast<int>(schedule.Count(PrinterRun::kFailed)), static_cast<int>(schedule.Size()));
}

std::wstring FailedPrintersText(const std::vector<FailedPrinter>& failed, size_t succeeded, size_t total,
                                int languageIndex, ListOperation operation) {
  const bool write = operation == ListOperation::kWrite;
  const Pair& head = write ? kFailedHead : kResetFailedHead;
  const int failedCount = static_cast<int>(failed.size());
  const int all = static_cast<int>(total);
  // The Japanese sentence names the whole list first, the English one the failed.
  std::wstring text = languageIndex == 0 ? Format(head.In(0), all, failedCount) : Format(head.In(1), failedCount, all);
  text += L"\n";
  for (size_t i = 0; i < failed.size() && i < kFailedLinesShown; ++i) {
    text += L"\n" + failed[i].address + L": " + failed[i].messageLine;
  }
  if (failed.size() > kFailedLinesShown) {
    text += L"\n" + Format(kMoreFailed.In(languageIndex), static_cast<int>(failed.size() - kFailedLinesShown));
  }
  text += L"\n\n";
  if (succeeded == 0) return text + (write ? kNoneWritten : kNoneReset).In(languageIndex);
  return text + Format((write ? kWrittenCount : kResetCount).In(languageIndex), static_cast<int>(succeeded));
}
