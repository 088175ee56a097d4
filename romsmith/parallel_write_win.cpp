// The LAN write with several printers in flight. Each printer is written by
// a worker thread of its own through its library's port calls; the GUI
// thread keeps the schedule (write_schedule.h), takes the spooler switch,
// draws the progress list and leads the operator through the end. A worker
// touches only its job record, its own port handle and the firmware block,
// which nobody changes while workers run; the one-by-one send path and its
// globals are never used here. The run returns only after every worker it
// started has ended, and each worker ends within the bounds of its port
// calls, so an Exit or a closing program waits for them as it waits for a
// one-by-one run.
#include "parallel_write.h"

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "debug_log.h"
#include "exit_codes.h"
#include "firmware_file.h"
#include "main_window.h"
#include "message_catalog.h"
#include "net_binding.h"
#include "port_io.h"
#include "port_journal.h"
#include "program_frame.h"
#include "program_state.h"
#include "progress_dialog.h"
#include "resource.h"
#include "result_codes.h"
#include "run_record.h"
#include "settings_types.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"
#include "write_schedule.h"

namespace {

constexpr int kOpenAttempts = 3;
constexpr int kWriteCallLimit = 10;
constexpr DWORD kOpenRetryMs = 3;
constexpr DWORD kRedrawMs = 100;  // at most ten redraws a second, whatever the list
constexpr SIZE_T kWorkerStackBytes = 64 * 1024;
constexpr int kListHeightDlu = 104;  // the dialog grows by this to hold the list
constexpr int kAddressColumnPx = 105;
constexpr int kModelColumnPx = 95;

const TextPair kSendingText = {
    {L"ファームウェアデータをプリンタに送信しています..."
     L"\nしばらくお待ちください。\n注意）Flash書込みが完了するまでは、\nプリン"
     L"タの電源を切らないでください。",
     L"Sending the firmware data to the printer...\nPlease wait.\nNote) Do not "
     L"turn off the printer until all the "
     L"data has been written to the Flash ROM."}};
const TextPair kStateColumnTitle = {{L"状態", L"State"}};

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

// What one worker needs and gives back. The GUI thread fills it before the
// thread starts and reads `sent` while it runs; the rest only once
// `finished` is set.
struct LanJob {
  char address[32];
  const NetLibraryBinding *library;
  const BYTE *data;
  uint32_t length;
  DWORD writeSliceMs;
  HANDLE wake;  // set when the job ends
  volatile LONG sent;
  volatile LONG finished;
  int32_t result;
  const char *failure;  // the cause for the log
  HANDLE thread;
  DWORD startTick;
  DWORD endTick;
};

// One chunk through the library with the bounds of the one-by-one LAN send:
// a call that waited at least one write slice and took nothing is a wait
// while the chunk's grace lasts; one that fails sooner is a refusal or a
// broken connection; partial calls end the chunk after kWriteCallLimit.
bool SendChunk(LanJob *job, LqHandle port, const BYTE *position, uint32_t chunk, ULONGLONG grace, uint32_t *sent) {
  *sent = 0;
  const ULONGLONG chunkStart = GetTickCount64();
  int calls = 0;
  for (;;) {
    uint32_t written = 0;
    const ULONGLONG callStart = GetTickCount64();
    const int ok = job->library->WritePort(port, reinterpret_cast<const char *>(position), chunk, &written);
    const ULONGLONG now = GetTickCount64();
    if (written > chunk) written = chunk;  // never trust a count beyond what was offered
    if (ok == 1) {
      if (chunk != 0 && written == 0) {
        job->failure = "PRT_ERR_SEND(dwWriteSize != 0) && (dwWritten == 0)";
        return false;
      }
      *sent += written;
      return true;
    }
    if (written != 0) {
      position += written;
      chunk -= written;
      *sent += written;
      if (++calls >= kWriteCallLimit) {
        job->failure = "PRT_ERR_SEND(dwLoop >= 10)";
        return false;
      }
    }
    if (chunk == 0) return true;  // all handed on, although the call said otherwise
    if (written == 0 && (now - callStart < job->writeSliceMs || now - chunkStart >= grace)) {
      job->failure = "PRT_ERR_SEND(dwWriteSize != 0) && (dwWritten == 0)";
      return false;
    }
  }
}

// Open, the block in the one-by-one chunks, close: the close's result
// tells whether the printer took everything.
int32_t WriteToPrinter(LanJob *job) {
  const NetLibraryBinding *lib = job->library;
  if (!lib->OpenPort || !lib->SetUseICMP || !lib->WritePort || !lib->ClosePort) {
    job->failure = "PRT_ERR_OPEN(no library)";
    return PRT_ERR_OPEN;
  }
  LqHandle port = -1;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const LqHandle lq = lib->OpenPort(job->address);
    if (lq != -1) {
      if (lib->SetUseICMP(1) != 0) {
        port = lq;
        break;
      }
      lib->ClosePort(lq);  // the library owns a record per open port
    }
    Sleep(kOpenRetryMs);
  }
  if (port == -1) {
    job->failure = "PRT_ERR_OPEN(OpenPort)";
    return PRT_ERR_OPEN;
  }
  uint32_t waitUnits = job->length / kBytesPerWaitUnit;
  if (waitUnits < kMinWriteWaitUnits) waitUnits = kMinWriteWaitUnits;
  const ULONGLONG grace = static_cast<ULONGLONG>(waitUnits) * job->writeSliceMs;
  int32_t result = 0;
  uint32_t position = 0;
  while (position < job->length) {
    const uint32_t chunk = job->length - position < kChunkBytesFile ? job->length - position : kChunkBytesFile;
    uint32_t sent = 0;
    if (!SendChunk(job, port, job->data + position, chunk, grace, &sent)) {
      result = PRT_ERR_SEND;
      break;
    }
    position += sent;
    InterlockedExchange(&job->sent, static_cast<LONG>(position));
  }
  if (lib->ClosePort(port) != 1 && result == 0) {
    job->failure = "PRT_ERR_SEND(ClosePort)";
    result = PRT_ERR_SEND;
  }
  return result;
}

