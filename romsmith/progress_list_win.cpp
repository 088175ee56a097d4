#include "progress_list.h"

#include <commctrl.h>

#include "program_state.h"
#include "resource.h"
#include "settings_types.h"
#include "texts.h"

namespace {

constexpr int kListHeightDlu = 104;  // the dialog grows by this to hold the list
constexpr int kAddressColumnPx = 105;
constexpr int kModelColumnPx = 95;

const TextPair kStateColumnTitle = {{L"状態", L"State"}};

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }

void MoveDown(HWND dialog, int id, int dy) {
  HWND control = GetDlgItem(dialog, id);
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  SetWindowPos(control, nullptr, r.left, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace

void ProgressList::Open(HWND dialog, const WriteSchedule& schedule) {
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
  // Filled with its drawing held back: a visible list redraws its rows and
  // scroll bar at every insert otherwise, for milliseconds a row.
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list_, LVM_SETITEMCOUNT, schedule.Size(), 0);
  for (size_t i = 0; i < schedule.Size(); ++i) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = g_settings.lanList[i].ipAddressW;
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SetCell(i, 1, g_settings.lanList[i].modelNameW);
  }
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list_, nullptr, TRUE);
}

void ProgressList::Draw(const WriteSchedule& schedule, const std::vector<std::wstring>& messageLines) {
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

void ProgressList::AddColumn(int index, const wchar_t* title, int width) {
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(title);
  SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void ProgressList::SetCell(size_t row, int column, const wchar_t* text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text);
  SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}
