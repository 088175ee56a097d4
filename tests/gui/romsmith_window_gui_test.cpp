// Romsmith's main window without a printer exchange: its texts in both
// languages, the port kinds' layout, the USB "None" entry, COM name typing
// and the file-name check.
#include <gtest/gtest.h>

#include "romsmith/resource.h"
#include "romsmith_session.h"

namespace {

using gui::LastError;

struct Label {
  int id;
  const wchar_t* text[2];  // Japanese, English
};

const Label kLabels[] = {
    {IDC_FIRMWARE_GROUP, {L"ファーム書換え", L"Firmware Rewriting"}},
    {IDC_MODE_REWRITE_ALL, {L"全書換え(.h&ex)", L"Rewrite All area(.h&ex)"}},
    {IDC_MODE_UPDATE, {L"アップデート(.&hx*)", L"Update a part of ROM area(.&hx*)"}},
    {IDC_FILE_LABEL, {L"ファームウェアデータ(&O)", L"Firmware Data(&O)"}},
    {IDC_BROWSE, {L"参照(&R)", L"Browse(&R)"}},
    {IDC_PORT_GROUP, {L"接続ポートの設定", L"Connecting port"}},
    {IDC_PORT_LABEL, {L"ポート名(&P)", L"Port name(&P)"}},
    {IDC_PROTOCOL_LABEL, {L"プロトコル(&C)", L"Protocol(&C)"}},
    {IDC_START_WRITING, {L"書込み実行(&T)", L"Start writing(&T)"}},
    {IDC_VERSION_GROUP, {L"プリンタ・バージョン確認", L"Current printer version confirmation"}},
    {IDC_GET_VERSION, {L"バージョン取得(&G)", L"Get Version(&G)"}},
    {IDC_PRINT_VERSION, {L"バージョン印刷(&V)", L"Print Version(&V)"}},
    {IDC_RESET_PRINTER, {L"プリンタリセット(&J)", L"Reset Printer(&J)"}},
    {IDC_EXIT, {L"終了(&X)", L"Exit(&X)"}},
    {IDC_MODE_TEXT,
     {L"パソコンとプリンタを接続しプリンタのカバーを開けて[FEED]ボタンを押しながら電源をONにした後、下記設定を行い［書込み実行］\nをクリックしてください。",
      L"Connect the printer to the computer, open the printer cover, switch on the power with pressing [FEED] button, "
      L"and set the following settings. Then, click [Start writing]."}},
};

// Each language shows its own texts, the title is the program's in both,
// and a start with the notice on shows message 13 first.
TEST(RomsmithWindow, TextsInBothLanguages) {
  for (int language : {kJapanese, kEnglish}) {
    SCOPED_TRACE(language == kJapanese ? "Japanese" : "English");
    RomsmithSession s(L"texts");
    RomsmithSetup setup;
    setup.language = language;
    setup.startNotice = true;
    ASSERT_TRUE(s.Prepare(setup)) << LastError();
    ASSERT_TRUE(s.Start()) << LastError();
    gui::MessageBoxSeen box;
    ASSERT_TRUE(gui::Answer(s.pid(), Message(13, language), IDOK, &box)) << LastError();
    EXPECT_EQ(box.owner, s.main);
    for (const Label& label : kLabels) {
      EXPECT_EQ(gui::Narrow(gui::ControlText(s.main, label.id)), gui::Narrow(label.text[language])) << "control "
                                                                                                     << label.id;
    }
    ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
    DWORD code = 99;
    EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
  }
}

// Which groups each port kind shows, and what the USB list offers when no
// printer is connected (none is under emulation): the None word, with the
// buttons that need a printer disabled.
TEST(RomsmithWindow, PortKindsAndTheUsbNoneEntry) {
  struct Kind {
    int radio;
    std::vector<int> shown;
    std::vector<int> hidden;
  };
  const Kind kinds[] = {
      {IDC_KIND_COM, {IDC_COM_PORT, IDC_PORT_LABEL, IDC_BAUD_LIST, IDC_PROTOCOL_LIST}, {IDC_USB_PORT, IDC_REFRESH, IDC_LAN_LIST}},
      {IDC_KIND_LPT, {IDC_LPT_PORT, IDC_PORT_LABEL}, {IDC_COM_PORT, IDC_BAUD_LIST, IDC_LAN_LIST, IDC_USB_NOTE}},
      {IDC_KIND_LAN, {IDC_IP_ADDRESS, IDC_LAN_LIST, IDC_LAN_ADD}, {IDC_PORT_LABEL, IDC_LPT_PORT, IDC_REFRESH}},
      {IDC_KIND_USB, {IDC_USB_PORT, IDC_REFRESH, IDC_USB_NOTE}, {IDC_COM_PORT, IDC_LAN_LIST, IDC_BAUD_LIST}},
  };
  for (int language : {kJapanese, kEnglish}) {
    SCOPED_TRACE(language == kJapanese ? "Japanese" : "English");
    RomsmithSession s(L"kinds");
    RomsmithSetup setup;
    setup.language = language;
    setup.updateMode = true;
    setup.firmwareName = L"fw.hx1";
    ASSERT_TRUE(s.Prepare(setup)) << LastError();
    ASSERT_TRUE(s.Start()) << LastError();
    for (const Kind& kind : kinds) {
      ASSERT_TRUE(gui::Click(s.main, kind.radio)) << LastError();
      EXPECT_TRUE(gui::WaitUntil([&] { return gui::ControlVisible(s.main, kind.shown[0]); })) << "kind " << kind.radio;
      EXPECT_TRUE(gui::ControlChecked(s.main, kind.radio));
      for (int id : kind.shown) EXPECT_TRUE(gui::ControlVisible(s.main, id)) << "kind " << kind.radio << ": " << id;
      for (int id : kind.hidden) EXPECT_FALSE(gui::ControlVisible(s.main, id)) << "kind " << kind.radio << ": " << id;
    }
    EXPECT_EQ(gui::Narrow(gui::ControlText(s.main, IDC_USB_PORT)), language == kJapanese ? "なし" : "None");
    for (int id : {IDC_START_WRITING, IDC_GET_VERSION, IDC_PRINT_VERSION, IDC_START_TAGSMITH}) {
      EXPECT_FALSE(gui::ControlEnabled(s.main, id)) << id << " is enabled without a USB printer";
      EXPECT_FALSE(gui::Click(s.main, id)) << "the driver clicked disabled control " << id;
    }
    ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
    DWORD code = 99;
    EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
  }
}

// Returns once the window has handled what was posted to it before and
// gone back to its message loop (or pumps inside an operation).
bool Settled(HWND window) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, gui::kWaitMs, &ignored) != 0;
}

