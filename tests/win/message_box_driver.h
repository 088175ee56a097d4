// Answers one message box from a helper thread while the test thread sits in
// MessageBoxW: finds the box by class and caption, reads what it shows and
// presses a button.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

struct SeenBox {
  bool found = false;
  std::wstring text;     // the static text of the box
  bool okButton = false;      // visible buttons
  bool cancelButton = false;
  HICON icon = nullptr;  // the icon the box shows
  HWND owner = nullptr;
};

class MessageBoxDriver {
 public:
  // Starts watching for a box titled `caption`; presses `answer` (IDOK or
  // IDCANCEL) when it appears. Gives up after `timeoutMs`.
  MessageBoxDriver(const wchar_t* caption, int answer, DWORD timeoutMs = 10000);
  ~MessageBoxDriver();
  // Waits for the helper thread and returns what it saw.
  const SeenBox& Finish();

 private:
  void Run();
  std::wstring caption_;
  int answer_;
  DWORD timeoutMs_;
  SeenBox seen_;
  std::thread thread_;
  bool joined_ = false;
};

// Saves the window's picture as a 24-bit BMP (for review; failures ignored).
void SaveWindowPicture(HWND window, const wchar_t* path);
