#include "main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "com_name_rule.h"
#include "exit_codes.h"
#include "firmware_file.h"
#include "message_filter_win.h"
#include "net_binding.h"
#include "program_frame.h"
#include "program_state.h"
#include "progress_dialog.h"
#include "resource.h"
#include "result_message.h"
#include "run_record.h"
#include "settings.h"
#include "settings_rules.h"
#include "spooler.h"
#include "texts.h"
#include "tick_wait.h"
#include "usb_discovery.h"

MainWindowState g_mainWindow = {0, 1, 1, 0, 0, kExitInterrupted, 1, nullptr, nullptr};

namespace {

constexpr int kMessageStartNotice = 13;
constexpr int kFileBoxChars = 2064;
const wchar_t* const kComNames[] = {L"COM1", L"COM2", L"COM3", L"COM4"};
const wchar_t* const kLptNames[] = {L"LPT1", L"LPT2", L"LPT3", L"LPT4"};
const wchar_t* const kBaudRates[] = {L"2400", L"4800", L"9600", L"19200", L"38400", L"57600", L"115200"};
const wchar_t* const kFormats[] = {L"8EVEN1", L"8ODD1", L"8NONE1", L"7EVEN1", L"7ODD1"};
const wchar_t* const kProtocols[] = {L"DTR/DSR", L"XON/XOFF"};
const int kKindRadios[] = {IDC_KIND_USB, IDC_KIND_COM, IDC_KIND_LPT, IDC_KIND_LAN};
const int kKindBoxes[] = {IDC_USB_PORT, IDC_COM_PORT, IDC_LPT_PORT};
const int kUsbGroup[] = {IDC_REFRESH, IDC_USB_NOTE};
const int kSerialGroup[] = {IDC_BAUD_LABEL, IDC_BAUD_LIST, IDC_FORMAT_LABEL,
                            IDC_FORMAT_LIST, IDC_PROTOCOL_LABEL, IDC_PROTOCOL_LIST};
const int kLanGroup[] = {IDC_IP_LABEL, IDC_IP_ADDRESS, IDC_LAN_ADD, IDC_LAN_SEARCH,
                         IDC_LAN_LIST_LABEL, IDC_LAN_LIST, IDC_LAN_NOTE, IDC_LAN_DELETE};

// Set while RefreshUsbPorts rebuilds the list: the rebuild pumps messages
// while the list is empty.
bool g_usbListRebuilding = false;

int Language() { return g_settings.languageIndex == 0 ? 0 : 1; }
bool UpdateMode() { return g_settings.writingMethod == 1; }

// An operation runs, its progress dialog is open or the USB list is being
// rebuilt: a command that started or changed work now would run nested in
// it, on its port, its firmware block or its list.
bool WindowBusy() {
  return g_mainWindow.operationRunning || g_progress.state != kProgressNone || g_usbListRebuilding;
}

template <size_t N>
void ShowGroup(const int (&ids)[N], bool shown) {
  for (int id : ids) ShowControl(id, shown);
}

template <size_t N>
void FillList(int id, const wchar_t* const (&items)[N]) {
  for (const wchar_t* item : items) SendDlgItemMessageW(g_program.mainWindow, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

void SelectString(int id, const wchar_t* text) {
  LRESULT index = SendDlgItemMessageW(g_program.mainWindow, id, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(text));
  SendDlgItemMessageW(g_program.mainWindow, id, CB_SETCURSEL, index == CB_ERR ? 0 : index, 0);
}

// Splits the file-name box text the way the firmware file check does and
// grades it for the buttons.
int32_t FileNameStatus(const wchar_t* text) {
  if (text[0] == L'\0') return -2;
  FirmwarePathParts parts = SplitFirmwarePath(text);
  std::wstring whole = text;
  size_t nameStart = whole.find_last_of(L"\\/:");
  nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
  size_t nameChars = whole.size() - nameStart - parts.extension.size();
  if (nameChars == 0) return -3;
  if (parts.extension.empty()) return -4;
  if (parts.extension.size() != 4) return -5;
  return 0;
}

void SetTexts() {
  HWND window = g_program.mainWindow;
  int language = Language();
  SetWindowTextW(window, kProgramTitle);
  for (int i = 0; i < kMainControlTextCount; ++i) {
    SetDlgItemTextW(window, kMainControlTexts[i].id, kMainControlTexts[i].text.In(language));
  }
  SetDlgItemTextW(window, IDC_MODE_TEXT, (UpdateMode() ? kUpdateText : kRewriteAllText).In(language));
  SetDlgItemTextW(window, IDC_USB_NOTE, kUsbNoteText.In(language));
  SetDlgItemTextW(window, IDC_LAN_NOTE, kLanNoteText.In(language));
  SetDlgItemTextW(window, IDC_VERSION_LABEL, g_frame.versionText);
  SetDlgItemTextW(window, IDC_STATUS_TEXT, L"");
  SendDlgItemMessageW(window, IDC_INFO_ICON, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_INFORMATION)), 0);
  EnableControl(IDC_START_TAGSMITH, g_settings.tagsmithPresent == 1);
}

void CentreWindow(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  unsigned caption = static_cast<unsigned>(GetSystemMetrics(SM_CYCAPTION));
  unsigned width = static_cast<unsigned>(client.right - client.left);
  unsigned height = static_cast<unsigned>(client.bottom - client.top);
  unsigned x = (static_cast<unsigned>(GetSystemMetrics(SM_CXSCREEN)) - width) / 2;
  unsigned y = (static_cast<unsigned>(GetSystemMetrics(SM_CYSCREEN)) - caption - height) / 2;
  MoveWindow(window, static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
             static_cast<int>(height + caption), FALSE);
}

void OnInitDialog(HWND window) {
  g_program.mainWindow = window;
  g_frame.busy = 1;
  g_progress.state = kProgressNone;
  DragAcceptFiles(window, TRUE);
  AllowDropMessages(window, SystemMessageFilter());
  SetTexts();

  SetDlgItemTextW(window, IDC_FILE_NAME, g_settings.fileName);
  for (int id : kKindBoxes) ShowControl(id, false);

  g_mainWindow.lptAllowed = CurrentModel().lptEnabled;
  RefreshUsbPorts();
  for (int32_t i = 0; i < g_usbList.count; ++i) {
    if (wcscmp(g_usbList.entries[i].label, g_settings.portUsb) == 0) {
      g_usbList.selectedIndex = i;
      SendDlgItemMessageW(window, IDC_USB_PORT, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      break;
    }
  }

  SendDlgItemMessageW(window, IDC_COM_PORT, CB_LIMITTEXT, kComNameMaxChars, 0);
  FillList(IDC_COM_PORT, kComNames);
  if (g_settings.comIndex == 4) {
    SetDlgItemTextW(window, IDC_COM_PORT, g_settings.extraComName);
  } else {
    SelectString(IDC_COM_PORT, g_settings.portCom);
  }
  FillList(IDC_BAUD_LIST, kBaudRates);
  FillList(IDC_FORMAT_LIST, kFormats);
  FillList(IDC_PROTOCOL_LIST, kProtocols);
  SendDlgItemMessageW(window, IDC_PROTOCOL_LIST, CB_SETCURSEL, g_settings.comFlowControl == 1 ? 1 : 0, 0);
  FillList(IDC_LPT_PORT, kLptNames);
  SelectString(IDC_LPT_PORT, g_settings.portLpt);
  g_settings.lptIndex = static_cast<int32_t>(SendDlgItemMessageW(window, IDC_LPT_PORT, CB_GETCURSEL, 0, 0));

  InitLanList();
  if (g_firmwareFile.browseFolder[0] == L'\0') CopyToField(g_firmwareFile.browseFolder, kPathChars, g_settings.programFolder);
  CentreWindow(window);
  UpdateWindow(window);
}

void OnWriteMode(int id) {
  if (!g_mainWindow.ready) return;
  int32_t before = g_settings.writingMethod;
  int32_t mode = id == IDC_MODE_UPDATE ? 1 : 0;
  g_settings.writingMethod = mode;
  SetDlgItemTextW(g_program.mainWindow, IDC_MODE_TEXT, (mode == 1 ? kUpdateText : kRewriteAllText).In(Language()));
  EnableControl(IDC_RESET_PRINTER, mode == 1);
  EnableControl(IDC_GET_VERSION, mode == 1);
  EnableControl(IDC_PRINT_VERSION, mode == 1);
  EnableControl(IDC_START_TAGSMITH, mode == 1 && g_settings.tagsmithPresent == 1);
  if (mode != before) {
    SetDlgItemTextW(g_program.mainWindow, IDC_FILE_NAME, L"");
    if (g_settings.portKind == PORT_COM) {
      g_settings.portKind = kKindRedo;
      SendMessageW(g_program.mainWindow, WM_COMMAND, IDC_KIND_COM, 0);
    }
  }
}

void CheckKindRadio(int32_t kind) {
  for (int k = 0; k < 4; ++k) CheckDlgButton(g_program.mainWindow, kKindRadios[k], k == kind ? BST_CHECKED : BST_UNCHECKED);
}

void OnPortKind(int id) {
  int32_t before = g_settings.portKind;
  int32_t kind = id - IDC_KIND_USB;
  g_settings.portKind = kind;
  if (kind == PORT_USB) RefreshUsbPorts();
  if (kind == PORT_COM) {
    SelectString(IDC_BAUD_LIST, L"115200");
    SelectString(IDC_FORMAT_LIST, L"8NONE1");
    SendDlgItemMessageW(g_program.mainWindow, IDC_PROTOCOL_LIST, CB_SETCURSEL,
                        UpdateMode() && g_settings.comFlowControl == 1 ? 1 : 0, 0);
    EnableControl(IDC_PROTOCOL_LIST, UpdateMode());
  }
  if (kind == before) return;

  if (before >= PORT_USB && before <= PORT_LPT) ShowControl(kKindBoxes[before], false);
  bool usbAllowed = g_mainWindow.usbAllowed != 0;
  if (!usbAllowed) {
    // A model without USB works on LPT only: the radio and the box follow
    // the kind actually used, whatever was clicked.
    for (int box : kKindBoxes) ShowControl(box, false);
    kind = PORT_LPT;
    g_settings.portKind = kind;
    CheckKindRadio(kind);
  }
  ShowControl(IDC_PORT_LABEL, kind != PORT_LAN);
  if (kind != PORT_LAN) ShowControl(kKindBoxes[kind], true);

  EnableControl(IDC_MODE_UPDATE, usbAllowed);
  EnableControl(IDC_KIND_USB, usbAllowed);
  EnableControl(IDC_KIND_COM, usbAllowed);
  EnableControl(IDC_KIND_LAN, usbAllowed);
  EnableControl(IDC_KIND_LPT, g_mainWindow.lptAllowed != 0);

  ShowGroup(kUsbGroup, kind == PORT_USB);
  ShowGroup(kSerialGroup, kind == PORT_COM);
  ShowGroup(kLanGroup, kind == PORT_LAN);
  EnableControl(IDC_BAUD_LIST, false);
  EnableControl(IDC_FORMAT_LIST, false);
  UpdateButtons();
  PumpMessages();
}

void OnFileNameChanged() {
  if (!g_mainWindow.ready) return;
  if (UpdateButtons() != 0) {
    SetDlgItemTextW(g_program.mainWindow, IDC_FIRMWARE_HEADER, L"");
    EnableControl(IDC_START_WRITING, false);
    return;
  }
  wchar_t path[kFileBoxChars];
  GetDlgItemTextW(g_program.mainWindow, IDC_FILE_NAME, path, kFileBoxChars);
  wchar_t expected[kExtensionChars];
  // The check reads the file into a block of its own: FirmwareData belongs
  // to Start writing, whose send loop may still be sending from it.
  CommandBuffer checked = {0, nullptr};
  int32_t result = PrepareFirmware(path, expected, &checked);
  if (checked.data != nullptr) GlobalFree(checked.data);
  switch (result) {
    case 0: case -2: case -3: case -4: case -5: case -6: case -9:
      return;
    default:
      ShowResultMessage(g_program.mainWindow, result, path);
  }
}

void OnComTyped() {
  HWND box = MainControl(IDC_COM_PORT);
  wchar_t text[kComNameMaxChars + 2] = {};
  GetWindowTextW(box, text, kComNameMaxChars + 1);
  if (text[0] == L'\0') return;
  std::wstring corrected = ComNameAfterTyping(text);
  if (corrected != text) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(box, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    SetWindowTextW(box, corrected.c_str());
    DWORD limit = static_cast<DWORD>(corrected.size());
    if (start > limit) start = limit;
    if (end > limit) end = limit;
    SendMessageW(box, CB_SETEDITSEL, 0, MAKELPARAM(start, end));
  }
  g_settings.comIndex = 4;
  CopyToField(g_settings.extraComName, kSettingTextChars, corrected.c_str());
}

void OnSelectionChange(int id) {
  LRESULT index = SendDlgItemMessageW(g_program.mainWindow, id, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return;
  int32_t value = static_cast<int32_t>(index);
  switch (id) {
    case IDC_USB_PORT: g_usbList.selectedIndex = value; break;
    case IDC_COM_PORT: g_settings.comIndex = value; break;
    case IDC_LPT_PORT: g_settings.lptIndex = value; break;
    case IDC_PROTOCOL_LIST: g_settings.comFlowControl = value; break;
    default: break;
  }
}

void OnBrowse() {
  HWND window = g_program.mainWindow;
  wchar_t text[kFileBoxChars] = {};
  GetDlgItemTextW(window, IDC_FILE_NAME, text, kFileBoxChars);
  wchar_t file[kFileBoxChars] = {};
  const wchar_t* name = wcsrchr(text, L'\\');
  const wchar_t* slash = wcsrchr(text, L'/');
  if (slash != nullptr && (name == nullptr || slash > name)) name = slash;
  CopyToField(file, kFileBoxChars, name != nullptr ? name + 1 : text);

  const wchar_t* extension = UpdateMode() ? CurrentModel().updateExtension : L"hex";
  wchar_t filter[600] = {};
  int used = _snwprintf(filter, 300, L"%ls File(*.%ls)", extension, extension);
  if (used < 0 || used >= 299) used = 298;
  _snwprintf(filter + used + 1, 290, L"*.%ls", extension);

  OPENFILENAMEW dialog = {};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  dialog.hwndOwner = window;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = kFileBoxChars;
  dialog.lpstrInitialDir = g_firmwareFile.browseFolder;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_SHOWHELP;
  if (GetOpenFileNameW(&dialog)) {
    PumpMessages();
    FirmwarePathParts parts = SplitFirmwarePath(file);
    CopyToField(g_firmwareFile.browseFolder, kPathChars, parts.folder.c_str());
    SetDlgItemTextW(window, IDC_FILE_NAME, file);
    SetDlgFocus(window, MainControl(IDC_FILE_NAME));
  } else {
    SetDlgFocus(window, MainControl(IDC_BROWSE));
  }
}

void OnDropFiles(HDROP drop) {
  if (WindowBusy()) {
    // The file of a running write stays in the box; the drop is let go.
    DragFinish(drop);
    return;
  }
  wchar_t path[kFileBoxChars] = {};
  if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) DragQueryFileW(drop, 0, path, kFileBoxChars);
  SetDlgItemTextW(g_program.mainWindow, IDC_FILE_NAME, path);
  DragFinish(drop);
}

void OnRefresh() {
  if (g_settings.portKind != PORT_USB) return;
  EnableControl(IDC_REFRESH, false);
  RefreshUsbPorts();
  EnableControl(IDC_REFRESH, true);
  SetDlgFocus(g_program.mainWindow, MainControl(IDC_USB_PORT));
  UpdateButtons();
}

void OnStartTagsmith() {
  SaveSettings();
  TickWait(100);
  ShellExecuteW(g_program.mainWindow, L"open", g_settings.tagsmithPath, nullptr, nullptr, SW_SHOWNORMAL);
}

void OnExit() {
  if (g_mainWindow.operationRunning) {
    // Ending now would leave the printer's spooler entries on "FILE:" and
    // its port open inside the running exchange, or save the LAN list before
    // a running search has added what it found: finish it first.
    g_mainWindow.exitRequested = 1;
    return;
  }
  HWND window = g_program.mainWindow;
  if (window == nullptr) return;
  PortReplace(REPLACE_OFF, nullptr);
  SaveSettings();
  DragAcceptFiles(window, FALSE);
  if (g_program.progressDialog != nullptr) DestroyWindow(g_program.progressDialog);
  DestroyWindow(window);
}

// Commands that start printer or file work. While one runs, the window is
// disabled, but a command can still arrive: posted, or as a click that Wine
// hands to a disabled button. A second exchange on the same port in the
// middle of the first would interleave their bytes.
bool StartsWork(int id) {
  switch (id) {
    case IDC_BROWSE: case IDC_REFRESH: case IDC_LAN_ADD: case IDC_LAN_SEARCH: case IDC_LAN_DELETE:
    case IDC_GET_VERSION: case IDC_PRINT_VERSION: case IDC_RESET_PRINTER: case IDC_START_WRITING:
    case IDC_START_TAGSMITH:
      return true;
    default:
      return false;
  }
}

// Commands that change what a running operation works with: the write
// mode, the port kind and the file name. They arrive as the buttons do.
bool ChangesWorkInUse(int id) {
  switch (id) {
    case IDC_MODE_REWRITE_ALL: case IDC_MODE_UPDATE: case IDC_KIND_USB: case IDC_KIND_COM: case IDC_KIND_LPT:
    case IDC_KIND_LAN: case IDC_FILE_NAME:
      return true;
    default:
      return false;
  }
}

void OnCommand(HWND window, int id, int code) {
  if ((StartsWork(id) || ChangesWorkInUse(id)) && WindowBusy()) {
    // An ignored radio click has moved the check mark by itself: put it
    // back on what is in use.
    if (code == BN_CLICKED && (id == IDC_MODE_REWRITE_ALL || id == IDC_MODE_UPDATE)) {
      CheckDlgButton(window, IDC_MODE_UPDATE, UpdateMode() ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(window, IDC_MODE_REWRITE_ALL, UpdateMode() ? BST_UNCHECKED : BST_CHECKED);
    } else if (code == BN_CLICKED && id >= IDC_KIND_USB && id <= IDC_KIND_LAN) {
      CheckKindRadio(g_settings.portKind);
    }
    return;
  }
  switch (id) {
    case IDC_MODE_REWRITE_ALL:
    case IDC_MODE_UPDATE:
      if (code == BN_CLICKED) OnWriteMode(id);
      break;
    case IDC_KIND_USB:
    case IDC_KIND_COM:
    case IDC_KIND_LPT:
    case IDC_KIND_LAN:
      if (code == BN_CLICKED) OnPortKind(id);
      break;
    case IDC_FILE_NAME:
      if (code == EN_CHANGE) OnFileNameChanged();
      break;
    case IDC_COM_PORT:
      if (code == CBN_EDITCHANGE) OnComTyped();
      if (code == CBN_SELCHANGE) OnSelectionChange(id);
      break;
    case IDC_USB_PORT:
    case IDC_LPT_PORT:
    case IDC_PROTOCOL_LIST:
      if (code == CBN_SELCHANGE) OnSelectionChange(id);
      break;
    case IDC_BROWSE: OnBrowse(); break;
    case IDC_REFRESH: OnRefresh(); break;
    case IDC_LAN_ADD:
    case IDC_LAN_SEARCH:
    case IDC_LAN_DELETE: OnLanCommand(id); break;
    case IDC_GET_VERSION:
    case IDC_PRINT_VERSION:
    case IDC_RESET_PRINTER: OnPrinterCommand(id); break;
    case IDC_START_WRITING: OnStartWriting(); break;
    case IDC_START_TAGSMITH: OnStartTagsmith(); break;
    case IDC_EXIT: OnExit(); break;
    case IDC_TAGSMITH_ENDED: SetDlgFocus(window, MainControl(IDC_START_TAGSMITH)); break;
    default: break;
  }
}

}  // namespace

const ModelRecord& CurrentModel() {
  static const ModelRecord kDefault = {L"", L"Disable", 0, L"hx*"};
  if (g_settings.models == nullptr) return kDefault;
  int32_t count = g_settings.modelCount > 0 ? g_settings.modelCount : 1;
  int32_t index = g_settings.selectedModel >= 0 && g_settings.selectedModel < count ? g_settings.selectedModel : 0;
  return g_settings.models[index];
}

HWND MainControl(int id) { return GetDlgItem(g_program.mainWindow, id); }
void ShowControl(int id, bool shown) { ShowWindow(MainControl(id), shown ? SW_SHOW : SW_HIDE); }
void EnableControl(int id, bool enabled) { EnableWindow(MainControl(id), enabled ? TRUE : FALSE); }

void EndUnattendedRun(int exitCode) {
  if (g_frame.interactive != 0) return;
  g_mainWindow.exitCode = exitCode;
  PostMessageW(g_program.mainWindow, WM_COMMAND, IDC_EXIT, 0);
}

void FinishOperation() {
  g_mainWindow.operationRunning = 0;
  if (g_mainWindow.exitRequested) {
    g_mainWindow.exitRequested = 0;
    PostMessageW(g_program.mainWindow, WM_COMMAND, IDC_EXIT, 0);
  }
}

int32_t UpdateButtons() {
  HWND window = g_program.mainWindow;
  bool portUsable = true;
  if (g_settings.portKind == PORT_USB) {
    wchar_t text[kUsbLabelChars] = {};
    GetDlgItemTextW(window, IDC_USB_PORT, text, kUsbLabelChars);
    portUsable = !AsciiEqualNoCase(text, L"None") && wcscmp(text, NoneWord(0)) != 0;
  } else if (g_settings.portKind == PORT_LAN) {
    portUsable = g_settings.lanCount > 0;
  }
  wchar_t path[kFileBoxChars] = {};
  GetDlgItemTextW(window, IDC_FILE_NAME, path, kFileBoxChars);
  int32_t status = FileNameStatus(path);
  EnableControl(IDC_START_WRITING, portUsable && status == 0);
  EnableControl(IDC_GET_VERSION, portUsable);
  EnableControl(IDC_PRINT_VERSION, portUsable);
  EnableControl(IDC_LAN_DELETE, g_settings.portKind == PORT_LAN && g_settings.lanCount > 0);
  EnableControl(IDC_START_TAGSMITH, portUsable && g_settings.tagsmithPresent == 1);
  return status;
}

void RefreshUsbPorts() {
  bool nested = g_usbListRebuilding;
  g_usbListRebuilding = true;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  HWND box = MainControl(IDC_USB_PORT);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  if (BuildUsbPrinterList() != 0 || g_usbList.count == 1) g_usbList.selectedIndex = 0;
  if (g_usbList.selectedIndex < 0 || g_usbList.selectedIndex >= g_usbList.count) g_usbList.selectedIndex = 0;
  for (int32_t i = 0; i < g_usbList.count; ++i) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_usbList.entries[i].label));
  }
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(g_usbList.selectedIndex), 0);
  g_mainWindow.usbAllowed = AsciiEqualNoCase(CurrentModel().usbIdText, L"Disable") ? 0 : 1;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  g_usbListRebuilding = nested;
}

