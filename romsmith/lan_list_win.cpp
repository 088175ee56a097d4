// The list of LAN printers in the main window: its columns, header marks,
// rows and selection, and the Add, Search and Delete buttons and header
// clicks that change it.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "main_window.h"
#include "message_catalog.h"
#include "printer_search.h"
#include "program_frame.h"
#include "program_state.h"
#include "progress_dialog.h"
#include "resource.h"
#include "result_codes.h"
#include "result_message.h"
#include "settings_types.h"
#include "texts.h"
#include "tick_wait.h"

namespace {

constexpr int kColumnWidths[3] = {140, 100, 120};
constexpr int kSortMarkWidth = 15;
constexpr int kMessageBadAddress = 0;
constexpr int kMessageConfirmDelete = 3;
constexpr int kMessageAddressListed = 4;
constexpr int kMessageListFull = 5;
constexpr int32_t kSearchUpdate = 3;
constexpr int32_t kSearchRewriteAll = 4;

// One direction for all columns, toggled by every header click.
uint16_t g_sortDirection = 0;

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }
HWND ListView() { return MainControl(IDC_LAN_LIST); }
int32_t ListCount() { return g_settings.lanList != nullptr ? g_settings.lanCount : 0; }

void SetCell(HWND list, int row, int column, const wchar_t* text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text);
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void InitLanList() {
  HWND list = ListView();
  int language = g_settings.languageIndex == 0 ? 0 : 1;
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  g_mainWindow.columnImages = ImageList_LoadImageW(g_program.instance, MAKEINTRESOURCEW(IDB_SORT_MARKS), kSortMarkWidth,
                                                   0, CLR_DEFAULT, IMAGE_BITMAP, LR_LOADMAP3DCOLORS);
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  if (header != nullptr && g_mainWindow.columnImages != nullptr) {
    SendMessageW(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(g_mainWindow.columnImages));
  }
  for (int column = 0; column < 3; ++column) {
    LVCOLUMNW info = {};
    info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    info.fmt = LVCFMT_LEFT;
    info.cx = kColumnWidths[column];
    info.pszText = const_cast<wchar_t*>(kLanColumnTitles[column].In(language));
    info.iSubItem = column;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  }
  g_mainWindow.lanNotifications = 0;
  ShowPrinterList(g_settings.selectedLan + 1);
  g_mainWindow.lanNotifications = 1;
}

void ShowPrinterList(int32_t n) {
  HWND list = ListView();
  int32_t count = g_settings.lanList != nullptr ? g_settings.lanCount : 0;
  for (int32_t i = 0; i < count; ++i) {
    const LanPrinterRecord& record = g_settings.lanList[i];
    if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) < i + 1) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = i;
      item.pszText = const_cast<wchar_t*>(record.modelNameW);
      SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SetCell(list, i, 0, record.modelNameW);
    SetCell(list, i, 1, record.ipAddressW);
    SetCell(list, i, 2, record.macAddressW);
  }
  if (count != 0) {
    int32_t row = n - 1 >= 0 && n - 1 < count ? n - 1 : 0;
    SelectLanRow(row);
    SetDlgFocus(g_program.mainWindow, list);
  } else {
    SetDlgFocus(g_program.mainWindow, MainControl(IDC_EXIT));
  }
  UpdateButtons();
}

// Selects, focuses and reveals `row` and makes it the selected entry.
void SelectLanRow(int32_t row) {
  HWND list = ListView();
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  g_settings.selectedLan = row;
}