// The COM box takes only what makes a COM name; the file-name check
// disables Start writing for an extension of the wrong length without a box,
// and a port-kind change or a Refresh, which redo the buttons, keep it so.
TEST(RomsmithWindow, ComTypingAndFileNameCheck) {
  RomsmithSession s(L"typing");
  RomsmithSetup setup;
  setup.updateMode = true;
  setup.firmwareName = L"fw.hx1";
  setup.usbPrinters = 1;  // a usable USB port, so that only the name can disable the button
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, IDC_START_WRITING); }));

  const struct {
    const wchar_t* typed;
    const wchar_t* shown;
  } kTyping[] = {{L"com5", L"COM5"}, {L"COM05", L"COM5"}, {L"CXM", L"C"}, {L"COM123", L"COM12"}};
  for (const auto& t : kTyping) {
    ASSERT_TRUE(gui::SetText(s.pid(), s.main, IDC_COM_PORT, L"")) << LastError();
    ASSERT_TRUE(gui::TypeChars(s.main, IDC_COM_PORT, t.typed)) << LastError();
    EXPECT_EQ(gui::Narrow(gui::ControlText(s.main, IDC_COM_PORT)), gui::Narrow(t.shown)) << gui::Narrow(t.typed);
  }

  ASSERT_TRUE(gui::SetText(s.pid(), s.main, IDC_FILE_NAME, s.folder / L"fw.hx12")) << LastError();
  EXPECT_FALSE(gui::ControlEnabled(s.main, IDC_START_WRITING));
  EXPECT_TRUE(gui::MessageBoxes(s.pid()).empty()) << "a box for an extension of the wrong length";
  const int kKinds[][2] = {{IDC_KIND_LPT, IDC_LPT_PORT}, {IDC_KIND_USB, IDC_REFRESH}, {IDC_KIND_COM, IDC_COM_PORT}};
  for (const auto& pair : kKinds) {
    const int kind = pair[0];
    const int shown = pair[1];
    ASSERT_TRUE(gui::Click(s.main, kind)) << LastError();
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlVisible(s.main, shown); }));
    ASSERT_TRUE(Settled(s.main));
    EXPECT_FALSE(gui::ControlEnabled(s.main, IDC_START_WRITING)) << "after port kind " << kind;
    if (kind != IDC_KIND_USB) continue;
    HWND usb = GetDlgItem(s.main, IDC_USB_PORT);
    ASSERT_TRUE(gui::Click(s.main, IDC_REFRESH)) << LastError();
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(s.main) == usb; })) << "Refresh did not end";
    ASSERT_TRUE(Settled(s.main));
    EXPECT_FALSE(gui::ControlEnabled(s.main, IDC_START_WRITING)) << "after Refresh";
  }
  ASSERT_TRUE(gui::SetText(s.pid(), s.main, IDC_FILE_NAME, s.FirmwarePath())) << LastError();
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, IDC_START_WRITING); }));

  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD code = 99;
  EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
  EXPECT_EQ(s.folder.ReadSetting(L"Port", L"PortCOM"), L"COM12") << "Exit saves the typed COM name";
}

