#include "spooler_journal.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <winspool.h>

#include <cstdint>
#include <cwchar>

#include "debug_log.h"
#include "elevated_files_win.h"
#include "port_journal.h"
#include "spooler.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "journal texts are UTF-16 on Windows");

namespace {

constexpr DWORD kMostJournalBytes = 1u << 20;  // far above any real journal
// How long a change of the journal waits for the other program's: a start-up
// repair holds the journal while it puts its printers back.
constexpr DWORD kJournalLockWaitMs = 10000;

// A printer this process has moved to "FILE:", and the named mutex that says
// so to the other program while this one runs.
struct SwitchedMark {
  std::u16string printerName;
  HANDLE mutex;
};

// The administrators' folder as it was found and made ready, once per run.
struct AdminFolderState {
  bool checked;
  bool usable;       // a plain folder the administrators own (or as near as the volume allows)
  bool ownersKept;   // the volume records the owner set; false under Wine
};

struct JournalState {
  std::wstring folder;       // test folder; empty for the local application-data one
  std::wstring adminFolder;  // test folder for the elevated journal; empty for %ProgramData%\Romsmith
  HANDLE lock;               // "Romsmith_PortJournal", held for each read-modify-write of the file
  std::vector<SwitchedMark> marks;
  AdminFolderState admin;
};
JournalState g_journal = {L"", L"", nullptr, {}, {false, false, false}};

// The journal's folder while elevated: administrators and SYSTEM may change
// it, users may read it. The DACL is protected, so nothing is inherited from
// %ProgramData%, where every user may create folders. The journal file
// itself is made with the same rights and the administrators as owner.
constexpr wchar_t kAdminFolderRights[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)";
constexpr wchar_t kAdminFileRights[] = L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;BU)";

// A security descriptor from its SDDL text, freed with the object.
class Security {
 public:
  explicit Security(const wchar_t* sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
      DebugLogF("PortJournal Err(security %lu)", static_cast<unsigned long>(GetLastError()));
      descriptor_ = nullptr;
    }
    attributes_ = {sizeof(attributes_), descriptor_, FALSE};
  }
  ~Security() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;
  const SECURITY_ATTRIBUTES* Attributes() const { return descriptor_ != nullptr ? &attributes_ : nullptr; }
  PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

std::u16string ToU16(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }
std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring UserFolder() {
  if (!g_journal.folder.empty()) return g_journal.folder;
  wchar_t base[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) {
    return std::wstring(base) + L"\\Romsmith";
  }
  DWORD chars = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  if (chars == 0 || chars >= MAX_PATH) return L"";
  return std::wstring(base) + L"\\Romsmith";
}

std::wstring AdminFolder() {
  if (!g_journal.adminFolder.empty()) return g_journal.adminFolder;
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) return L"";
  return std::wstring(base) + L"\\Romsmith";
}

// Elevated, the journal lives in the administrators' folder: in the user's
// folder any process of the user could plant it, or turn its writes and
// deletes into ones anywhere. A test folder alone keeps everything there.
bool AdminMode() {
  if (!g_journal.adminFolder.empty()) return true;
  return g_journal.folder.empty() && ProcessIsElevated();
}

std::wstring JournalFolder() { return AdminMode() ? AdminFolder() : UserFolder(); }

