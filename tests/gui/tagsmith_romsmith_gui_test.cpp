// Romsmith and Tagsmith together: Romsmith's Tagsmith button saves the port
// just chosen and starts Tagsmith on it, closing Tagsmith brings Romsmith
// forward with that button focused, and closing Romsmith closes Tagsmith.
#include <gtest/gtest.h>

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
  ASSERT_TRUE(gui::Click(tagsmith, IDC_EXIT)) << LastError();
  EXPECT_TRUE(gui::WaitUntil([] { return TagsmithWindow() == nullptr; })) << "Tagsmith did not end";
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(s.main) == GetDlgItem(s.main, IDC_START_TAGSMITH); }))
      << "Romsmith's Tagsmith button has no focus";

  tagsmith = StartTagsmithFrom(s.main);
  ASSERT_NE(tagsmith, nullptr) << "Tagsmith did not start again: " << LastError();
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD exitCode = 1;
  EXPECT_TRUE(s.program.WaitExit(&exitCode)) << LastError();
  EXPECT_TRUE(gui::WaitUntil([] { return TagsmithWindow() == nullptr; })) << "Tagsmith outlived Romsmith";
}

}  // namespace