const wchar_t* FillConnection(int purpose, PrinterConnection* connection) {
  *connection = PrinterConnection{};
  connection->portKind = g_settings.portKind;
  connection->handle = nullptr;
  const wchar_t* name = L"";
  // The box may hold a longer name than can be typed (one from the settings
  // file, such as COM123): read it whole, or the data go to another port.
  wchar_t typed[kPortNameChars] = {};
  switch (g_settings.portKind) {
    case PORT_USB:
      if (g_usbList.entries != nullptr && g_usbList.selectedIndex >= 0 && g_usbList.selectedIndex < g_usbList.count) {
        const UsbPrinterEntry& entry = g_usbList.entries[g_usbList.selectedIndex];
        name = purpose == kFillForConfirmation ? entry.label : purpose == kFillForSend ? entry.devicePath : entry.portName;
      }
      break;
    case PORT_COM:
      if (g_settings.comIndex >= 0 && g_settings.comIndex < 4) {
        name = kComNames[g_settings.comIndex];
      } else {
        GetDlgItemTextW(g_program.mainWindow, IDC_COM_PORT, typed, kPortNameChars);
        name = typed;
      }
      _snwprintf(connection->comPath, kComPathChars, L"\\\\.\\%ls", name);
      connection->comPath[kComPathChars - 1] = L'\0';
      break;
    case PORT_LPT:
      name = kLptNames[g_settings.lptIndex >= 0 && g_settings.lptIndex < 4 ? g_settings.lptIndex : 0];
      break;
    case PORT_LAN:
      if (g_settings.lanList != nullptr && g_settings.selectedLan >= 0 && g_settings.selectedLan < g_settings.lanCount) {
        const LanPrinterRecord& record = g_settings.lanList[g_settings.selectedLan];
        name = record.ipAddressW;
        int32_t slot = record.librarySlot == kNetSlotSx ? kNetSlotSx : kNetSlotLanquay;
        if (g_netLibraries[slot].module == nullptr) slot = kNetSlotCount - 1 - slot;
        g_program.netSlot = slot;
      }
      break;
    default:
      break;
  }
  CopyToField(connection->portName, kPortNameChars, name);
  return connection->portName;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window);
      return TRUE;
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(lParam)->idFrom == IDC_LAN_LIST) return OnLanListNotify(reinterpret_cast<NMHDR*>(lParam));
      break;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CLOSE:
      OnExit();
      return 0;
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
      // A log-off or shutdown may end the process in the middle of a write
      // without another message: the report says how far the run came.
      if (message == WM_QUERYENDSESSION || wParam != 0) SaveRunRecord();
      break;
    case WM_DESTROY:
      g_program.mainWindow = nullptr;
      PostQuitMessage(g_frame.interactive != 0 ? 0 : g_mainWindow.exitCode);
      return 0;
    default:
      break;
  }
  return FrameDefaultProc(window, message, wParam, lParam);
}