// Makes the administrators' folder, or takes over one that someone else
// made first (every user may create folders in %ProgramData%): the
// administrators become its owner and its rights are set anew.
AdminFolderState PrepareAdminFolder() {
  AdminFolderState state = {true, false, false};
  const std::wstring folder = AdminFolder();
  const Security rights(kAdminFolderRights);
  if (folder.empty() || rights.Descriptor() == nullptr) return state;
  const bool made = CreateDirectoryW(folder.c_str(), const_cast<SECURITY_ATTRIBUTES*>(rights.Attributes())) != FALSE;
  HANDLE handle = OpenPlainFolder(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
  if (handle == INVALID_HANDLE_VALUE) {
    DebugLogF("PortJournal Err(folder %lu)", static_cast<unsigned long>(GetLastError()));
    return state;
  }
  FileOwner owner = OwnerOf(handle);
  bool set = made;
  if (owner != FileOwner::Administrators && owner != FileOwner::System) {
    PSID admins = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(rights.Descriptor(), &admins, &defaulted);
    GetSecurityDescriptorDacl(rights.Descriptor(), &present, &dacl, &defaulted);
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const DWORD error = SetSecurityInfo(handle, SE_FILE_OBJECT, what, admins, nullptr, dacl, nullptr);
    set = error == ERROR_SUCCESS;
    DebugLogF("PortJournal folder taken over (%lu)", static_cast<unsigned long>(error));
    owner = OwnerOf(handle);
  }
  CloseHandle(handle);
  state.ownersKept = owner == FileOwner::Administrators || owner == FileOwner::System;
  // Set, yet read back as the user's: the volume keeps no owners (Wine).
  state.usable = state.ownersKept || (set && owner == FileOwner::CurrentUser);
  if (!state.usable) WriteDebugLog("PortJournal Err(folder not the administrators')");
  return state;
}

const AdminFolderState& AdminFolderReady() {
  if (!g_journal.admin.checked) g_journal.admin = PrepareAdminFolder();
  return g_journal.admin;
}

// The journal's folder, made when missing; false when it cannot be used.
bool JournalFolderReady() {
  if (AdminMode()) return AdminFolderReady().usable;
  return MakePlainFolder(UserFolder(), nullptr);
}

// Whole entries of the file at `path` as it stands; none when it is missing,
// reached through a link, or (`checkOwner`) not the administrators' own.
std::vector<PortJournalEntry> ReadJournalFile(const std::wstring& path, bool checkOwner) {
  HANDLE file = OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  if (checkOwner && !JournalOwnerTrusted(OwnerOf(file), AdminFolderReady().ownersKept)) {
    WriteDebugLog("PortJournal Err(owner not an administrator): not acted on");
    CloseHandle(file);
    return {};
  }
  std::vector<uint8_t> bytes(kMostJournalBytes);
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), kMostJournalBytes, &got, nullptr)) got = 0;
  CloseHandle(file);
  PortJournalContents contents = ParsePortJournal(bytes.data(), got);
  if (!contents.complete) DebugLogF("PortJournal damaged: %u whole entries", static_cast<unsigned>(contents.entries.size()));
  return contents.entries;
}

std::vector<PortJournalEntry> ReadJournal(const std::wstring& path) { return ReadJournalFile(path, AdminMode()); }

// Replaces the journal whole, or removes it when nothing is left.
bool WriteJournal(const std::wstring& path, const std::vector<PortJournalEntry>& entries) {
  if (entries.empty()) {
    if (DeletePlainFile(path)) return true;
    DebugLogF("PortJournal Err(DeleteFile %lu)", static_cast<unsigned long>(GetLastError()));
    return false;
  }
  std::string text;
  if (!FormatPortJournal(entries, &text)) {
    WriteDebugLog("PortJournal Err(unwritable name or port)");
    return false;
  }
  if (AdminMode()) {
    const Security rights(kAdminFileRights);
    return rights.Attributes() != nullptr && ReplacePlainFile(path, text, rights.Attributes(), "PortJournal");
  }
  return ReplacePlainFile(path, text, nullptr, "PortJournal");
}

// Holds the journal lock for one read-modify-write. A holder that ended
// without letting go (killed) counts as none: the file is only ever
// replaced whole, so what it left is sound.
class JournalLock {
 public:
  JournalLock() {
    if (g_journal.lock == nullptr) g_journal.lock = CreateMutexW(nullptr, FALSE, L"Romsmith_PortJournal");
    const DWORD waited =
        g_journal.lock != nullptr ? WaitForSingleObject(g_journal.lock, kJournalLockWaitMs) : WAIT_FAILED;
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!held_) {
      DebugLogF("PortJournal Err(lock %lu/%lu)", static_cast<unsigned long>(waited),
                static_cast<unsigned long>(GetLastError()));
    }
  }
  ~JournalLock() {
    if (held_) ReleaseMutex(g_journal.lock);
  }
  JournalLock(const JournalLock&) = delete;
  JournalLock& operator=(const JournalLock&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_ = false;
};

// The name of the mutex that marks the printer as switched by a running
// program. Printer names may hold backslashes and be longer than a mutex
// name, so the name is hashed (64-bit FNV-1a).
std::wstring MarkName(const std::u16string& printerName) {
  uint64_t hash = 14695981039346656037ull;
  for (char16_t unit : printerName) {
    hash = (hash ^ (unit & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (unit >> 8)) * 1099511628211ull;
  }
  wchar_t name[64];
  swprintf(name, sizeof(name) / sizeof(name[0]), L"Romsmith_PortJournal_%08lx%08lx",
           static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash & 0xFFFFFFFFu));
  return name;
}

std::vector<SwitchedMark>::iterator FindMark(const std::u16string& printerName) {
  auto it = g_journal.marks.begin();
  while (it != g_journal.marks.end() && it->printerName != printerName) ++it;
  return it;
}

void MarkSwitched(const std::u16string& printerName) {
  if (FindMark(printerName) != g_journal.marks.end()) return;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MarkName(printerName).c_str());
  const DWORD waited = mutex != nullptr ? WaitForSingleObject(mutex, 0) : WAIT_FAILED;
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    // Another running program has this printer on "FILE:" already.
    DebugLogF("PortJournal Err(mark %lu)", static_cast<unsigned long>(waited));
    if (mutex != nullptr) CloseHandle(mutex);
    return;
  }
  g_journal.marks.push_back({printerName, mutex});
}