// A USB list rebuild pumps messages while the list is empty: a printer
// command that arrives then is ignored, not run inside the rebuild (where its
// own rebuild would leave the box with rows beyond the list).
TEST(RomsmithWindow, UsbRefreshTakesNoCommandMeanwhile) {
  RomsmithSession s(L"usbrebuild");
  RomsmithSetup setup;
  setup.kind = L"USB";
  setup.updateMode = true;
  setup.usbPrinters = 3;
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();
  HWND usb = GetDlgItem(s.main, IDC_USB_PORT);
  ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, IDC_GET_VERSION); }));
  ASSERT_EQ(SendMessageW(usb, CB_GETCOUNT, 0, 0), 3);

  ASSERT_TRUE(gui::Click(s.main, IDC_REFRESH)) << LastError();
  ASSERT_TRUE(gui::Click(s.main, IDC_GET_VERSION)) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(s.main) == usb || !gui::MessageBoxes(s.pid()).empty(); }));
  std::vector<gui::MessageBoxSeen> boxes = gui::MessageBoxes(s.pid());
  EXPECT_TRUE(boxes.empty()) << "Get Version ran inside the rebuild: " << gui::Narrow(boxes[0].text);
  for (const gui::MessageBoxSeen& box : boxes) gui::PressBoxButton(box, IDCANCEL);
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(s.main) == usb; })) << "Refresh did not end";
  ASSERT_TRUE(Settled(s.main));
  EXPECT_EQ(SendMessageW(usb, CB_GETCOUNT, 0, 0), 3) << "the box has rows beyond the list";

  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD code = 99;
  EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
}

}  // namespace

// A model without USB leaves the parallel port only: the kind is forced to
// LPT, which carries the check mark and shows its box, whatever kind the
// settings held.
TEST(RomsmithWindow, ModelWithoutUsbOffersLptOnly) {
  RomsmithSession s(L"lptonly");
  RomsmithSetup setup;
  setup.kind = L"USB";
  setup.extra = {{L"Printer", L"Printer01", L"KM-P1,Disable,Enable,hx*"}, {L"Printer", L"Connected", L"Printer01"}};
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::ControlChecked(s.main, IDC_KIND_LPT); })) << "LPT is not checked";
  EXPECT_TRUE(gui::ControlVisible(s.main, IDC_LPT_PORT));
  for (int id : {IDC_KIND_USB, IDC_KIND_COM, IDC_KIND_LAN}) EXPECT_FALSE(gui::ControlChecked(s.main, id)) << id;
  for (int id : {IDC_KIND_USB, IDC_KIND_COM, IDC_KIND_LAN, IDC_MODE_UPDATE}) {
    EXPECT_FALSE(gui::ControlEnabled(s.main, id)) << id << " is offered for a model without USB";
  }
  EXPECT_FALSE(gui::ControlVisible(s.main, IDC_USB_PORT));
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD code = 99;
  EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
}
