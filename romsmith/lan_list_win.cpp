// The list view of LAN printers in the main window: its columns, header
// marks, rows and selection. Add, Search, Delete and sorting are handled by
// the printer list work that follows; their commands arrive here.
#include <windows.h>
#include <commctrl.h>

#include "main_window.h"
#include "program_frame.h"
#include "program_state.h"
#include "resource.h"
#include "settings_types.h"
#include "texts.h"

namespace {

constexpr int kColumnWidths[3] = {140, 100, 120};
constexpr int kSortMarkWidth = 15;

HWND ListView() { return MainControl(IDC_LAN_LIST); }

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

void OnLanCommand(int commandId) {
  if (g_settings.portKind != PORT_LAN) return;
  // Add, Search and Delete come with the printer list work.
  (void)commandId;
}

LRESULT OnLanListNotify(NMHDR* header) {
  if (header->code == LVN_ITEMCHANGED && g_mainWindow.ready && g_mainWindow.lanNotifications) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (change->iItem >= 0 && change->iItem != g_settings.selectedLan) g_settings.selectedLan = change->iItem;
  }
  return 0;
}

void FreeLanListResources() {
  if (g_mainWindow.columnImages != nullptr) ImageList_Destroy(g_mainWindow.columnImages);
  g_mainWindow.columnImages = nullptr;
  if (g_mainWindow.searchResults != nullptr) GlobalFree(g_mainWindow.searchResults);
  g_mainWindow.searchResults = nullptr;
}
