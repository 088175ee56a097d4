#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/result_codes.h"
#include "core/settings_types.h"
#include "tests/win/fake_ports.h"
#include "core/spooler.h"
#include "core/spooler_journal.h"
#include "guarded_heap.h"
#include "log_capture.h"

namespace {

std::string Show(const std::wstring& w) {
  char buffer[1024];
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buffer, sizeof(buffer), nullptr, nullptr);
  buffer[sizeof(buffer) - 1] = '\0';
  return buffer;
}

struct FakePrinter {
  std::wstring name;
  std::wstring port;
  DWORD jobs;
};

// The print spooler as PortReplace sees it, with failures on demand: a call
// fails when its number (counted per function from 0) is in the fail set, or
// at random with the given chance.
struct FakeSpooler {
  std::vector<FakePrinter> printers;
  std::set<int> failOpen, failGetSize, failGetRead, failSet;
  double failChance = 0.0;
  std::mt19937 random{1};
  int openCalls = 0, getSizeCalls = 0, getReadCalls = 0, setCalls = 0, enumCalls = 0, serverQueries = 0;
  std::vector<bool> handleOpen;
  int badHandles = 0;
  int securityKept = 0;
  GuardedHeap heap;

  bool Fails(std::set<int>& set, int call) {
    if (set.count(call) != 0) return true;
    return failChance > 0 && std::uniform_real_distribution<double>(0, 1)(random) < failChance;
  }
  int Index(HANDLE h) {
    const intptr_t i = reinterpret_cast<intptr_t>(h) / 16 - 1;
    if (i < 0 || i >= static_cast<intptr_t>(handleOpen.size()) || !handleOpen[i]) {
      ++badHandles;
      return -1;
    }
    return static_cast<int>(i);
  }
  int OpenHandles() const {
    int n = 0;
    for (bool b : handleOpen) n += b ? 1 : 0;
    return n;
  }
};

FakeSpooler* g_fake = nullptr;

// Lays out level-2 records followed by their strings, as the spooler does.
DWORD LayOut(const std::vector<const FakePrinter*>& list, BYTE* buffer, DWORD bufferBytes) {
  DWORD needed = static_cast<DWORD>(list.size() * sizeof(PRINTER_INFO_2W));
  for (const FakePrinter* p : list) needed += static_cast<DWORD>((p->name.size() + p->port.size() + 2) * sizeof(wchar_t));
  if (buffer == nullptr || bufferBytes < needed) return needed;
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(buffer + list.size() * sizeof(PRINTER_INFO_2W));
  for (size_t i = 0; i < list.size(); ++i) {
    memset(&info[i], 0, sizeof(info[i]));
    info[i].pPrinterName = text;
    wcscpy(text, list[i]->name.c_str());
    text += list[i]->name.size() + 1;
    info[i].pPortName = text;
    wcscpy(text, list[i]->port.c_str());
    text += list[i]->port.size() + 1;
    info[i].cJobs = list[i]->jobs;
    // A descriptor the spooler would try to write back if handed in.
    info[i].pSecurityDescriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(buffer);
  }
  return needed;
}

