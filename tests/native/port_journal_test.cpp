#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/port_journal.h"

namespace {

std::string Show(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

PortJournalContents Parse(const std::string& text) {
  return ParsePortJournal(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const std::vector<PortJournalEntry> kEntries = {
    {u"Receipt A", u"USB001"},
    {u"Kitchen\t\\2\n", u"COM1:,COM10:"},
    {u"レシート\U0001F5A8", u"KMr_192.168.0.20"},
};

TEST(PortJournal, WrittenEntriesReadBackWhole) {
  std::string text;
  ASSERT_TRUE(FormatPortJournal(kEntries, &text));
  PortJournalContents read = Parse(text);
  EXPECT_TRUE(read.complete);
  ASSERT_EQ(read.entries.size(), kEntries.size());
  for (size_t i = 0; i < kEntries.size(); ++i) {
    EXPECT_EQ(read.entries[i].printerName, kEntries[i].printerName) << i;
    EXPECT_EQ(read.entries[i].portList, kEntries[i].portList) << i;
  }
  ASSERT_TRUE(FormatPortJournal({}, &text));
  read = Parse(text);
  EXPECT_TRUE(read.complete);
  EXPECT_TRUE(read.entries.empty());
}

TEST(PortJournal, EntriesThatCannotBeWrittenFaithfully) {
  const std::u16string tooLongName(kJournalNameUnits + 1, u'n');
  const std::u16string tooLongPort(kJournalPortUnits + 1, u'p');
  const std::vector<PortJournalEntry> cases = {
      {u"", u"USB001"},        {u"A", u""},
      {std::u16string(u"A\0B", 3), u"USB001"},
      {u"A\xD800", u"USB001"}, {u"A\xDC00x", u"USB001"},
      {tooLongName, u"USB001"}, {u"A", tooLongPort},
  };
  for (const PortJournalEntry& entry : cases) {
    std::string text = "untouched";
    EXPECT_FALSE(FormatPortJournal({entry}, &text)) << Show(entry.printerName);
    EXPECT_EQ(text, "untouched");
  }
  std::string text;
  EXPECT_TRUE(FormatPortJournal({{std::u16string(kJournalNameUnits, u'n'), std::u16string(kJournalPortUnits, u'p')}},
                                &text));
  EXPECT_EQ(Parse(text).entries.size(), 1u);
}

// Damaged files: what is taken and whether the file counts as whole.
TEST(PortJournal, DamagedFiles) {
  std::string good;
  ASSERT_TRUE(FormatPortJournal({{u"A", u"USB001"}, {u"B", u"COM1:"}}, &good));
  const std::string lineA = good.substr(good.find("P\t"), good.find('\n', good.find("P\t")) - good.find("P\t") + 1);
  const std::string header = "RomsmithPortJournal 1\n";
  const struct {
    std::string text;
    size_t entries;
    bool complete;
  } cases[] = {
      {"", 0, false},
      {"RomsmithPortJournal 2\n" + lineA + "End\t1\n", 0, false},  // a later format is left alone
      {"\xEF\xBB\xBF" + header + lineA + "End\t1\n", 0, false},
      {header + lineA + "End\t1\n", 1, true},
      {header + lineA, 1, false},                                   // no end line
      {header + lineA + "End\t2\n", 1, false},                      // a line lost
      {header + lineA + "End\t1\nP\tX\n", 1, false},                // text after the end
      {header + "P\tA\tUSB001\t00000000\n" + "End\t1\n", 0, false},  // wrong crc
      {header + "P\tA\\x\tUSB001\t" + "0\n", 0, false},
      {header + "Q\tA\tUSB001\n", 0, false},
      {header + lineA + lineA + "End\t2\n", 2, true},
  };
  for (const auto& c : cases) {
    const PortJournalContents read = Parse(c.text);
    EXPECT_EQ(read.entries.size(), c.entries) << c.text;
    EXPECT_EQ(read.complete, c.complete) << c.text;
  }
}

// A file cut at any byte yields exactly the lines whole before the cut.
TEST(PortJournal, CutShortAtEveryByte) {
  std::string text;
  ASSERT_TRUE(FormatPortJournal(kEntries, &text));
  for (size_t cut = 0; cut < text.size(); ++cut) {
    const PortJournalContents read = Parse(text.substr(0, cut));
    EXPECT_FALSE(read.complete) << cut;
    ASSERT_LE(read.entries.size(), kEntries.size()) << cut;
    for (size_t i = 0; i < read.entries.size(); ++i) {
      EXPECT_EQ(read.entries[i].printerName, kEntries[i].printerName) << cut;
      EXPECT_EQ(read.entries[i].portList, kEntries[i].portList) << cut;
    }
  }
}

TEST(PortJournal, RestoredMessageListsEveryPrinter) {
  for (int language : {0, 1}) {
    const std::u16string text = PortJournalRestoredMessage(language, {u"Receipt A", u"Kitchen"});
    EXPECT_NE(text.find(u"FILE:"), std::u16string::npos) << language;
    EXPECT_NE(text.find(u"\n\nReceipt A\nKitchen"), std::u16string::npos) << language;
  }
  EXPECT_NE(PortJournalRestoredMessage(0, {}).find(u"プリンタ"), std::u16string::npos);
  // A name from the file cannot add lines or turn the text around.
  EXPECT_NE(PortJournalRestoredMessage(1, {u"A\n\nAll printers restored\u202e"}).find(u"\n\nAAll printers restored"),
            std::u16string::npos);
}

// Anyone who could write the folder may have written the journal: an entry
// names a local printer and only switchable ports the spooler has.
TEST(PortJournal, EntriesAreCheckedBeforeTheyAreActedOn) {
  const SpoolerInventory spooler = {
      {u"Receipt A", u"Kitchen", u"Pooled", u"Fax"},
      {u"USB001", u"USB002", u"COM1:", u"LPT1:", u"LPT2:", u"IP_192.168.0.20", u"FILE:", u"Microsoft Fax Port",
       u"C:\\Windows\\System32\\evil.dll"}};
  const struct {
    PortJournalEntry entry;
    JournalRefusal verdict;
  } cases[] = {
      {{u"Receipt A", u"USB001"}, JournalRefusal::None},
      {{u"receipt a", u"usb002"}, JournalRefusal::None},
      {{u"Kitchen", u"IP_192.168.0.20"}, JournalRefusal::None},
      {{u"Pooled", u"LPT1:,LPT2:"}, JournalRefusal::None},
      {{u"\\\\server\\Receipt A", u"USB001"}, JournalRefusal::RemoteName},
      {{u"Gone", u"USB001"}, JournalRefusal::NotListed},
      {{u"Receipt A", u"USB009"}, JournalRefusal::UnknownPort},
      {{u"Pooled", u"LPT1:,LPT3:"}, JournalRefusal::UnknownPort},
      {{u"Pooled", u"LPT1:,FILE:"}, JournalRefusal::PortKind},
      {{u"Fax", u"Microsoft Fax Port"}, JournalRefusal::PortKind},
      {{u"Receipt A", u"C:\\Windows\\System32\\evil.dll"}, JournalRefusal::PortKind},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckJournalEntries({c.entry}, spooler), std::vector<JournalRefusal>{c.verdict})
        << Show(c.entry.printerName) << " / " << Show(c.entry.portList);
  }

  for (const char16_t* port : {u"USB001", u"COM12:", u"lpt1", u"KMr_192.168.0.20", u"10.0.0.1"}) {
    EXPECT_TRUE(IsSwitchablePortName(port)) << Show(port);
  }
  for (const char16_t* port : {u"USB", u"COM1:x", u"FILE:", u"192.168.0", u"1.2.3.4.5", u"1234.1.1.1", u"nul:"}) {
    EXPECT_FALSE(IsSwitchablePortName(port)) << Show(port);
  }

  // More entries than any computer has printers: none is acted on.
  std::vector<PortJournalEntry> many(10000, {u"Receipt A", u"USB001"});
  const std::vector<JournalRefusal> verdicts = CheckJournalEntries(many, spooler);
  EXPECT_EQ(verdicts.size(), many.size());
  EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), JournalRefusal::TooMany), 10000);
  many.resize(kMostJournalEntries);
  const std::vector<JournalRefusal> most = CheckJournalEntries(many, spooler);
  EXPECT_EQ(std::count(most.begin(), most.end(), JournalRefusal::None), static_cast<long>(kMostJournalEntries));
}

}  // namespace
