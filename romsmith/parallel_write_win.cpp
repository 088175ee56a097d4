// The LAN list served side by side. The GUI thread keeps the schedule
// (write_schedule.h), takes each printer's spooler switch before its worker
// starts and gives all back once at the end (the switch and its journal are
// the GUI thread's alone), draws the progress list at most ten times a
// second and leads the operator through the end; the workers (lan_worker.h)
// do the printer work. A run returns only after every worker it started has
// ended, and each worker ends within the bounds of its port calls, so an
// Exit or a closing program waits for them as it waits for a one-by-one run.
#include "parallel_write.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "debug_log.h"
#include "exit_codes.h"
#include "firmware_file.h"
#include "lan_worker.h"
#include "main_window.h"
#include "message_catalog.h"
#include "net_binding.h"
#include "port_io.h"
#include "port_journal.h"
#include "program_frame.h"
#include "program_state.h"
#include "progress_dialog.h"
#include "progress_list.h"
#include "resource.h"
#include "result_codes.h"
#include "result_message.h"
#include "run_record.h"
#include "run_report_files.h"
#include "settings_rules.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"
#include "write_schedule.h"

namespace {

constexpr DWORD kRedrawMs = 100;  // at most ten redraws a second, whatever the list
// How often the report is saved while printers are in flight: each save is
// a flushed file on the window's thread, and one per printer's end made
// the window's thread the run's bottleneck with dozens of printers. Should
// the process end meanwhile, a printer ended since the last save shows as
// interrupted, never as written.
constexpr DWORD kReportSaveMs = 500;
const TextPair kSendingText = {
    {L"ファームウェアデータをプリンタに送信しています...\nしばらくお待ちください。\n"
     L"注意）Flash書込みが完了するまでは、\nプリンタの電源を切らないでください。",
     L"Sending the firmware data to the printer...\nPlease wait.\nNote) Do not turn off the printer until all the "
     L"data has been written to the Flash ROM."}};

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

// The first line of the message the operator would see for `code`.
std::wstring MessageLine(int32_t code) {
  const wchar_t* text = CatalogueText(CatalogueOwner::kRomsmith, MessageNumberForCode(code), Language());
  std::wstring line = text != nullptr ? text : L"";
  line = line.substr(0, line.find_first_of(L"\r\n"));
  while (!line.empty() && line.back() == L' ') line.pop_back();
  return line;
}

// The library a listed printer is reached through, as FillConnection picks it.
int32_t SlotOf(const LanPrinterRecord& record) {
  int32_t slot = record.librarySlot == kNetSlotSx ? kNetSlotSx : kNetSlotLanquay;
  if (g_netLibraries[slot].module == nullptr) slot = kNetSlotCount - 1 - slot;
  return slot;
}

std::u16string VersionText(const char* ansi) {
  wchar_t wide[kFirmwareTextBytes] = {};
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kFirmwareTextBytes - 1);
  return ReportText(wide);
}

// One kind of job over some printers of the list, at most `places` at once.
class SideBySide {
 public:
  using Prepare = std::function<void(size_t, LanJob&)>;
  using Ended = std::function<void(size_t, const LanJob&)>;

  SideBySide(const char* name, uint16_t kind, std::vector<int32_t> printers, int32_t places, uint32_t bytesEach)
      : name_(name),
        kind_(kind),
        printers_(std::move(printers)),
        schedule_(OneAtATime(printers_), places, bytesEach),
        jobs_(new LanJob[printers_.size()]),
        wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~SideBySide() {
    if (wake_ != nullptr) CloseHandle(wake_);
  }
  SideBySide(const SideBySide&) = delete;
  SideBySide& operator=(const SideBySide&) = delete;

  // Serves every printer; `tick` runs once the first printers are started,
  // then at most every kRedrawMs and once at the end.
  void Run(const Prepare& prepare, const Ended& ended, const std::function<void()>& tick = nullptr) {
    TakePorts();
    DWORD lastTick = GetTickCount() - kRedrawMs;
    for (;;) {
      Collect(ended);
      std::vector<size_t> made;
      for (int32_t i = schedule_.Next(); i >= 0; i = schedule_.Next()) {
        if (Make(static_cast<size_t>(i), prepare)) {
          made.push_back(static_cast<size_t>(i));
        } else {
          Finish(static_cast<size_t>(i), ended);
        }
      }
      for (size_t i : made) StartLanJob(&jobs_[i]);
      if (schedule_.Finished()) break;
      if (tick && GetTickCount() - lastTick >= kRedrawMs) {
        tick();
        lastTick = GetTickCount();
      }
      if (wake_ != nullptr) {
        WaitPumping(wake_, kRedrawMs);
      } else {
        TickWait(kRedrawMs);
      }
    }
    if (tick) tick();
  }

