// Reads and clicks a list view of another process. The list view and
// header messages that carry pointers are not carried between processes, so
// their structures are placed in the program's own memory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace lv {

int Rows(HWND list);
// The selected row, or -1.
int SelectedRow(HWND list);
std::wstring Cell(HWND list, int row, int column);
// The texts of one column from the first row to the last.
std::vector<std::wstring> Column(HWND list, int column);
// The image a header column shows right of its title, or -1 for none.
int HeaderMark(HWND list, int column);
// A left click on a column's title, or on a row, as the mouse gives it.
bool ClickHeader(HWND list, int column);
bool ClickRow(HWND list, int row);

}  // namespace lv
