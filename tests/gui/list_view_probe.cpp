#include "list_view_probe.h"

#include <commctrl.h>

#include <cstring>

namespace lv {
namespace {

// A block of the list view's process, freed at the end.
class Remote {
 public:
  Remote(HWND window, size_t bytes) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr) {
      at_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
  }
  ~Remote() {
    if (at_ != nullptr) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  bool ok() const { return at_ != nullptr; }
  char* at(size_t offset = 0) const { return at_ + offset; }
  LPARAM param() const { return reinterpret_cast<LPARAM>(at_); }
  bool Put(size_t offset, const void* data, size_t bytes) const {
    return WriteProcessMemory(process_, at_ + offset, data, bytes, nullptr) != FALSE;
  }
  bool Get(size_t offset, void* data, size_t bytes) const {
    return ReadProcessMemory(process_, at_ + offset, data, bytes, nullptr) != FALSE;
  }

 private:
  HANDLE process_ = nullptr;
  char* at_ = nullptr;
};

HWND Header(HWND list) { return reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)); }

// Button down and up at a client point; posted, as the mouse would.
bool ClickAt(HWND window, const RECT& rect) {
  LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point) && PostMessageW(window, WM_LBUTTONUP, 0, point);
}

}  // namespace

int Rows(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

int SelectedRow(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring Cell(HWND list, int row, int column) {
  constexpr int kChars = 512;
  Remote remote(list, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!remote.ok()) return L"<no memory>";
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(LVITEMW)));
  item.cchTextMax = kChars;
  wchar_t text[kChars] = {};
  remote.Put(0, &item, sizeof(item));
  remote.Put(sizeof(LVITEMW), text, sizeof(text));
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), remote.param());
  remote.Get(sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t));
  return text;
}

std::vector<std::wstring> Column(HWND list, int column) {
  std::vector<std::wstring> texts;
  for (int row = 0, rows = Rows(list); row < rows; ++row) texts.push_back(Cell(list, row, column));
  return texts;
}

int HeaderMark(HWND list, int column) {
  Remote remote(list, sizeof(HDITEMW));
  HDITEMW item = {};
  item.mask = HDI_FORMAT | HDI_IMAGE;
  if (!remote.Put(0, &item, sizeof(item))) return -2;
  SendMessageW(Header(list), HDM_GETITEMW, static_cast<WPARAM>(column), remote.param());
  remote.Get(0, &item, sizeof(item));
  bool marked = (item.fmt & HDF_IMAGE) != 0 && (item.fmt & HDF_BITMAP_ON_RIGHT) != 0;
  return marked ? item.iImage : -1;
}

bool ClickHeader(HWND list, int column) {
  HWND header = Header(list);
  Remote remote(list, sizeof(RECT));
  RECT rect = {};
  if (header == nullptr || !remote.ok()) return false;
  SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), remote.param());
  return remote.Get(0, &rect, sizeof(rect)) && ClickAt(header, rect);
}

bool ClickRow(HWND list, int row) {
  Remote remote(list, sizeof(RECT));
  RECT rect = {};
  rect.left = LVIR_LABEL;
  if (!remote.Put(0, &rect, sizeof(rect))) return false;
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), remote.param());
  return remote.Get(0, &rect, sizeof(rect)) && ClickAt(list, rect);
}

}  // namespace lv