  const WriteSchedule& schedule() const { return schedule_; }
  int32_t PrinterAt(size_t i) const { return printers_[i]; }
  // The bytes printer i has handed on and the seconds since it started.
  uint32_t SentBy(size_t i) { return LanJobSent(&jobs_[i]); }
  double SecondsOf(size_t i) const { return static_cast<double>(GetTickCount() - jobs_[i].startTick) / 1000.0; }

 private:
  // The other vendor's library is not known to be safe from several
  // threads: its printers are served one after another.
  static std::vector<bool> OneAtATime(const std::vector<int32_t>& printers) {
    std::vector<bool> flags;
    for (int32_t p : printers) flags.push_back(SlotOf(g_settings.lanList[p]) == kNetSlotSx);
    return flags;
  }

  // The spooler switch of every printer at once, before the first
  // exchange: one pass over the spooler instead of one per printer.
  void TakePorts() {
    std::vector<std::wstring> ports;
    for (int32_t p : printers_) ports.emplace_back(g_settings.lanList[p].ipAddressW);
    PortReplaceList(ports, &taken_);
  }

  bool Make(size_t i, const Prepare& prepare) {
    const LanPrinterRecord& record = g_settings.lanList[printers_[i]];
    LanJob& job = jobs_[i];
    std::memcpy(job.address, record.ipAddress, sizeof(job.address));
    job.address[sizeof(job.address) - 1] = '\0';
    if (taken_[i] != 0) {
      job.result = taken_[i];
      job.failure = "PortReplace";
      return false;
    }
    job.kind = kind_;
    job.library = &g_netLibraries[SlotOf(record)];
    job.writeSliceMs = g_portIoSeams.writeSliceMs;
    job.wake = wake_;
    prepare(i, job);
    DebugLogF("%s Printer %s Start", name_, job.address);
    return MakeLanJob(&job);
  }

  void Collect(const Ended& ended) {
    for (size_t i = 0; i < printers_.size(); ++i) {
      LanJob& job = jobs_[i];
      if (job.thread == nullptr) continue;
      const bool finished = LanJobFinished(&job);
      schedule_.Sent(static_cast<int32_t>(i), LanJobSent(&job));
      if (!finished) continue;
      JoinLanJob(&job);
      Finish(i, ended);
    }
  }

  void Finish(size_t i, const Ended& ended) {
    const LanJob& job = jobs_[i];
    if (job.result == 0) {
      DebugLogF("%s Printer %s Success", name_, job.address);
    } else {
      DebugLogF("%s Printer %s Err(%s %ld)", name_, job.address, job.failure, static_cast<long>(job.result));
    }
    schedule_.End(static_cast<int32_t>(i), job.result);
    ended(i, job);
  }

  const char* name_;
  uint16_t kind_;
  std::vector<int32_t> printers_;
  WriteSchedule schedule_;
  std::unique_ptr<LanJob[]> jobs_;
  std::vector<int32_t> taken_;  // the spooler switch's result per printer
  HANDLE wake_;
};

SideBySide* g_writing = nullptr;  // the side-by-side write in progress

void UpdatePrintersInFlight() {
  if (g_writing == nullptr) return;
  for (size_t i = 0; i < g_writing->schedule().Size(); ++i) {
    if (g_writing->schedule().At(i).state != PrinterRun::kWriting) continue;
    RecordPrinterRunning(g_writing->PrinterAt(i), g_writing->SentBy(i), g_writing->SecondsOf(i));
  }
}

std::vector<int32_t> WholeList() {
  std::vector<int32_t> printers;
  for (int32_t i = 0; i < g_settings.lanCount; ++i) printers.push_back(i);
  return printers;
}

void FreeFirmwareBlock() {
  if (FirmwareData.data != nullptr) GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};
}

