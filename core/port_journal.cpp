#include "port_journal.h"

#include <cstdio>

#include "printable_text.h"

namespace {

const char kHeader[] = "RomsmithPortJournal 1";

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string CrcText(const std::string& bytes) {
  char text[9];
  snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(Crc32(bytes)));
  return text;
}

// UTF-16 to escaped UTF-8; false on a unit that has no faithful encoding.
bool Encode(const std::u16string& text, size_t maxUnits, std::string* out) {
  if (text.empty() || text.size() > maxUnits) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c == '\\') *out += "\\\\";
    else if (c == '\t') *out += "\\t";
    else if (c == '\n') *out += "\\n";
    else if (c == '\r') *out += "\\r";
    else if (c < 0x80) *out += static_cast<char>(c);
    else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

// Escaped strict UTF-8 (no overlong forms, no surrogates) back to UTF-16;
// false on anything Encode would not have written.
bool Decode(const std::string& field, size_t maxUnits, std::u16string* out) {
  out->clear();
  size_t i = 0;
  while (i < field.size()) {
    const auto lead = static_cast<unsigned char>(field[i]);
    uint32_t c = 0;
    if (lead == '\\') {
      if (i + 1 >= field.size()) return false;
      const char next = field[i + 1];
      if (next == '\\') c = '\\';
      else if (next == 't') c = '\t';
      else if (next == 'n') c = '\n';
      else if (next == 'r') c = '\r';
      else return false;
      i += 2;
    } else if (lead < 0x80) {
      if (lead == 0 || lead == '\t' || lead == '\n' || lead == '\r') return false;
      c = lead;
      ++i;
    } else {
      size_t length = 0;
      uint32_t minimum = 0;
      if (lead >= 0xC2 && lead <= 0xDF) length = 2, minimum = 0x80, c = lead & 0x1F;
      else if (lead >= 0xE0 && lead <= 0xEF) length = 3, minimum = 0x800, c = lead & 0x0F;
      else if (lead >= 0xF0 && lead <= 0xF4) length = 4, minimum = 0x10000, c = lead & 0x07;
      else return false;
      if (field.size() - i < length) return false;
      for (size_t k = 1; k < length; ++k) {
        const auto trail = static_cast<unsigned char>(field[i + k]);
        if ((trail & 0xC0) != 0x80) return false;
        c = (c << 6) | (trail & 0x3F);
      }
      if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
      i += length;
    }
    if (c >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(c));
    }
    if (out->size() > maxUnits) return false;
  }
  return !out->empty();
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) return fields;
    at = tab + 1;
  }
}

bool ParsePrinterLine(const std::vector<std::string>& fields, PortJournalEntry* entry) {
  if (fields.size() != 4 || fields[0] != "P") return false;
  if (fields[3] != CrcText(fields[1] + "\t" + fields[2])) return false;
  return Decode(fields[1], kJournalNameUnits, &entry->printerName) &&
         Decode(fields[2], kJournalPortUnits, &entry->portList);
}

}  // namespace

PortJournalContents ParsePortJournal(const uint8_t* data, size_t size) {
  PortJournalContents contents;
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  bool sound = true;
  bool ended = false;
  bool first = true;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      sound = false;  // a line cut short
      break;
    }
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (first) {
      if (line != kHeader) return contents;
      first = false;
      continue;
    }
    if (ended) {
      sound = false;
      continue;
    }
    const std::vector<std::string> fields = SplitTabs(line);
    PortJournalEntry entry;
    if (fields.size() == 2 && fields[0] == "End") {
      ended = true;
      if (fields[1] != std::to_string(contents.entries.size())) sound = false;
    } else if (ParsePrinterLine(fields, &entry)) {
      contents.entries.push_back(entry);
    } else {
      sound = false;
    }
  }
  contents.complete = !first && sound && ended;
  return contents;
}

bool FormatPortJournal(const std::vector<PortJournalEntry>& entries, std::string* out) {
  std::string text = std::string(kHeader) + "\n";
  for (const PortJournalEntry& entry : entries) {
    std::string fields;
    if (!Encode(entry.printerName, kJournalNameUnits, &fields)) return false;
    fields += '\t';
    if (!Encode(entry.portList, kJournalPortUnits, &fields)) return false;
    text += "P\t" + fields + "\t" + CrcText(fields) + "\n";
  }
  text += "End\t" + std::to_string(entries.size()) + "\n";
  *out = text;
  return true;
}

namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool Listed(const std::u16string& name, const std::vector<std::u16string>& list) {
  for (const std::u16string& item : list) {
    if (EqualNoCase(name, item)) return true;
  }
  return false;
}

// "USB001", "COM3:", "LPT1": a word, one or more digits, an optional colon.
bool IsNumberedPort(const std::u16string& port, const char16_t* word) {
  size_t at = 0;
  for (; word[at] != u'\0'; ++at) {
    if (at >= port.size() || FoldAscii(port[at]) != word[at]) return false;
  }
  const size_t digits = at;
  while (at < port.size() && IsDigit(port[at])) ++at;
  if (at == digits) return false;
  if (at < port.size() && port[at] == u':') ++at;
  return at == port.size();
}

