// The port journal: which spooler printers were moved to "FILE:" and the port
// list each had before, kept on disk for the length of an exchange so that a
// run killed in between can be repaired at the next start. This file holds the
// platform-free format; the file handling is in spooler_journal_win.cpp.
//
// The file is UTF-8 text, one record per line, each line ended by "\n":
//   RomsmithPortJournal 1
//   P<TAB>printer name<TAB>port list<TAB>crc
//   End<TAB>count
// crc is the CRC-32 (8 lower-case hex digits) of "printer name<TAB>port list"
// as written. In names and port lists "\" is written "\\", a tab "\t", a line
// feed "\n" and a carriage return "\r". A printer line is taken only when it
// is whole and its crc matches, so a file cut short anywhere yields the whole
// lines before the cut and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Longest texts the spooler snapshot holds, in UTF-16 units without the
// terminator: longer ones could not be written back whole.
constexpr size_t kJournalNameUnits = 261;
constexpr size_t kJournalPortUnits = 259;

struct PortJournalEntry {
  std::u16string printerName;
  std::u16string portList;
};

struct PortJournalContents {
  std::vector<PortJournalEntry> entries;  // the whole, checked printer lines
  bool complete = false;  // header, every line and the end line all sound
};

// Reads a journal; any input is safe. An unknown header or version gives no
// entries (a later format is not ours to act on).
PortJournalContents ParsePortJournal(const uint8_t* data, size_t size);

// Writes the journal for `entries` into *out. False when an entry cannot be
// written so that it reads back the same (empty name, NUL, a lone surrogate,
// a text too long for the spooler snapshot).
bool FormatPortJournal(const std::vector<PortJournalEntry>& entries, std::string* out);

// A journal that names more printers than this is not acted on at all: no
// computer this kit serves has that many on one port.
constexpr size_t kMostJournalEntries = 256;

// Why a journal entry is not acted on; None when it may be put back.
enum class JournalRefusal {
  None,
  RemoteName,   // a printer of another computer: opening it would ask that server
  NotListed,    // not among the spooler's local printers
  UnknownPort,  // a port of the list that the spooler does not have
  PortKind,     // a port of a kind that the programs never switch (FILE:, a fax, ...)
  TooMany,      // the journal holds more than kMostJournalEntries entries
};

// What the spooler has, as the checks need it: the local printers' names and
// the names of its ports.
struct SpoolerInventory {
  std::vector<std::u16string> localPrinters;
  std::vector<std::u16string> ports;
};

// True for the port kinds the programs switch: USB ("USB001"), COM and LPT
// ("COM3:", "LPT1:") and network ports, whose names hold the printer's
// dotted address ("IP_192.168.0.20").
bool IsSwitchablePortName(const std::u16string& port);

// Checks every entry before anything is put back: a journal may have been
// written by anyone who could write its folder. One verdict per entry.
std::vector<JournalRefusal> CheckJournalEntries(const std::vector<PortJournalEntry>& entries,
                                                const SpoolerInventory& spooler);

// The log word of a refusal.
const char* JournalRefusalText(JournalRefusal refusal);

// The operator's message after the start-up repair: the printers put back,
// one per line, in the language of the settings (0 Japanese, else English).
// Names are shown with their printable characters only.
std::u16string PortJournalRestoredMessage(int languageIndex, const std::vector<std::u16string>& printerNames);

// The operator's message after a firmware write whose give-back failed: the
// data went out, but these printers are still on "FILE:" until the next start
// puts them back. One per line, in the language of the settings.
std::u16string PortJournalLeftMessage(int languageIndex, const std::vector<std::u16string>& printerNames);

// The same for any other operation (a read, a reset, a write that failed):
// the printers still on "FILE:", without a word about firmware sent.
std::u16string PortJournalStillOnFileMessage(int languageIndex, const std::vector<std::u16string>& printerNames);