void ClearMark(const std::u16string& printerName) {
  auto it = FindMark(printerName);
  if (it == g_journal.marks.end()) return;
  ReleaseMutex(it->mutex);
  CloseHandle(it->mutex);
  g_journal.marks.erase(it);
}

// True when a running program (this one included) has the printer on
// "FILE:": its entry is that program's to clear, not a leftover to repair.
bool SwitchedByRunningProgram(const std::u16string& printerName) {
  if (FindMark(printerName) != g_journal.marks.end()) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MarkName(printerName).c_str());
  if (mutex == nullptr) return false;
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex);
  CloseHandle(mutex);
  return waited == WAIT_TIMEOUT;
}

// Puts one printer back when its port list is still "FILE:". True when the
// entry is done with (put back, or set up again by the operator).
bool RestorePrinter(const SpoolerApi& api, const PortJournalEntry& entry, bool* putBack) {
  const std::wstring name = ToWide(entry.printerName);
  const std::wstring port = ToWide(entry.portList);
  HANDLE printer = nullptr;
  if (!api.openPrinter(name.c_str(), &printer)) {
    DebugLogF("PortJournal restore Err(OpenPrinter %lu)", static_cast<unsigned long>(GetLastError()));
    return false;
  }
  bool done = false;
  DWORD needed = 0;
  api.getPrinter(printer, nullptr, 0, &needed);
  BYTE* block = needed >= sizeof(PRINTER_INFO_2W) ? static_cast<BYTE*>(api.allocZeroed(needed)) : nullptr;
  if (block != nullptr && api.getPrinter(printer, block, needed, &needed)) {
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block);
    if (info->pPortName == nullptr || wcscmp(info->pPortName, L"FILE:") != 0) {
      WriteDebugLog("PortJournal restore: port set up again since, left alone");
      done = true;
    } else {
      info->pPortName = const_cast<wchar_t*>(port.c_str());
      info->pSecurityDescriptor = nullptr;
      done = api.setPrinter(printer, info) != FALSE;
      *putBack = done;
      if (!done) DebugLogF("PortJournal restore Err(SetPrinter %lu)", static_cast<unsigned long>(GetLastError()));
    }
  } else {
    WriteDebugLog("PortJournal restore Err(GetPrinter)");
  }
  api.closePrinter(printer);
  api.freeBlock(block);
  return done;
}

// Reads a level-1/level-2 enumeration of the spooler into a buffer, asking
// again when it grew in between. Empty when it cannot be read.
template <typename Enumerate>
std::vector<BYTE> ReadEnumeration(Enumerate enumerate, DWORD* returned) {
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    *returned = 0;
    if (enumerate(buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size()), &needed, returned)) {
      return buffer;
    }
    if (needed == 0 || needed <= buffer.size()) break;
    buffer.assign(needed, 0);
  }
  *returned = 0;
  return {};
}

// The spooler's local printers and its ports, for checking the journal; a
// spooler that cannot be read gives empty lists, and no entry passes.
SpoolerInventory ReadInventory(const SpoolerApi& api) {
  SpoolerInventory inventory;
  DWORD count = 0;
  std::vector<BYTE> printers = ReadEnumeration(
      [&api](BYTE* buffer, DWORD bytes, DWORD* needed, DWORD* returned) {
        return api.enumPrinters(PRINTER_ENUM_LOCAL, buffer, bytes, needed, returned);
      },
      &count);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(printers.data());
  for (DWORD i = 0; i < count; ++i) {
    if (info[i].pPrinterName != nullptr) inventory.localPrinters.push_back(ToU16(info[i].pPrinterName));
  }
  std::vector<BYTE> ports = ReadEnumeration(api.enumPorts, &count);
  const auto* port = reinterpret_cast<const PORT_INFO_1W*>(ports.data());
  for (DWORD i = 0; i < count; ++i) {
    if (port[i].pName != nullptr) inventory.ports.push_back(ToU16(port[i].pName));
  }
  return inventory;
}

// The entries that pass the checks; each one refused is logged and dropped,
// and its printer is left as it is.
std::vector<PortJournalEntry> CheckedEntries(const SpoolerApi& api, const std::vector<PortJournalEntry>& entries) {
  if (entries.empty()) return {};
  const std::vector<JournalRefusal> verdicts = CheckJournalEntries(entries, ReadInventory(api));
  std::vector<PortJournalEntry> passed;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (verdicts[i] == JournalRefusal::None) {
      passed.push_back(entries[i]);
    } else if (verdicts[i] != JournalRefusal::TooMany || i == 0) {
      DebugLogF("PortJournal entry %u refused (%s)", static_cast<unsigned>(i + 1), JournalRefusalText(verdicts[i]));
    }
  }
  return passed;
}

}  // namespace