// A dotted IPv4 address anywhere in the name, not part of a longer number.
bool HoldsDottedAddress(const std::u16string& port) {
  for (size_t start = 0; start < port.size(); ++start) {
    if (!IsDigit(port[start]) || (start > 0 && (IsDigit(port[start - 1]) || port[start - 1] == u'.'))) continue;
    size_t at = start;
    int groups = 0;
    for (;;) {
      const size_t first = at;
      while (at < port.size() && IsDigit(port[at]) && at - first < 4) ++at;
      if (at == first || at - first > 3) break;
      if (++groups == 4) {
        if (at == port.size() || (!IsDigit(port[at]) && port[at] != u'.')) return true;
        break;
      }
      if (at >= port.size() || port[at] != u'.') break;
      ++at;
    }
  }
  return false;
}

JournalRefusal CheckEntry(const PortJournalEntry& entry, const SpoolerInventory& spooler) {
  // Local printer names never hold a backslash; "\\server\name" is a
  // connection to another computer.
  if (entry.printerName.find(u'\\') != std::u16string::npos) return JournalRefusal::RemoteName;
  if (!Listed(entry.printerName, spooler.localPrinters)) return JournalRefusal::NotListed;
  // A pooled printer has several ports, comma-separated; every one must be
  // switchable and known, or the whole list is refused.
  size_t at = 0;
  for (;;) {
    const size_t comma = entry.portList.find(u',', at);
    const std::u16string port =
        entry.portList.substr(at, comma == std::u16string::npos ? std::u16string::npos : comma - at);
    if (!IsSwitchablePortName(port)) return JournalRefusal::PortKind;
    if (!Listed(port, spooler.ports)) return JournalRefusal::UnknownPort;
    if (comma == std::u16string::npos) return JournalRefusal::None;
    at = comma + 1;
  }
}

}  // namespace

bool IsSwitchablePortName(const std::u16string& port) {
  return IsNumberedPort(port, u"USB") || IsNumberedPort(port, u"COM") || IsNumberedPort(port, u"LPT") ||
         HoldsDottedAddress(port);
}

std::vector<JournalRefusal> CheckJournalEntries(const std::vector<PortJournalEntry>& entries,
                                                const SpoolerInventory& spooler) {
  if (entries.size() > kMostJournalEntries) return std::vector<JournalRefusal>(entries.size(), JournalRefusal::TooMany);
  std::vector<JournalRefusal> verdicts;
  verdicts.reserve(entries.size());
  for (const PortJournalEntry& entry : entries) verdicts.push_back(CheckEntry(entry, spooler));
  return verdicts;
}

const char* JournalRefusalText(JournalRefusal refusal) {
  switch (refusal) {
    case JournalRefusal::None: return "sound";
    case JournalRefusal::RemoteName: return "remote printer";
    case JournalRefusal::NotListed: return "no such local printer";
    case JournalRefusal::UnknownPort: return "unknown port";
    case JournalRefusal::PortKind: return "port never switched";
    case JournalRefusal::TooMany: return "too many entries";
  }
  return "?";
}

std::u16string PortJournalRestoredMessage(int languageIndex, const std::vector<std::u16string>& printerNames) {
  std::u16string text =
      languageIndex == 0
          ? u"前回の終了時に「FILE:」へ切り替えたままになっていた次のプリンタを、元のポートに戻しました。\n"
          : u"The following printers had been left on \"FILE:\" when the program last ended; they have been put "
            u"back on their own ports.\n";
  for (const std::u16string& name : printerNames) text += u"\n" + PrintableText(name);
  return text;
}

std::u16string PortJournalLeftMessage(int languageIndex, const std::vector<std::u16string>& printerNames) {
  std::u16string text =
      languageIndex == 0
          ? u"ファームウェアデータの送信は完了しましたが、次のプリンタを「FILE:」から元のポートに戻せませんでした。"
            u"戻るまでの印刷はファイルに出力されます。次回 Romsmith または Tagsmith の起動時に元のポートに戻します。\n"
          : u"The firmware data has been sent, but the following printers could not be put back from \"FILE:\" on "
            u"their own ports; until then what they print goes to a file. They are put back at the next start of "
            u"Romsmith or Tagsmith.\n";
  for (const std::u16string& name : printerNames) text += u"\n" + name;
  return text;
}

std::u16string PortJournalStillOnFileMessage(int languageIndex, const std::vector<std::u16string>& printerNames) {
  std::u16string text =
      languageIndex == 0
          ? u"次のプリンタを「FILE:」から元のポートに戻せませんでした。"
            u"戻るまでの印刷はファイルに出力されます。次回 Romsmith または Tagsmith の起動時に元のポートに戻します。\n"
          : u"The following printers could not be put back from \"FILE:\" on their own ports; until then what they "
            u"print goes to a file. They are put back at the next start of Romsmith or Tagsmith.\n";
  for (const std::u16string& name : printerNames) text += u"\n" + name;
  return text;
}