DWORD WINAPI WriterThread(void *parameter) {
  auto *job = static_cast<LanJob *>(parameter);
  job->result = WriteToPrinter(job);
  job->endTick = GetTickCount();
  InterlockedExchange(&job->finished,
                      1);  // publishes the result before the flag
  SetEvent(job->wake);
  return 0;
}

// The first line of the message the operator would see for `code`.
std::wstring MessageLine(int32_t code) {
  const wchar_t *text = CatalogueText(CatalogueOwner::kRomsmith, MessageNumberForCode(code), Language());
  std::wstring line = text != nullptr ? text : L"";
  line = line.substr(0, line.find_first_of(L"\r\n"));
  while (!line.empty() && line.back() == L' ') line.pop_back();
  return line;
}

void MoveDown(HWND dialog, int id, int dy) {
  HWND control = GetDlgItem(dialog, id);
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&r), 2);
  SetWindowPos(control, nullptr, r.left, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The progress dialog of a run with several printers in flight: a row per
// printer (address, model, state) under the main message, the run's total
// in the byte text and the bar.
class ProgressList {
 public:
  void Open(HWND dialog, const WriteSchedule &schedule) {
    dialog_ = dialog;
    RECT grow = {0, 0, 0, kListHeightDlu};
    MapDialogRect(dialog, &grow);
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, frame.left, frame.top - grow.bottom / 2, frame.right - frame.left,
                 frame.bottom - frame.top + grow.bottom, SWP_NOZORDER);
    MoveDown(dialog, IDC_PROGRESS_OK, grow.bottom);
    MoveDown(dialog, IDC_PROGRESS_WAIT_LINE, grow.bottom);
    RECT place = {7, 72, 7 + 260, 72 + kListHeightDlu - 4};
    MapDialogRect(dialog, &place);
    list_ =
        CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS,
                        place.left, place.top, place.right - place.left, place.bottom - place.top, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_LIST)), g_program.instance, nullptr);
    if (list_ == nullptr) return;
    SendMessageW(list_, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const int language = Language();
    const int stateWidth =
        place.right - place.left - kAddressColumnPx - kModelColumnPx - GetSystemMetrics(SM_CXVSCROLL) - 4;
    AddColumn(0, kLanColumnTitles[1].In(language), kAddressColumnPx);
    AddColumn(1, kLanColumnTitles[0].In(language), kModelColumnPx);
    AddColumn(2, kStateColumnTitle.In(language), stateWidth > 60 ? stateWidth : 60);
    shown_.assign(schedule.Size(), std::wstring());
    SendMessageW(list_, LVM_SETITEMCOUNT, schedule.Size(), 0);
    for (size_t i = 0; i < schedule.Size(); ++i) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = g_settings.lanList[i].ipAddressW;
      SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      SetCell(i, 1, g_settings.lanList[i].modelNameW);
    }
  }

  // Rewrites the cells whose text changed, the total and the bar.
  void Draw(const WriteSchedule &schedule, const std::vector<std::wstring> &messageLines) {
    const int language = Language();
    for (size_t i = 0; list_ != nullptr && i < schedule.Size(); ++i) {
      std::wstring state = RowStateText(schedule.At(i), schedule.BytesEach(), messageLines[i], language);
      if (state == shown_[i]) continue;
      shown_[i] = state;
      SetCell(i, 2, state.c_str());
    }
    SetDlgItemTextW(dialog_, IDC_PROGRESS_BYTES, TotalText(schedule, language).c_str());
    SendDlgItemMessageW(dialog_, IDC_PROGRESS_BAR, PBM_SETPOS,
                        static_cast<WPARAM>(PercentOf(schedule.BytesSent(), schedule.BytesTotal())), 0);
  }

 private:
  void AddColumn(int index, const wchar_t *title, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t *>(title);
    SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
  }
  void SetCell(size_t row, int column, const wchar_t *text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t *>(text);
    SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  }

  HWND dialog_ = nullptr;
  HWND list_ = nullptr;
  std::vector<std::wstring> shown_;
};