BOOL FakeEnumPrinters(DWORD flags, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned) {
  ++g_fake->enumCalls;
  // Asks each print server behind a connection; one that is offline would
  // block here for as long as the network takes to give up.
  if ((flags & PRINTER_ENUM_CONNECTIONS) != 0) ++g_fake->serverQueries;
  std::vector<const FakePrinter*> list;
  for (const auto& p : g_fake->printers) list.push_back(&p);
  *neededBytes = LayOut(list, buffer, bufferBytes);
  if (buffer == nullptr || bufferBytes < *neededBytes) {
    *returned = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *returned = static_cast<DWORD>(list.size());
  return TRUE;
}

BOOL FakeOpenPrinter(const wchar_t* name, HANDLE* printer) {
  if (g_fake->Fails(g_fake->failOpen, g_fake->openCalls++)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  for (size_t i = 0; i < g_fake->printers.size(); ++i) {
    if (g_fake->printers[i].name == name) {
      if (g_fake->handleOpen.size() < g_fake->printers.size()) g_fake->handleOpen.resize(g_fake->printers.size());
      if (g_fake->handleOpen[i]) ++g_fake->badHandles;  // opened twice without a close
      g_fake->handleOpen[i] = true;
      *printer = reinterpret_cast<HANDLE>(static_cast<intptr_t>((i + 1) * 16));
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  return FALSE;
}

BOOL FakeGetPrinter(HANDLE printer, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes) {
  const int i = g_fake->Index(printer);
  if (i < 0) return FALSE;
  const DWORD needed = LayOut({&g_fake->printers[i]}, nullptr, 0);
  if (buffer == nullptr) {
    *neededBytes = g_fake->Fails(g_fake->failGetSize, g_fake->getSizeCalls++) ? 0 : needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (g_fake->Fails(g_fake->failGetRead, g_fake->getReadCalls++)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *neededBytes = needed;
  if (bufferBytes < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  LayOut({&g_fake->printers[i]}, buffer, bufferBytes);
  return TRUE;
}

BOOL FakeSetPrinter(HANDLE printer, PRINTER_INFO_2W* info) {
  const int i = g_fake->Index(printer);
  if (i < 0) return FALSE;
  if (g_fake->Fails(g_fake->failSet, g_fake->setCalls++)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (info->pSecurityDescriptor != nullptr) ++g_fake->securityKept;
  if (info->pPrinterName == nullptr || g_fake->printers[i].name != info->pPrinterName) ++g_fake->badHandles;
  g_fake->printers[i].port = info->pPortName;
  return TRUE;
}

BOOL FakeClosePrinter(HANDLE printer) {
  const int i = g_fake->Index(printer);
  if (i < 0) return FALSE;
  g_fake->handleOpen[i] = false;
  return TRUE;
}

void* FakeAlloc(size_t bytes) { return g_fake->heap.Alloc(bytes); }
void FakeFree(void* block) { g_fake->heap.Free(block); }
void FakePump() {}

const SpoolerApi kFakeApi = {FakeEnumPrinters, FakeOpenPrinter, FakeGetPrinter, FakeSetPrinter, FakeClosePrinter,
                             FakeAlloc,        FakeFree,        FakePump,       UsualFakePorts};

PrinterConnection Port(const wchar_t* name) {
  PrinterConnection c;
  memset(&c, 0, sizeof(c));
  c.handle = INVALID_HANDLE_VALUE;
  wcsncpy(c.portName, name, kPortNameChars - 1);
  return c;
}

class SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    previous_ = SetSpoolerApi(&kFakeApi);
    g_settings.languageIndex = 1;
    g_spooler.switchState = REPLACE_OFF;
    // The journal of these fake printers is kept out of the profile's.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    SetSpoolerJournalFolder(temp);
  }
  void TearDown() override {
    SetSpoolerJournalFolder(nullptr);
    FreeSpoolerList();
    g_spooler.switchState = REPLACE_OFF;
    EXPECT_EQ(fake_.heap.Live(), 0u) << "blocks left allocated";
    EXPECT_EQ(fake_.heap.Overruns(), 0) << "write past a block";
    EXPECT_EQ(fake_.heap.BadFrees(), 0);
    EXPECT_EQ(fake_.OpenHandles(), 0) << "printer handle left open";
    EXPECT_EQ(fake_.badHandles, 0) << "closed or foreign handle used";
    EXPECT_EQ(fake_.securityKept, 0) << "security descriptor handed back to the spooler";
    EXPECT_EQ(fake_.serverQueries, 0) << "print servers asked for their printers";
    SetSpoolerApi(previous_);
    g_fake = nullptr;
  }
  void Install(std::vector<FakePrinter> printers) {
    fake_.printers = std::move(printers);
    original_.clear();
    for (const auto& p : fake_.printers) original_.push_back(p.port);
    RefreshSpoolerList();
  }
  std::vector<std::string> Ports() const {
    std::vector<std::string> out;
    for (const auto& p : fake_.printers) out.push_back(Show(p.port));
    return out;
  }
  std::vector<std::string> Original() const {
    std::vector<std::string> out;
    for (const auto& p : original_) out.push_back(Show(p));
    return out;
  }
  int Calls() const { return fake_.openCalls + fake_.getSizeCalls + fake_.getReadCalls + fake_.setCalls; }

  FakeSpooler fake_;
  std::vector<std::wstring> original_;
  const SpoolerApi* previous_ = nullptr;
};

using PortList = std::vector<std::string>;

TEST_F(SpoolerTest, SnapshotKeepsTheSpoolersOrder) {
  Install({{L"A", L"LPT1:", 0}, {L"B", L"USB001", 0}, {L"\\\\server\\C", L"USB001", 0}});
  ASSERT_EQ(g_spooler.count, 3);
  EXPECT_EQ(Show(g_spooler.entries[1].printerName), "B");
  EXPECT_EQ(Show(g_spooler.entries[1].portName), "USB001");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(g_spooler.entries[i].switched, 1) << i;

  // A port list too long for its field would be written back cut short:
  // such a printer stays out of the snapshot.
  fake_.printers.push_back({L"Long", std::wstring(300, L'P'), 0});
  RefreshSpoolerList();
  EXPECT_EQ(g_spooler.count, 3);

  // A new snapshot while a printer is on "FILE:" keeps its own port, so
  // that the give-back still restores it.
  PrinterConnection lpt = Port(L"LPT1");
  EXPECT_EQ(PortReplace(REPLACE_ON, &lpt), PRT_SUCCESS);
  EXPECT_EQ(Ports(), (PortList{"FILE:", "USB001", "USB001", std::string(300, 'P')}));
  RefreshSpoolerList();
  EXPECT_EQ(Show(g_spooler.entries[0].portName), "LPT1:");
  EXPECT_EQ(g_spooler.entries[0].switched, 0);
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(Show(fake_.printers[0].port), "LPT1:");

  // No printers at all.
  fake_.printers.clear();
  RefreshSpoolerList();
  EXPECT_EQ(g_spooler.count, 0);
  PrinterConnection usb = Port(L"USB001");
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
}

TEST_F(SpoolerTest, PortPatternsSelectThePrinters) {
  const std::vector<FakePrinter> printers = {{L"One", L"LPT1:", 0},        {L"Two", L"LPT1:,LPT2:", 0},
                                             {L"Three", L"LPT2:", 0},      {L"Com1", L"COM1:", 0},
                                             {L"Com10", L"COM10:", 0},     {L"Net", L"KMr_192.168.0.20", 0},
                                             {L"\\\\server\\printer", L"LPT1:", 0}, {L"Usb", L"USB001", 0}};
  const struct {
    const wchar_t* port;
    PortList switched;  // the port of every printer while switched
  } cases[] = {
      {L"LPT1",
       {"FILE:", "FILE:", "LPT2:", "COM1:", "COM10:", "KMr_192.168.0.20", "LPT1:", "USB001"}},
      {L"COM1", {"LPT1:", "LPT1:,LPT2:", "LPT2:", "FILE:", "COM10:", "KMr_192.168.0.20", "LPT1:", "USB001"}},
      {L"KMr_192.168.0.20",
       {"LPT1:", "LPT1:,LPT2:", "LPT2:", "COM1:", "COM10:", "FILE:", "LPT1:", "USB001"}},
      {L"USB001:LPT", {"LPT1:", "LPT1:,LPT2:", "LPT2:", "COM1:", "COM10:", "KMr_192.168.0.20", "LPT1:", "FILE:"}},
      {L"USB002", {"LPT1:", "LPT1:,LPT2:", "LPT2:", "COM1:", "COM10:", "KMr_192.168.0.20", "LPT1:", "USB001"}},
      // Cut down to nothing: selects nothing rather than every printer.
      {L":LPT", {"LPT1:", "LPT1:,LPT2:", "LPT2:", "COM1:", "COM10:", "KMr_192.168.0.20", "LPT1:", "USB001"}},
  };
  Install(printers);
  for (const auto& c : cases) {
    PrinterConnection connection = Port(c.port);
    EXPECT_EQ(PortReplace(REPLACE_ON, &connection), PRT_SUCCESS) << Show(c.port);
    EXPECT_EQ(Ports(), c.switched) << Show(c.port);
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS) << Show(c.port);
    EXPECT_EQ(Ports(), Original()) << Show(c.port);
  }
}

TEST_F(SpoolerTest, NoneEntryAndRepeatedModesDoNothing) {
  LogCapture log(L"kit_spooler_log");
  Install({{L"A", L"USB001", 0}, {L"B", L"LPT1:", 0}});
  log.Clear();

  // Right after start-up there is nothing to give back.
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(log.LinesText(), ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace RETURN\n");
  EXPECT_EQ(Calls(), 0);

  const struct {
    int language;
    const wchar_t* port;
  } nones[] = {{1, L"None"}, {1, L"NONE"}, {0, L"\u306a\u3057"}, {1, L""}};
  for (const auto& n : nones) {
    g_settings.languageIndex = n.language;
    log.Clear();
    PrinterConnection connection = Port(n.port);
    EXPECT_EQ(PortReplace(REPLACE_ON, &connection), PRT_SUCCESS) << Show(n.port);
    EXPECT_EQ(log.LinesText(),
              ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace REPLACE_ON\nPortReplace ON Err(PORT_ERR)\n"
              "PortReplace End\n<<<<<<<<<<<<<<<<<\n")
        << Show(n.port);
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
    EXPECT_EQ(Calls(), 0) << Show(n.port);
  }

  PrinterConnection usb = Port(L"USB001");
  log.Clear();
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_EQ(log.LinesText(),
            ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace REPLACE_ON\n"
            "PortReplace ON OpenPrinter = [A] [USB001]\nPortReplace ON Success\n"
            "PortReplace End\n<<<<<<<<<<<<<<<<<\n");
  const int calls = Calls();
  log.Clear();
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_EQ(log.LinesText(), ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace RETURN\n");
  EXPECT_EQ(Calls(), calls);
  EXPECT_EQ(Ports(), (PortList{"FILE:", "LPT1:"}));

  log.Clear();
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(log.LinesText(),
            ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace REPLACE_OFF\n"
            "PortReplace OFF OpenPrinter = [A] [USB001]\nPortReplace OFF SUCCESS\n"
            "PortReplace End\n<<<<<<<<<<<<<<<<<\n");
  log.Clear();
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(log.LinesText(), ">>>>>>>>>>>>>>>>>\nPortReplace Start\nPortReplace RETURN\n");
  EXPECT_EQ(Ports(), Original());

  // Names in the log are cut to 255 bytes.
  Install({{std::wstring(261, L'n'), L"USB001", 0}});
  log.Clear();
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_NE(log.LinesText().find("OpenPrinter = [" + std::string(255, 'n') + "] [USB001]\n"), std::string::npos)
      << log.LinesText();
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);

  // The "FILE:" pattern opens and reads but changes nothing.
  Install({{L"F", L"FILE:", 0}});
  fake_.setCalls = 0;
  PrinterConnection file = Port(L"FILE:");
  EXPECT_EQ(PortReplace(REPLACE_ON, &file), PRT_SUCCESS);
  EXPECT_EQ(fake_.setCalls, 0);
  EXPECT_EQ(g_spooler.entries[0].switched, 1);
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
}

TEST_F(SpoolerTest, PendingJobRefusesAndEarlierPrintersComeBack) {
  LogCapture log(L"kit_spooler_job");
  Install({{L"A", L"LPT1:", 0}, {L"B", L"LPT1:", 2}, {L"C", L"LPT1:", 0}, {L"\\\\server\\printer", L"LPT1:", 0}});
  PrinterConnection lpt = Port(L"LPT1");
  EXPECT_EQ(PortReplace(REPLACE_ON, &lpt), PRT_ERR_JOB);
  EXPECT_EQ(Ports(), (PortList{"FILE:", "LPT1:", "LPT1:", "LPT1:"}));
  EXPECT_NE(log.LinesText().find("PortReplace ON OpenPrinter = [B] [LPT1:]\nPortReplace ON Err(PRT_ERR_JOB)\n"),
            std::string::npos)
      << log.LinesText();
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(Ports(), Original());

  // A job that arrives while switched keeps the printer on "FILE:" until a
  // later give-back finds it done.
  fake_.printers[1].jobs = 0;
  EXPECT_EQ(PortReplace(REPLACE_ON, &lpt), PRT_SUCCESS);
  EXPECT_EQ(Ports(), (PortList{"FILE:", "FILE:", "FILE:", "LPT1:"}));
  fake_.printers[1].jobs = 1;
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_ERR_JOB);
  EXPECT_EQ(Ports(), (PortList{"LPT1:", "FILE:", "LPT1:", "LPT1:"}));
  fake_.printers[1].jobs = 0;
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(Ports(), Original());
}

TEST_F(SpoolerTest, FailureCodesOfEachStep) {
  const std::vector<FakePrinter> printers = {{L"A", L"USB001", 0}, {L"B", L"USB001", 0}, {L"C", L"USB001", 0}};
  PrinterConnection usb = Port(L"USB001");
  struct Case {
    const char* what;
    void (*inject)(FakeSpooler&);
    int32_t on;
    PortList afterOn;
  };
  const Case onCases[] = {
      // A printer that cannot be opened ends the scan without a code.
      {"open B", [](FakeSpooler& f) { f.failOpen = {1}; }, PRT_SUCCESS, {"FILE:", "USB001", "USB001"}},
      {"size of B", [](FakeSpooler& f) { f.failGetSize = {1}; }, PRT_ERR_GETPRINTER, {"FILE:", "USB001", "USB001"}},
      {"memory for B", [](FakeSpooler& f) { f.heap.FailCall(f.heap.AllocCalls() + 1); }, PRT_ERR_GETPRMEMORY, {"FILE:", "USB001", "USB001"}},
      {"read of B", [](FakeSpooler& f) { f.failGetRead = {1}; }, PRT_ERR_GETPRINTER, {"FILE:", "USB001", "USB001"}},
      {"set of B", [](FakeSpooler& f) { f.failSet = {1}; }, PRT_ERR_SETPRINTER, {"FILE:", "USB001", "USB001"}},
  };
  for (const Case& c : onCases) {
    Install(printers);
    fake_.openCalls = fake_.getSizeCalls = fake_.getReadCalls = fake_.setCalls = 0;
    fake_.failOpen = fake_.failGetSize = fake_.failGetRead = fake_.failSet = {};
    c.inject(fake_);
    EXPECT_EQ(PortReplace(REPLACE_ON, &usb), c.on) << c.what;
    EXPECT_EQ(Ports(), c.afterOn) << c.what;
    fake_.failOpen = fake_.failGetSize = fake_.failGetRead = fake_.failSet = {};
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS) << c.what;
    EXPECT_EQ(Ports(), Original()) << c.what;
  }

  // Give-back: every switched printer is tried, the last failure is reported
  // and what failed is tried again by the next give-back.
  const Case offCases[] = {
      {"open A", [](FakeSpooler& f) { f.failOpen = {3}; }, PRT_ERR_OPEN, {"FILE:", "USB001", "USB001"}},
      // A printer left on "FILE:" for want of an open is the failure the
      // operator must hear of, whatever failed after it.
      {"open B and set C", [](FakeSpooler& f) { f.failOpen = {4}; f.failSet = {4}; }, PRT_ERR_OPEN,
       {"USB001", "FILE:", "FILE:"}},
      {"set A, open C", [](FakeSpooler& f) { f.failSet = {3}; f.failOpen = {5}; }, PRT_ERR_OPEN,
       {"FILE:", "USB001", "FILE:"}},
      {"read B", [](FakeSpooler& f) { f.failGetRead = {4}; }, PRT_ERR_GETPRINTER, {"USB001", "FILE:", "USB001"}},
      {"size C", [](FakeSpooler& f) { f.failGetSize = {5}; }, PRT_ERR_GETPRINTER, {"USB001", "USB001", "FILE:"}},
  };
  for (const Case& c : offCases) {
    Install(printers);
    fake_.openCalls = fake_.getSizeCalls = fake_.getReadCalls = fake_.setCalls = 0;
    fake_.failOpen = fake_.failGetSize = fake_.failGetRead = fake_.failSet = {};
    EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS) << c.what;
    EXPECT_EQ(Ports(), (PortList{"FILE:", "FILE:", "FILE:"})) << c.what;
    c.inject(fake_);
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), c.on) << c.what;
    EXPECT_EQ(Ports(), c.afterOn) << c.what;
    fake_.failOpen = fake_.failGetSize = fake_.failGetRead = fake_.failSet = {};
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS) << c.what;
    EXPECT_EQ(Ports(), Original()) << c.what;
  }
}

