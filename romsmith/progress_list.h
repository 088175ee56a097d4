// The progress dialog's list while several LAN printers are written at
// once: a row per printer (address, model, state) under the main message,
// the run's total in the byte text and the bar. Drawn only when asked, so
// the caller bounds how often.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "write_schedule.h"

class ProgressList {
 public:
  // Grows the dialog and adds the list with a row per printer of the schedule.
  void Open(HWND dialog, const WriteSchedule& schedule);
  bool IsOpen() const { return dialog_ != nullptr; }
  // Rewrites the state cells whose text changed, the total and the bar;
  // `messageLines` holds the first message line of each failed printer.
  void Draw(const WriteSchedule& schedule, const std::vector<std::wstring>& messageLines);

 private:
  void AddColumn(int index, const wchar_t* title, int width);
  void SetCell(size_t row, int column, const wchar_t* text);

  HWND dialog_ = nullptr;
  HWND list_ = nullptr;
  std::vector<std::wstring> shown_;
};