namespace {

void SetFolder(std::wstring* target, const wchar_t* folder) {
  *target = folder != nullptr ? folder : L"";
  while (!target->empty() && target->back() == L'\\') target->pop_back();
  g_journal.admin = {false, false, false};
}

std::wstring JournalPathIn(const std::wstring& folder) { return folder.empty() ? L"" : folder + L"\\PortJournal.txt"; }

}  // namespace

void SetSpoolerJournalFolder(const wchar_t* folder) { SetFolder(&g_journal.folder, folder); }

void SetSpoolerJournalAdminFolder(const wchar_t* folder) { SetFolder(&g_journal.adminFolder, folder); }

std::wstring SpoolerJournalPath() { return JournalPathIn(JournalFolder()); }

std::wstring SpoolerUserFolder() { return UserFolder(); }

bool JournalPrinterSwitching(const wchar_t* printerName, const wchar_t* portList) {
  const std::u16string name = ToU16(printerName);
  // The mark first, whatever happens to the file: a printer switched without
  // it would look left over to the other program, whose repair would put it
  // back in the middle of this exchange.
  MarkSwitched(name);
  const std::wstring path = SpoolerJournalPath();
  if (path.empty()) {
    WriteDebugLog("PortJournal Err(no folder)");
    return false;
  }
  if (!JournalFolderReady()) return false;
  JournalLock lock;
  if (!lock.Held()) return false;
  std::vector<PortJournalEntry> entries = ReadJournal(path);
  bool found = false;
  for (PortJournalEntry& entry : entries) {
    if (entry.printerName != name) continue;
    entry.portList = ToU16(portList);  // the port it has now is the one to go back to
    found = true;
  }
  if (!found) entries.push_back({name, ToU16(portList)});
  return WriteJournal(path, entries);
}

void JournalPrinterBack(const wchar_t* printerName) {
  const std::wstring path = SpoolerJournalPath();
  const std::u16string name = ToU16(printerName);
  JournalLock lock;
  if (!path.empty() && lock.Held()) {
    std::vector<PortJournalEntry> entries = ReadJournal(path);
    std::vector<PortJournalEntry> kept;
    for (PortJournalEntry& entry : entries) {
      if (entry.printerName != name) kept.push_back(entry);
    }
    if (kept.size() != entries.size()) WriteJournal(path, kept);
  }
  // Let go only with the entry gone, so that a repair never finds the entry
  // without its mark.
  ClearMark(name);
}

std::vector<std::wstring> RestoreJournalPrinters() {
  std::vector<std::wstring> restored;
  const std::wstring path = SpoolerJournalPath();
  // Elevated, a journal left in the user's folder by an earlier version is
  // taken over once: its entries pass the same checks, and the file goes.
  const std::wstring oldPath = AdminMode() ? JournalPathIn(UserFolder()) : L"";
  const bool haveOld = !oldPath.empty() && GetFileAttributesW(oldPath.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (path.empty() || (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && !haveOld)) return restored;
  if (!JournalFolderReady()) return restored;
  // Held throughout, so that the other program neither adds an entry that
  // the write below would drop nor switches a printer while it is put back.
  JournalLock lock;
  if (!lock.Held()) {
    WriteDebugLog("PortJournal restore skipped: journal locked");
    return restored;
  }
  const SpoolerApi& api = CurrentSpoolerApi();
  const std::vector<PortJournalEntry> read = ReadJournal(path);
  std::vector<PortJournalEntry> combined = read;
  if (haveOld) {
    for (const PortJournalEntry& entry : ReadJournalFile(oldPath, false)) {
      bool listed = false;
      for (const PortJournalEntry& known : read) listed = listed || known.printerName == entry.printerName;
      if (!listed) combined.push_back(entry);
    }
  }
  const std::vector<PortJournalEntry> entries = CheckedEntries(api, combined);
  std::vector<PortJournalEntry> kept;
  for (const PortJournalEntry& entry : entries) {
    bool putBack = false;
    if (SwitchedByRunningProgram(entry.printerName)) {
      WriteDebugLog("PortJournal restore: switched by a running program, left alone");
      kept.push_back(entry);
    } else if (!RestorePrinter(api, entry, &putBack)) {
      kept.push_back(entry);
    }
    if (putBack) restored.push_back(ToWide(entry.printerName));
  }
  // A file with nothing readable (a later format, say) is left as it is.
  // The old journal goes only once what it still holds is in the new one.
  if ((kept.size() != read.size() || haveOld) && WriteJournal(path, kept) && haveOld) {
    DebugLogF("PortJournal old journal taken over (%d)", DeletePlainFile(oldPath) ? 1 : 0);
  }
  return restored;
}