// The library a listed printer is reached through, as FillConnection picks it.
int32_t SlotOf(const LanPrinterRecord &record) {
  int32_t slot = record.librarySlot == kNetSlotSx ? kNetSlotSx : kNetSlotLanquay;
  if (g_netLibraries[slot].module == nullptr) slot = kNetSlotCount - 1 - slot;
  return slot;
}

// After a run in which data went out: a printer that could not be put back
// is named, as after a one-by-one run.
void TellPrintersLeftOnFile(HWND owner) {
  const std::vector<std::wstring> left = PrintersLeftOnFile();
  if (left.empty()) return;
  std::vector<std::u16string> names;
  for (const std::wstring &name : left) names.emplace_back(name.begin(), name.end());
  const std::u16string text = PortJournalLeftMessage(g_settings.languageIndex, names);
  g_progress.printersLeftOnFile = 1;
  MessageBoxW(owner, std::wstring(text.begin(), text.end()).c_str(), kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
}

class ParallelRun {
 public:
  explicit ParallelRun(const std::vector<bool> &oneAtATime)
      : schedule_(oneAtATime, g_settings.lanParallel, FirmwareData.length),
        jobs_(new LanJob[oneAtATime.size()]()),
        messageLines_(oneAtATime.size()),
        wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~ParallelRun() {
    if (wake_ != nullptr) CloseHandle(wake_);
  }

  void Run(HWND dialog) {
    list_.Open(dialog, schedule_);
    DWORD lastDraw = GetTickCount() - kRedrawMs;
    for (;;) {
      Collect();
      for (int32_t i = schedule_.Next(); i >= 0; i = schedule_.Next()) {
        const int32_t result = Start(i);
        if (result != 0) Ended(i, result, 0, 0);
      }
      if (schedule_.Finished()) break;
      if (GetTickCount() - lastDraw >= kRedrawMs) {
        list_.Draw(schedule_, messageLines_);
        lastDraw = GetTickCount();
      }
      if (wake_ != nullptr) {
        WaitPumping(wake_, kRedrawMs);
      } else {
        TickWait(kRedrawMs);
      }
    }
    list_.Draw(schedule_, messageLines_);
  }

  const WriteSchedule &schedule() const { return schedule_; }
  const std::wstring &MessageLineOf(size_t printer) const { return messageLines_[printer]; }

 private:
  int32_t Start(int32_t i) {
    const LanPrinterRecord &record = g_settings.lanList[i];
    PrinterConnection connection = {};
    connection.portKind = PORT_LAN;
    connection.handle = INVALID_HANDLE_VALUE;
    wcsncpy(connection.portName, record.ipAddressW, kPortNameChars - 1);
    const int32_t taken = PortReplaceMore(&connection);
    if (taken != 0) {
      DebugLogF("ParallelWrite Printer %s Err(PortReplace %ld)", record.ipAddress, static_cast<long>(taken));
      return taken;
    }
    LanJob &job = jobs_[i];
    std::memcpy(job.address, record.ipAddress, sizeof(job.address));
    job.address[sizeof(job.address) - 1] = '\0';
    job.library = &g_netLibraries[SlotOf(record)];
    job.data = FirmwareData.data;
    job.length = FirmwareData.length;
    job.writeSliceMs = g_portIoSeams.writeSliceMs;
    job.wake = wake_;
    job.failure = "";
    job.startTick = GetTickCount();
    job.thread =
        CreateThread(nullptr, kWorkerStackBytes, WriterThread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (job.thread == nullptr) {
      DebugLogF("ParallelWrite Printer %s Err(CreateThread %lu)", job.address, GetLastError());
      return PRT_ERR_MEMORY;
    }
    DebugLogF("ParallelWrite Printer %s Start", job.address);
    return 0;
  }

  // Takes in the progress of every worker and the end of those that ended.
  void Collect() {
    for (size_t i = 0; i < schedule_.Size(); ++i) {
      LanJob &job = jobs_[i];
      if (job.thread == nullptr) continue;
      const bool finished = InterlockedCompareExchange(&job.finished, 0, 0) != 0;
      const auto sent = static_cast<uint32_t>(InterlockedCompareExchange(&job.sent, 0, 0));
      schedule_.Sent(static_cast<int32_t>(i), sent);
      if (!finished) continue;
      WaitForSingleObject(job.thread, INFINITE);
      CloseHandle(job.thread);
      job.thread = nullptr;
      if (job.result == 0) {
        DebugLogF("ParallelWrite Printer %s Success", job.address);
      } else {
        DebugLogF("ParallelWrite Printer %s Err(%s)", job.address, job.failure);
      }
      Ended(static_cast<int32_t>(i), job.result, job.result == 0 ? job.length : sent,
            static_cast<double>(job.endTick - job.startTick) / 1000.0);
    }
  }

  void Ended(int32_t i, int32_t result, uint32_t sent, double seconds) {
    schedule_.End(i, result);
    if (result != 0) messageLines_[static_cast<size_t>(i)] = MessageLine(result);
    RecordPrinterOutcome(i, result, sent, seconds);
  }

  WriteSchedule schedule_;
  std::unique_ptr<LanJob[]> jobs_;
  std::vector<std::wstring> messageLines_;
  HANDLE wake_;
  ProgressList list_;
};

void ShowSendingStep(HWND dialog) {
  SetWindowTextW(dialog, kProgramTitle);
  SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, kSendingText.In(Language()));
  SetDlgItemTextW(dialog, IDC_PROGRESS_WAIT_LINE, L"");
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_CLOSING), SW_HIDE);
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  HICON icon = LoadIconW(nullptr, IDI_EXCLAMATION);
  SendDlgItemMessageW(dialog, IDC_INFO_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void FreeFirmwareBlock() {
  if (FirmwareData.data != nullptr) GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};
}

