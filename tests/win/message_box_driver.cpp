#include "message_box_driver.h"

#include <cstdio>
#include <vector>

MessageBoxDriver::MessageBoxDriver(const wchar_t* caption, int answer, DWORD timeoutMs)
    : caption_(caption), answer_(answer), timeoutMs_(timeoutMs), thread_([this] { Run(); }) {}

MessageBoxDriver::~MessageBoxDriver() { Finish(); }

const SeenBox& MessageBoxDriver::Finish() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return seen_;
}

namespace {

struct ChildScan {
  HICON icon = nullptr;
};

BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  LONG style = GetWindowLongW(child, GWL_STYLE);
  if (_wcsicmp(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
    reinterpret_cast<ChildScan*>(param)->icon =
        reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  }
  return TRUE;
}

}  // namespace

void MessageBoxDriver::Run() {
  DWORD start = GetTickCount();
  HWND box = nullptr;
  while (GetTickCount() - start < timeoutMs_) {
    box = FindWindowW(L"#32770", caption_.c_str());
    if (box != nullptr && IsWindowVisible(box)) break;
    box = nullptr;
    Sleep(50);
  }
  if (box == nullptr) return;
  Sleep(100);  // let the box finish its WM_INITDIALOG work
  seen_.found = true;
  wchar_t text[2048] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  seen_.text = text;
  HWND ok = GetDlgItem(box, IDOK);
  HWND cancel = GetDlgItem(box, IDCANCEL);
  seen_.okButton = ok != nullptr && IsWindowVisible(ok);
  seen_.cancelButton = cancel != nullptr && IsWindowVisible(cancel);
  ChildScan scan;
  EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&scan));
  seen_.icon = scan.icon;
  seen_.owner = GetWindow(box, GW_OWNER);
  if (const char* dir = getenv("KIT_SCREENSHOT_DIR")) {
    static LONG sequence = 0;
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"%hs\\message_box_%ld.bmp", dir, static_cast<long>(InterlockedIncrement(&sequence)));
    SaveWindowPicture(box, path);
  }
  HWND button = GetDlgItem(box, answer_);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void SaveWindowPicture(HWND window, const wchar_t* path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return;
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi = {};
  bi.biSize = sizeof(bi);
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  bi.biCompression = BI_RGB;
  int stride = (w * 3 + 3) & ~3;
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
  GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  BITMAPFILEHEADER bf = {};
  bf.bfType = 0x4D42;
  bf.bfOffBits = sizeof(bf) + sizeof(bi);
  bf.bfSize = bf.bfOffBits + static_cast<DWORD>(pixels.size());
  if (FILE* f = _wfopen(path, L"wb")) {
    fwrite(&bf, sizeof(bf), 1, f);
    fwrite(&bi, sizeof(bi), 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    fclose(f);
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}