void ShowSendingStep(HWND dialog) {
  SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, kSendingText.In(Language()));
  SetDlgItemTextW(dialog, IDC_PROGRESS_WAIT_LINE, L"");
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  HICON icon = LoadIconW(nullptr, IDI_EXCLAMATION);
  SendDlgItemMessageW(dialog, IDC_INFO_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

// Version reads go to every printer at once, whatever Parallel says: a
// read is a short exchange, and the one-by-one reads cost seconds each.
int32_t ReadPlaces(size_t printers) {
  return static_cast<int32_t>(printers < static_cast<size_t>(kMaxLanParallel) ? printers : kMaxLanParallel);
}

}  // namespace

void ReadVersionsBeforeWrites() {
  if (g_settings.portKind != PORT_LAN || !RecordReadsVersions()) return;
  const std::vector<int32_t> printers = WholeList();
  SideBySide reads("ParallelRead", MODE_READFIX, printers, ReadPlaces(printers.size()), 0);
  reads.Run([](size_t, LanJob&) {},
            [&](size_t i, const LanJob& job) {
              RecordVersionRead(reads.PrinterAt(i), true, job.result == 0, VersionText(job.version));
            });
  // The ports are given back before the writes take them again.
  PortReplace(REPLACE_OFF, nullptr);
}

namespace {

// The end: all written gives today's closing messages; otherwise one box
// names the failed printers, and the closing messages follow when any
// printer was written.
void FinishRun(const SideBySide& run, const std::vector<std::wstring>& messageLines) {
  const WriteSchedule& schedule = run.schedule();
  HWND dialog = g_program.progressDialog;
  const auto written = static_cast<size_t>(schedule.Count(PrinterRun::kWritten));
  std::vector<FailedPrinter> failed;
  for (size_t i = 0; i < schedule.Size(); ++i) {
    if (schedule.At(i).state == PrinterRun::kFailed) {
      failed.push_back({g_settings.lanList[run.PrinterAt(i)].ipAddressW, messageLines[i]});
    }
  }
  if (!failed.empty()) {
    g_mainWindow.exitCode = kExitWriteFailed;
    const std::wstring text = FailedPrintersText(failed, written, schedule.Size(), Language());
    if (dialog != nullptr) MessageBoxW(dialog, text.c_str(), kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
  }
  if (dialog == nullptr) return;
  if (written == 0) {
    g_progress.state = kProgressClosing;
    SendMessageW(dialog, WM_COMMAND, IDC_PROGRESS_OK, 0);
    return;
  }
  g_progress.writeSucceeded = 1;
  g_progress.someFailed = failed.empty() ? 0 : 1;
  // Update mode names the printers left on "FILE:" after its version reads,
  // which give the ports back once more.
  if (g_settings.writingMethod != 1) ShowPrintersLeftOnFile(dialog, true);
  ShowPowerLampStep();
}

}  // namespace

void RunParallelWrite() {
  HWND window = g_program.mainWindow;
  const std::vector<int32_t> printers = WholeList();
  int oneAtATime = 0;
  for (int32_t p : printers) oneAtATime += SlotOf(g_settings.lanList[p]) == kNetSlotSx ? 1 : 0;
  DebugLogF("ParallelWrite Start (Parallel = %ld, printers = %lu)", static_cast<long>(g_settings.lanParallel),
            static_cast<unsigned long>(printers.size()));
  if (oneAtATime > 0) DebugLogF("ParallelWrite %d printer(s) of SxJcp32.dll written one at a time", oneAtATime);
  g_progress.writeSucceeded = 0;
  g_progress.someFailed = 0;
  HWND dialog = OpenProgressDialog(kProgressWriting);
  if (dialog == nullptr) {
    EndLanWorkers();
    FreeFirmwareBlock();
    g_mainWindow.exitCode = kExitWriteFailed;
    EndBusy(window);
    EndUnattendedRun(kExitWriteFailed);
    CloseRunRecord(kExitWriteFailed);
    return;
  }
  SetWindowTextW(dialog, kProgramTitle);
  SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, kPreparingText.In(Language()));
  SetDlgItemTextW(dialog, IDC_PROGRESS_BYTES, L"");
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_CLOSING), SW_HIDE);
  {
    SideBySide run("ParallelWrite", MODE_FWSEND, printers, g_settings.lanParallel, FirmwareData.length);
    std::vector<std::wstring> messageLines(printers.size());
    ProgressList list;
    ReadVersionsBeforeWrites();
    ShowSendingStep(dialog);
    DWORD lastSave = GetTickCount();
    g_writing = &run;
    SetInFlightUpdate(UpdatePrintersInFlight);
    run.Run(
        [](size_t, LanJob& job) {
          job.data = FirmwareData.data;
          job.length = FirmwareData.length;
        },
        [&](size_t i, const LanJob& job) {
          if (job.result != 0) messageLines[i] = MessageLine(job.result);
          const uint32_t sent = job.result == 0 ? job.length : run.schedule().At(i).sent;
          const double seconds = job.endTick != 0 ? static_cast<double>(job.endTick - job.startTick) / 1000.0 : 0;
          RecordPrinterOutcome(run.PrinterAt(i), job.result, sent, seconds);
        },
        [&] {
          // Made once the first printers are on their way, so that making
          // it delays none of them.
          if (!list.IsOpen()) list.Open(dialog, run.schedule());
          list.Draw(run.schedule(), messageLines);
          if (GetTickCount() - lastSave < kReportSaveMs) return;
          SaveRunRecord();
          lastSave = GetTickCount();
        });
    g_writing = nullptr;
    SetInFlightUpdate(nullptr);
    SaveRunRecord();
    // One give-back for every port the run took; a printer left on "FILE:"
    // is named below and tried again by the next give-back.
    PortReplace(REPLACE_OFF, nullptr);
    FreeFirmwareBlock();
    DebugLogF("ParallelWrite End (written %ld, failed %ld)",
              static_cast<long>(run.schedule().Count(PrinterRun::kWritten)),
              static_cast<long>(run.schedule().Count(PrinterRun::kFailed)));
    FinishRun(run, messageLines);
  }
  EndLanWorkers();  // what the run did not take
  if (g_mainWindow.exitRequested && g_program.progressDialog != nullptr) {
    // The printer work is over and its ports are given back: the closing
    // messages give way to the operator's Exit.
    DestroyWindow(g_program.progressDialog);
  }
}