// Printers re-plugged or re-configured after start-up are switched by the
// port they use at the switch and put back on it.
TEST_F(SpoolerTest, TheSwitchFollowsThePortsOfTheMoment) {
  Install({{L"A", L"USB001", 0}, {L"B", L"USB002", 0}, {L"C", L"LPT1:", 0}});
  fake_.printers[0].port = L"USB003";
  fake_.printers[1].port = L"USB001";
  PrinterConnection usb = Port(L"USB001");
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_EQ(Ports(), (PortList{"USB003", "FILE:", "LPT1:"}));
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(Ports(), (PortList{"USB003", "USB001", "LPT1:"}));
}

// Whatever fails along the way, every printer moved to "FILE:" is known to
// be ours, and once the spooler works again one give-back restores them all.
TEST_F(SpoolerTest, NoPrinterIsLeftOnFileAfterFailures) {
  const std::vector<FakePrinter> printers = {{L"A", L"USB001", 0},        {L"B", L"LPT1:", 0},
                                             {L"C", L"USB001,LPT1:", 0},  {L"D", L"COM1:", 0},
                                             {L"E", L"COM10:", 0},        {L"\\\\srv\\F", L"USB001", 0},
                                             {L"G", L"FILE:", 0},         {L"H", L"USB002", 0}};
  const wchar_t* ports[] = {L"USB001", L"LPT1", L"COM1", L"USB002", L"None", L"FILE:", L"KMr_USB001"};
  int runs = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    Install(printers);
    g_spooler.switchState = REPLACE_OFF;
    std::mt19937 random(seed);
    fake_.random.seed(seed * 7919u);
    fake_.failChance = 0.15;
    const int steps = 2 + static_cast<int>(random() % 12);
    for (int s = 0; s < steps; ++s) {
      for (auto& p : fake_.printers) p.jobs = (random() % 10 == 0) ? 1 : 0;
      fake_.heap.FailAll(random() % 15 == 0);
      if (random() % 2 == 0) {
        PrinterConnection c = Port(ports[random() % (sizeof(ports) / sizeof(ports[0]))]);
        PortReplace(REPLACE_ON, &c);
      } else {
        PortReplace(REPLACE_OFF, nullptr);
      }
      fake_.heap.FailAll(false);
      // Every printer on "FILE:" that was not there before is marked ours.
      for (size_t i = 0; i < fake_.printers.size(); ++i) {
        if (fake_.printers[i].port != original_[i]) {
          ASSERT_EQ(Show(fake_.printers[i].port), "FILE:") << "seed " << seed << " printer " << i;
          ASSERT_EQ(g_spooler.entries[i].switched, 0) << "seed " << seed << " printer " << i;
        }
      }
    }
    fake_.failChance = 0.0;
    for (auto& p : fake_.printers) p.jobs = 0;
    EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS) << "seed " << seed;
    ASSERT_EQ(Ports(), Original()) << "seed " << seed;
    ++runs;
  }
  EXPECT_EQ(runs, 300);
}

}  // namespace

namespace {

// The real spooler under emulation usually has no printers; the snapshot and
// both modes must still run through and leave nothing switched.
TEST(SpoolerSystem, RealCallsRunThrough) {
  g_spooler.switchState = REPLACE_OFF;
  RefreshSpoolerList();
  EXPECT_GE(g_spooler.count, 0);
  PrinterConnection none = Port(L"KIT_NO_SUCH_PORT");
  EXPECT_EQ(PortReplace(REPLACE_ON, &none), PRT_SUCCESS);
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  for (int32_t i = 0; i < g_spooler.count; ++i) EXPECT_EQ(g_spooler.entries[i].switched, 1) << i;
  FreeSpoolerList();
}

}  // namespace
