// The plan of a LAN write with several printers in flight: which printer
// starts next, what each ended with, what the run ends with, and the texts
// the operator sees about it. Platform-free, so the rules are tested
// natively; the threads, sockets and windows live in parallel_write_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class PrinterRun : uint8_t { kWaiting, kWriting, kWritten, kFailed };

struct ScheduledPrinter {
  bool oneAtATime = false;  // bound to a library that must serve one printer at a time
  PrinterRun state = PrinterRun::kWaiting;
  int32_t code = 0;   // result code once failed
  uint32_t sent = 0;  // bytes handed on so far
};

class WriteSchedule {
 public:
  // One entry per printer in list order; `oneAtATime[i]` marks a printer
  // whose library may not serve two printers at once. At most `parallel`
  // printers are in flight (taken as 1 when smaller); each gets `bytesEach`.
  WriteSchedule(const std::vector<bool>& oneAtATime, int32_t parallel, uint32_t bytesEach);

  // The printer to start now, marked writing, or -1 when every place is
  // taken or no waiting printer may start beside those in flight. Printers
  // start in list order; one that must wait for its library is passed over
  // so that it holds up nobody behind it.
  int32_t Next();
  void Sent(int32_t printer, uint32_t bytes);
  // Ends a printer in flight: code 0 written, any other failed.
  void End(int32_t printer, int32_t code);

  bool Finished() const;  // no printer waiting or in flight
  int32_t InFlight() const { return inFlight_; }
  int32_t Count(PrinterRun state) const;
  size_t Size() const { return printers_.size(); }
  const ScheduledPrinter& At(size_t printer) const { return printers_[printer]; }
  uint32_t BytesEach() const { return bytesEach_; }
  uint64_t BytesSent() const;
  uint64_t BytesTotal() const { return static_cast<uint64_t>(bytesEach_) * printers_.size(); }
  // 0 when every printer was written, else the code of a failed write.
  int ExitCode() const;

 private:
  std::vector<ScheduledPrinter> printers_;
  int32_t parallel_;
  uint32_t bytesEach_;
  int32_t inFlight_ = 0;
  size_t firstWaiting_ = 0;  // nothing before it waits
};

// Percentage of `total` that `sent` is, cut to an integer (0 for nothing to
// send).
int32_t PercentOf(uint64_t sent, uint64_t total);

// The state column of a printer's row: waiting, writing with its
// percentage, written, or failed with `messageLine` (the first line of the
// message its code gives). languageIndex 0 Japanese, else English.
std::wstring RowStateText(const ScheduledPrinter& printer, uint32_t bytesEach, const std::wstring& messageLine,
                          int languageIndex);
// The total under the list: bytes and percentage of the whole run and how
// many printers ended which way.
std::wstring TotalText(const WriteSchedule& schedule, int languageIndex);

// One failed printer as the closing box names it.
struct FailedPrinter {
  std::wstring address;
  std::wstring messageLine;
};
// Lines named in the box at most; the report lists every printer.
constexpr size_t kFailedLinesShown = 20;
enum class ListOperation { kWrite, kReset };
// The one box at the end of a run in which printers failed: which failed
// and why, and how many were written (or reset).
std::wstring FailedPrintersText(const std::vector<FailedPrinter>& failed, size_t succeeded, size_t total,
                                int languageIndex, ListOperation operation = ListOperation::kWrite);