void ReadVersionsSideBySide(HWND dialog) {
  if (!RecordReadsVersions()) return;
  BeginVersionCheck(dialog);
  const std::vector<int32_t> written = RecordWrittenPrinters();
  SideBySide reads("ParallelRead", MODE_READFIX, written, ReadPlaces(written.size()), 0);
  // A printer that starts late in a long list gets what is left of the
  // list's time, if less than its own.
  const DWORD listStart = GetTickCount();
  reads.Run(
      [listStart](size_t, LanJob& job) {
        const DWORD spent = GetTickCount() - listStart;
        const DWORD left = spent < kVersionListMs ? kVersionListMs - spent : 0;
        job.tries = left == 0 ? 0 : kVersionTries;
        job.retryMs = kVersionRetryMs;
        job.triesLimitMs = left < kVersionTriesMs ? left : kVersionTriesMs;
      },
      [&](size_t i, const LanJob& job) {
        const std::u16string version = VersionText(job.version);
        RecordVersionRead(reads.PrinterAt(i), false, job.result == 0, version);
      });
  PortReplace(REPLACE_OFF, nullptr);
  EndVersionCheck(dialog);
}

void ResetSideBySide() {
  HWND window = g_program.mainWindow;
  SideBySide resets("ParallelReset", MODE_RESET3, WholeList(), g_settings.lanParallel, 0);
  std::vector<FailedPrinter> failed;
  resets.Run([](size_t, LanJob&) {},
             [&](size_t i, const LanJob& job) {
               if (job.result != 0) {
                 failed.push_back({g_settings.lanList[resets.PrinterAt(i)].ipAddressW, MessageLine(job.result)});
               }
             });
  PortReplace(REPLACE_OFF, nullptr);
  g_frame.busy = 1;
  if (!failed.empty()) {
    const size_t reset = resets.schedule().Size() - failed.size();
    const std::wstring text =
        FailedPrintersText(failed, reset, resets.schedule().Size(), Language(), ListOperation::kReset);
    MessageBoxW(window, text.c_str(), kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
  }
  ShowPrintersLeftOnFile(window, false);
}