namespace {

// Runs the network search into the results block; the found count is never
// more than the block holds, whatever the search reports.
int32_t SearchIntoResults(int32_t* found) {
  *found = 0;
  if (g_mainWindow.searchResults == nullptr) {
    g_mainWindow.searchResults =
        static_cast<LanPrinterRecord*>(GlobalAlloc(GPTR, kLanListRecords * sizeof(LanPrinterRecord)));
    if (g_mainWindow.searchResults == nullptr) return PRT_ERR_MEMORY;
  }
  ZeroMemory(g_mainWindow.searchResults, kLanListRecords * sizeof(LanPrinterRecord));
  int32_t mode = g_settings.writingMethod == 1 ? kSearchUpdate : kSearchRewriteAll;
  int32_t result = SearchPrinter(mode, g_mainWindow.searchResults, found);
  *found = std::min(std::max(*found, 0), kLanListRecords);
  return result;
}

// The listed record with this address text, or -1.
int32_t ListedIndex(const wchar_t* address) {
  for (int32_t i = 0; i < ListCount(); ++i) {
    if (std::wcscmp(g_settings.lanList[i].ipAddressW, address) == 0) return i;
  }
  return -1;
}

void FocusControl(HWND control) { SetDlgFocus(g_program.mainWindow, control); }

// Gives the focus back to a control that can still take it.
void RestoreControlFocus(HWND control) {
  if (control != nullptr && IsWindow(control) && IsWindowVisible(control) && IsWindowEnabled(control)) {
    FocusControl(control);
  }
}

// Rewrites the rows with notifications off, so the selection changes the
// program makes are not taken as the operator's.
void ShowListQuietly(int32_t n) {
  int32_t before = g_mainWindow.lanNotifications;
  g_mainWindow.lanNotifications = 0;
  ShowPrinterList(n);
  g_mainWindow.lanNotifications = before;
}

void OnAdd() {
  HWND window = g_program.mainWindow;
  HWND address = MainControl(IDC_IP_ADDRESS);
  DWORD value = 0;
  SendMessageW(address, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&value));
  wchar_t typed[16];
  _snwprintf(typed, 16, L"%u.%u.%u.%u", static_cast<unsigned>(FIRST_IPADDRESS(value)),
             static_cast<unsigned>(SECOND_IPADDRESS(value)), static_cast<unsigned>(THIRD_IPADDRESS(value)),
             static_cast<unsigned>(FOURTH_IPADDRESS(value)));
  typed[15] = L'\0';
  // Host part 0 names the network and 255 its broadcast: neither is a printer.
  unsigned fourth = static_cast<unsigned>(FOURTH_IPADDRESS(value));
  if (fourth == 0 || fourth == 255) {
    ShowResultMessage(window, kMessageBadAddress, L"");
    FocusControl(address);
    return;
  }
  if (ListedIndex(typed) >= 0) {
    ShowResultMessage(window, kMessageAddressListed, typed);
    FocusControl(address);
    return;
  }
  if (ListCount() >= kLanListMaxUsed) {
    ShowResultMessage(window, kMessageListFull, L"");
    FocusControl(ListView());
    return;
  }

  // An Exit that arrives during the search waits for its result.
  g_mainWindow.operationRunning = 1;
  BeginBusy(window);
  PumpMessages();
  int32_t found = 0;
  int32_t result = SearchIntoResults(&found);
  int32_t match = -1;
  if (result == PRT_SUCCESS) {
    for (int32_t i = 0; i < found && match < 0; ++i) {
      if (std::wcscmp(g_mainWindow.searchResults[i].ipAddressW, typed) == 0) match = i;
    }
    if (match < 0) result = PRT_ERR_NOPRINTER;
  }
  EndBusy(window);
  PumpMessages();

  if (match >= 0 && g_settings.lanList != nullptr) {
    g_settings.lanList[g_settings.lanCount] = g_mainWindow.searchResults[match];
    ++g_settings.lanCount;
    ShowListQuietly(g_settings.lanCount);
  } else {
    ShowResultMessage(window, result, L"");
    FocusControl(address);
  }
  FinishOperation();
}

// Found printers in their order: a listed address has its record replaced
// in place, any other is appended while the list has room.
void MergeFound(int32_t found) {
  for (int32_t i = 0; i < found; ++i) {
    const LanPrinterRecord& record = g_mainWindow.searchResults[i];
    int32_t listed = ListedIndex(record.ipAddressW);
    if (listed >= 0) {
      g_settings.lanList[listed] = record;
      continue;
    }
    if (g_settings.lanCount >= kLanListMaxUsed) {
      ShowResultMessage(g_program.mainWindow, kMessageListFull, L"");
      FocusControl(ListView());
      return;
    }
    g_settings.lanList[g_settings.lanCount] = record;
    ++g_settings.lanCount;
  }
}

void OnSearch() {
  HWND window = g_program.mainWindow;
  HWND focus = GetFocus();
  // An Exit that arrives during the search waits for its result.
  g_mainWindow.operationRunning = 1;
  g_mainWindow.lanNotifications = 0;
  HWND dialog = OpenProgressDialog(kProgressMessageOnly);
  if (dialog != nullptr) SetDlgItemTextW(dialog, IDC_PROGRESS_MESSAGE, kSearchingText.In(Language()));
  PumpMessages();
  int32_t found = 0;
  int32_t result = SearchIntoResults(&found);
  if (g_program.progressDialog != nullptr) DestroyWindow(g_program.progressDialog);
  PumpMessages();
  if (result != PRT_SUCCESS) {
    ShowResultMessage(window, result, L"");
  } else if (g_settings.lanList != nullptr) {
    MergeFound(found);
    ShowPrinterList(g_settings.lanCount);
  }
  RestoreControlFocus(focus);
  g_mainWindow.lanNotifications = 1;
  FinishOperation();
}