// The end: all written gives today's closing messages; otherwise one box
// names the failed printers, and the closing messages follow when any
// printer was written.
void FinishRun(const ParallelRun &run) {
  const WriteSchedule &schedule = run.schedule();
  HWND dialog = g_program.progressDialog;
  const auto written = static_cast<size_t>(schedule.Count(PrinterRun::kWritten));
  if (written < schedule.Size()) {
    g_mainWindow.exitCode = kExitWriteFailed;
    std::vector<FailedPrinter> failed;
    for (size_t i = 0; i < schedule.Size(); ++i) {
      if (schedule.At(i).state == PrinterRun::kFailed) {
        failed.push_back({g_settings.lanList[i].ipAddressW, run.MessageLineOf(i)});
      }
    }
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
  g_progress.someFailed = written < schedule.Size() ? 1 : 0;
  TellPrintersLeftOnFile(dialog);
  ShowPowerLampStep();
}

}  // namespace

void RunParallelWrite() {
  HWND window = g_program.mainWindow;
  const auto count = static_cast<size_t>(g_settings.lanCount > 0 ? g_settings.lanCount : 0);
  std::vector<bool> oneAtATime(count);
  int oneAtATimeCount = 0;
  for (size_t i = 0; i < count; ++i) {
    // The other vendor's library is not known to be safe from several
    // threads: its printers are written one after another.
    oneAtATime[i] = SlotOf(g_settings.lanList[i]) == kNetSlotSx;
    oneAtATimeCount += oneAtATime[i] ? 1 : 0;
  }
  DebugLogF("ParallelWrite Start (Parallel = %ld, printers = %lu)", static_cast<long>(g_settings.lanParallel),
            static_cast<unsigned long>(count));
  if (oneAtATimeCount > 0) {
    DebugLogF("ParallelWrite %d printer(s) of SxJcp32.dll written one at a time", oneAtATimeCount);
  }
  g_progress.writeSucceeded = 0;
  g_progress.printersLeftOnFile = 0;
  g_progress.someFailed = 0;
  HWND dialog = OpenProgressDialog(kProgressWriting);
  if (dialog == nullptr) {
    FreeFirmwareBlock();
    g_mainWindow.exitCode = kExitWriteFailed;
    EndBusy(window);
    EndUnattendedRun(kExitWriteFailed);
    CloseRunRecord(kExitWriteFailed);
    return;
  }
  // Update mode reads each printer's version before any write starts: a
  // read gives back the spooler ports when it ends, which must not happen
  // under a write in flight.
  SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, kPreparingText.In(Language()));
  SetDlgItemTextW(dialog, IDC_PROGRESS_BYTES, L"");
  PumpMessages();
  for (size_t i = 0; i < count; ++i) RecordPrinterStart(static_cast<int32_t>(i));

  ShowSendingStep(dialog);
  {
    ParallelRun run(oneAtATime);
    run.Run(dialog);
    // One give-back for every port the run took; a printer left on "FILE:"
    // is named below and tried again by the next give-back.
    PortReplace(REPLACE_OFF, nullptr);
    FreeFirmwareBlock();
    DebugLogF("ParallelWrite End (written %ld, failed %ld)",
              static_cast<long>(run.schedule().Count(PrinterRun::kWritten)),
              static_cast<long>(run.schedule().Count(PrinterRun::kFailed)));
    FinishRun(run);
  }
  if (g_mainWindow.exitRequested && g_program.progressDialog != nullptr) {
    // The printer work is over and its ports are given back: the closing
    // messages give way to the operator's Exit.
    DestroyWindow(g_program.progressDialog);
  }
}