bool CreateMainWindow(int showCommand) {
  g_mainWindow.ready = 0;
  HWND window = CreateMainDialog(kProgramTitle, MainWndProc, IDI_ROMSMITH, IDD_MAIN,
                                 ICC_INTERNET_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS);
  if (window == nullptr) return false;

  int32_t mode = g_settings.writingMethod == 1 ? 1 : 0;
  int32_t kind = g_settings.portKind;
  g_mainWindow.ready = 1;
  g_settings.writingMethod = 2;
  g_settings.portKind = kKindNone;

  int modeRadio = mode == 1 ? IDC_MODE_UPDATE : IDC_MODE_REWRITE_ALL;
  CheckDlgButton(window, mode == 1 ? IDC_MODE_REWRITE_ALL : IDC_MODE_UPDATE, BST_UNCHECKED);
  SendMessageW(window, WM_COMMAND, modeRadio, 1);
  CheckDlgButton(window, modeRadio, BST_CHECKED);

  int kindRadio = kind >= PORT_USB && kind <= PORT_LAN ? kKindRadios[kind] : IDC_KIND_LAN;
  SendMessageW(window, WM_COMMAND, kindRadio, 1);
  // The kind may have been forced to LPT by the model; check what is used.
  CheckKindRadio(g_settings.portKind);

  SetDlgFocus(window, MainControl(IDC_FILE_NAME));
  SetDlgItemTextW(window, IDC_FILE_NAME, g_settings.fileName);

  ShowMainWindow(window, showCommand);
  if (g_settings.startNotice != 0) ShowResultMessage(window, kMessageStartNotice, L"");
  SetDlgFocus(window, MainControl(modeRadio));
  return true;
}
