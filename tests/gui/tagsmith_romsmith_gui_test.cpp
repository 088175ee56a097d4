// Romsmith and Tagsmith together: Romsmith's Tagsmith button saves the port
// just chosen and starts Tagsmith on it, closing Tagsmith brings Romsmith
// forward with that button focused, and closing Romsmith closes Tagsmith.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "romsmith/resource.h"
#include "romsmith_session.h"
#include "tagsmith/resource.h"
#include "tests/win/sim_client.h"

namespace {

using gui::LastError;

HWND TagsmithWindow() {
  std::vector<HWND> found = gui::TopWindows(0, L"Tagsmith", L"Tagsmith");
  return found.empty() ? nullptr : found[0];
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// An Explorer window showing a folder named like one of the programs: a
// top-level window with the program's title but another class, created above
// the programs' windows. It counts the commands it is sent.
class FolderWindow {
 public:
  explicit FolderWindow(const wchar_t* title) {
    std::atomic<bool> ready{false};
    thread_ = std::thread([this, title, &ready] {
      WNDCLASSW windowClass = {};
      windowClass.lpfnWndProc = Proc;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"CabinetWClass";
      RegisterClassW(&windowClass);  // already there for the second window
      window_ = CreateWindowW(L"CabinetWClass", title, WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
      SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      ShowWindow(window_, SW_SHOWNOACTIVATE);
      ready = true;
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      DestroyWindow(window_);
    });
    gui::WaitUntil([&] { return ready.load(); });
  }
  ~FolderWindow() {
    PostMessageW(window_, WM_APP + 1, 0, 0);
    thread_.join();
  }
  // The commands received so far, once everything posted before is handled.
  int Commands() {
    marked_ = false;
    PostMessageW(window_, WM_APP, 0, 0);
    gui::WaitUntil([&] { return marked_.load(); });
    return commands_;
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FolderWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_COMMAND) ++self->commands_;
    if (self != nullptr && message == WM_APP) self->marked_ = true;
    if (message == WM_APP + 1) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  HWND window_ = nullptr;
  std::atomic<int> commands_{0};
  std::atomic<bool> marked_{false};
  std::thread thread_;
};

bool WaitProcessEnd(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return true;  // gone already
  bool ended = WaitForSingleObject(process, gui::kWaitMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// Romsmith's Tagsmith button, once it can be clicked, and Tagsmith's window.
HWND StartTagsmithFrom(HWND romsmith) {
  if (!gui::WaitUntil([&] { return gui::ControlEnabled(romsmith, IDC_START_TAGSMITH); }) ||
      !gui::Click(romsmith, IDC_START_TAGSMITH)) {
    return nullptr;
  }
  HWND tagsmith = nullptr;
  gui::WaitUntil([&] { return (tagsmith = TagsmithWindow()) != nullptr; });
  return tagsmith;
}

TEST(TagsmithWithRomsmith, StartsOnTheChosenPortAndHandsBackOnExit) {
  ASSERT_TRUE(ResetSimulator());
  ASSERT_EQ(SimCommand("com set serial ROM2TAG"), "OK");
  RomsmithSession s(L"tagsmith-pair");
  RomsmithSetup setup;
  setup.updateMode = true;  // the Tagsmith button works in Update mode
  setup.kind = L"LAN";      // saved: LAN with an empty list
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.folder.Copy(TAGSMITH_EXE, L"Tagsmith.exe")) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();

  // COM is chosen but not yet saved: the button must save it first.
  ASSERT_TRUE(gui::Click(s.main, IDC_KIND_COM)) << LastError();
  HWND tagsmith = StartTagsmithFrom(s.main);
  ASSERT_NE(tagsmith, nullptr) << "Tagsmith did not start: " << LastError();
  DWORD tagsmithPid = ProcessOf(tagsmith);
  ASSERT_TRUE(gui::Click(tagsmith, IDC_GET_SERIAL)) << LastError();
  ASSERT_TRUE(gui::Answer(tagsmithPid, Message(11, kEnglish), IDOK)) << LastError();
  EXPECT_TRUE(gui::WaitControlText(tagsmith, IDC_SERIAL_READ, L" ROM2TAG"))
      << gui::Narrow(gui::ControlText(tagsmith, IDC_SERIAL_READ));

  ASSERT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(tagsmith) != FALSE; }));
  // Each program's command must reach the other's main window, not a folder
  // window of the same title that lies above it.
  FolderWindow romsmithFolder(L"Romsmith");
  ASSERT_TRUE(gui::Click(tagsmith, IDC_EXIT)) << LastError();
  EXPECT_TRUE(WaitProcessEnd(tagsmithPid)) << "Tagsmith did not end";
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(s.main) == GetDlgItem(s.main, IDC_START_TAGSMITH); }))
      << "Romsmith's Tagsmith button has no focus";
  EXPECT_EQ(romsmithFolder.Commands(), 0) << "Tagsmith's hand-over went to the folder window";

  tagsmith = StartTagsmithFrom(s.main);
  ASSERT_NE(tagsmith, nullptr) << "Tagsmith did not start again: " << LastError();
  FolderWindow tagsmithFolder(L"Tagsmith");
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD exitCode = 1;
  EXPECT_TRUE(s.program.WaitExit(&exitCode)) << LastError();
  EXPECT_TRUE(gui::WaitUntil([] { return TagsmithWindow() == nullptr; })) << "Tagsmith outlived Romsmith";
  EXPECT_EQ(tagsmithFolder.Commands(), 0) << "Romsmith's Exit command went to the folder window";
  if (HWND left = TagsmithWindow()) {  // a Tagsmith left running would hold the test run open
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, ProcessOf(left));
    if (process != nullptr) TerminateProcess(process, 1);
    if (process != nullptr) CloseHandle(process);
  }
}

}  // namespace