void OnDelete() {
  HWND window = g_program.mainWindow;
  HWND list = ListView();
  int32_t count = ListCount();
  if (count == 0) return;
  HWND focus = GetFocus();
  int32_t row = static_cast<int32_t>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0 || row >= count) return;

  const LanPrinterRecord& record = g_settings.lanList[row];
  int language = Language();
  const wchar_t* places[] = {kLanColumnTitles[0].In(language), record.modelNameW,
                             kLanColumnTitles[1].In(language), record.ipAddressW,
                             kLanColumnTitles[2].In(language), record.macAddressW};
  std::wstring text = FillPlaces(CatalogueText(CatalogueOwner::kRomsmith, kMessageConfirmDelete, language), places, 6);
  if (ShowResultMessage(window, kMessageConfirmDelete, text.c_str()) != IDOK) {
    RestoreControlFocus(focus);
    return;
  }

  g_mainWindow.lanNotifications = 0;
  SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
  PumpMessages();
  for (int32_t i = row; i + 1 < count; ++i) g_settings.lanList[i] = g_settings.lanList[i + 1];
  g_settings.lanList[count - 1] = LanPrinterRecord{};
  int32_t rows = static_cast<int32_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  if (rows >= 0 && rows < count) {
    g_settings.lanCount = rows;
    // The row that took the deleted one's place, or the new last row.
    ShowPrinterList(row < rows ? row + 1 : rows);
  }
  g_mainWindow.lanNotifications = 1;
  RestoreControlFocus(focus);
}

const wchar_t* SortText(const LanPrinterRecord& record, int column) {
  switch (column) {
    case 0: return record.modelNameW;
    case 1: return record.ipAddressW;
    default: return record.macAddressW;
  }
}

// Code unit by code unit with case: "10.0.0.10" comes before "10.0.0.9".
int CompareCodeUnits(const wchar_t* a, const wchar_t* b) {
  while (*a != L'\0' && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(static_cast<uint16_t>(*a)) - static_cast<int>(static_cast<uint16_t>(*b));
}

void SetHeaderMark(HWND list, int column, uint16_t direction) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  if (header == nullptr) return;
  for (int c = 0; c < 3; ++c) {
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
    if (c == column) {
      item.mask |= HDI_IMAGE;
      item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
      item.iImage = direction;
    }
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
  }
}

void OnColumnClick(int column) {
  if (column < 0 || column > 2) return;
  // A running write walks the list in order; it is not reordered under it.
  if (g_mainWindow.operationRunning || g_progress.state != kProgressNone) return;
  HWND list = ListView();
  g_mainWindow.lanNotifications = 0;
  SortPrinterList(list, column, g_sortDirection);
  InvalidateRect(list, nullptr, TRUE);
  g_mainWindow.lanNotifications = 1;
  g_sortDirection = g_sortDirection == 0 ? 1 : 0;
}

}  // namespace

void SortPrinterList(HWND list, int column, uint16_t direction) {
  int32_t rows = static_cast<int32_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  rows = std::min(rows, ListCount());
  if (rows <= 0) return;
  // Equal texts keep their order, so a second sort by another column
  // refines the first.
  std::stable_sort(g_settings.lanList, g_settings.lanList + rows,
                   [column, direction](const LanPrinterRecord& a, const LanPrinterRecord& b) {
                     int order = CompareCodeUnits(SortText(a, column), SortText(b, column));
                     return direction == 0 ? order < 0 : order > 0;
                   });
  for (int32_t i = 0; i < rows; ++i) {
    const LanPrinterRecord& record = g_settings.lanList[i];
    SetCell(list, i, 0, record.modelNameW);
    SetCell(list, i, 1, record.ipAddressW);
    SetCell(list, i, 2, record.macAddressW);
  }
  SetHeaderMark(list, column, direction);
}

void OnLanCommand(int commandId) {
  if (g_settings.portKind != PORT_LAN || !g_mainWindow.ready || g_settings.lanList == nullptr) return;
  switch (commandId) {
    case IDC_LAN_ADD: OnAdd(); break;
    case IDC_LAN_SEARCH: OnSearch(); break;
    case IDC_LAN_DELETE: OnDelete(); break;
    default: break;
  }
}

LRESULT OnLanListNotify(NMHDR* header) {
  if (!g_mainWindow.ready) return 0;
  if (header->code == LVN_ITEMCHANGED && g_mainWindow.lanNotifications) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (change->iItem >= 0 && change->iItem != g_settings.selectedLan) g_settings.selectedLan = change->iItem;
  } else if (header->code == LVN_COLUMNCLICK) {
    OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
  }
  return 0;
}

void FreeLanListResources() {
  if (g_mainWindow.columnImages != nullptr) ImageList_Destroy(g_mainWindow.columnImages);
  g_mainWindow.columnImages = nullptr;
  if (g_mainWindow.searchResults != nullptr) GlobalFree(g_mainWindow.searchResults);
  g_mainWindow.searchResults = nullptr;
}
