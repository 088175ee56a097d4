#include "run_report.h"

#include <cstdarg>
#include <cstdio>

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[160];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  return text;
}

// How text is put into a report: as it is, as a JSON string's body, or as a
// line of a text report, where a control character from outside (a line
// break in a model name) would otherwise start a line of its own.
enum class Escape { kNone, kJson, kTextLine };

// Builds one JSON object with its members in the order they are added.
class JsonObject {
 public:
  // Members one a line two spaces in from `indent`, or all on one line.
  JsonObject(const char* indent, bool lines) : indent_(indent), lines_(lines) {}
  JsonObject& Raw(const char* name, const std::string& value) {
    text_ += text_.empty() ? "{" : ",";
    text_ += lines_ ? std::string("\n") + indent_ + "  " : std::string(text_.size() > 1 ? " " : "");
    text_ += std::string("\"") + name + "\": " + value;
    return *this;
  }
  JsonObject& Text(const char* name, const std::u16string& value) { return Raw(name, JsonString(value)); }
  JsonObject& Ascii(const char* name, const std::string& value) {
    return Raw(name, JsonString(std::u16string(value.begin(), value.end())));
  }
  JsonObject& TextOrNull(const char* name, bool present, const std::u16string& value) {
    return Raw(name, present ? JsonString(value) : "null");
  }
  JsonObject& List(const char* name, const std::vector<std::u16string>& values) {
    std::string list;
    for (const std::u16string& value : values) list += (list.empty() ? "" : ", ") + JsonString(value);
    return Raw(name, "[" + list + "]");
  }
  std::string Close() const { return text_ + (lines_ ? std::string("\n") + indent_ + "}" : "}"); }

 private:
  const char* indent_;
  bool lines_;
  std::string text_;
};

std::string PrinterJson(const ReportPrinter& p, const char* indent) {
  JsonObject o(indent, true);
  o.Ascii("port_kind", p.portKind).Text("port", p.port);
  if (p.portKind == "USB") o.Text("usb_port", p.usbPort).Text("usb_serial", p.usbSerial);
  o.Text("model", p.model).Text("ip", p.ip).Text("mac", p.mac).Ascii("result", p.result);
  const bool ended = p.result == "written" || p.result == "failed";
  o.Raw("code", ended ? Format("%d", static_cast<int>(p.code)) : "null");
  o.Text("message", p.message);
  o.Raw("bytes_sent", Format("%llu", static_cast<unsigned long long>(p.bytesSent)));
  o.Raw("bytes_total", Format("%llu", static_cast<unsigned long long>(p.bytesTotal)));
  o.Raw("seconds", DecimalText(p.seconds, 3));
  o.TextOrNull("version_before", p.beforeRead, p.versionBefore);
  o.TextOrNull("version_after", p.afterRead, p.versionAfter);
  o.Ascii("version_check", VersionCheck(p));
  return o.Close();
}

std::string Hex8(uint32_t value) { return Format("%08x", static_cast<unsigned>(value)); }

// Both languages of each label of the text report: [0] Japanese, [1] English.
struct Label {
  const char* text[2];
  const char* In(int language) const { return text[language == 0 ? 0 : 1]; }
};
const Label kTitle = {{"ファームウェア書込みレポート", "Firmware write report"}};
const Label kProgram = {{"プログラム", "Program"}};
const Label kStarted = {{"開始", "Started"}};
const Label kEnded = {{"終了", "Ended"}};
const Label kMode = {{"書込みモード", "Write mode"}};
const Label kRewriteAll = {{"全書換え", "Rewrite All area"}};
const Label kUpdate = {{"アップデート", "Update a part of ROM area"}};
const Label kParallel = {{"同時書込み数", "Parallel"}};
const Label kFile = {{"ファイル", "File"}};
const Label kSize = {{"サイズ", "Size"}};
const Label kLabel = {{"ファイル情報", "File label"}};
const Label kOutcome = {{"結果", "Outcome"}};
const Label kExitCode = {{"終了コード", "Exit code"}};
const Label kPrinters = {{"プリンタ", "Printers"}};
const Label kPort = {{"ポート", "Port"}};
const Label kModel = {{"機種", "Model"}};
const Label kResult = {{"結果", "Result"}};
const Label kMessage = {{"メッセージ", "Message"}};
const Label kSent = {{"送信", "Sent"}};
const Label kTime = {{"時間", "Time"}};
const Label kBefore = {{"書込み前のバージョン", "Version before"}};
const Label kAfter = {{"書込み後のバージョン", "Version after"}};
const Label kCheck = {{"バージョン確認", "Version check"}};
const Label kNotRead = {{"読めず", "not read"}};
const Label kNoVersions = {{"全書換えではバージョンを読みません", "not read in Rewrite All mode"}};
const Label kSerialTitle = {{"シリアル番号書込み", "Serial number write"}};
const Label kSerialBefore = {{"書込み前", "Before"}};
const Label kSerialWritten = {{"書込み", "Written"}};
const Label kReadBack = {{"読み返し", "Read back"}};
const Label kMatched = {{"一致", "matched"}};
const Label kDiffered = {{"不一致", "did not match"}};
const Label kCode = {{"コード", "Code"}};
const Label kBegun = {{"書込み中(終了未記録)", "being written, end not recorded"}};
const Label kLeftOnFile = {{"「FILE:」のままのプリンタ", "Printers left on \"FILE:\""}};

const char* Word(const std::string& value, int language) {
  static const struct {
    const char* value;
    Label label;
  } kWords[] = {
      {"written", {{"書込み完了", "written"}}},
      {"failed", {{"失敗", "failed"}}},
      {"not_attempted", {{"未実行", "not attempted"}}},
      {"declined", {{"キャンセル", "declined at the confirmation"}}},
      {"interrupted", {{"中断", "closed before the end"}}},
      {"changed", {{"変更あり", "changed"}}},
      {"unchanged", {{"変更なし", "unchanged"}}},
      {"not read", {{"読めず", "not read"}}},
      {"not applicable", {{"対象外", "not applicable"}}},
  };
  for (const auto& word : kWords) {
    if (value == word.value) return word.label.In(language);
  }
  return value.c_str();
}

std::string Line(const Label& label, int language, const std::string& value) {
  return std::string(label.In(language)) + ": " + value + "\r\n";
}

std::string TextLine(const std::u16string& text);

std::string PortText(const ReportPrinter& p) {
  std::string text = p.portKind + " " + TextLine(p.port);
  if (p.portKind == "USB") text += " (" + TextLine(p.usbPort) + ", " + TextLine(p.usbSerial) + ")";
  if (p.portKind == "LAN") text += " (" + TextLine(p.mac) + ")";
  return text;
}

std::string Names(const std::vector<std::u16string>& names) {
  std::string text;
  for (const std::u16string& name : names) text += (text.empty() ? "" : ", ") + TextLine(name);
  return text;
}

// A box's text on one line: each run of line breaks becomes one space.
std::u16string OneLine(const std::u16string& text) {
  std::u16string line;
  for (char16_t c : text) {
    if (c != u'\r' && c != u'\n') line += c;
    else if (!line.empty() && line.back() != u' ') line += u' ';
  }
  while (!line.empty() && line.back() == u' ') line.pop_back();
  return line;
}

}  // namespace

std::string IsoTime(const ReportTime& t) {
  int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  return Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second,
                t.utcOffsetMinutes < 0 ? '-' : '+', (offset / 60) % 100, offset % 60);
}

std::string FileStamp(const ReportTime& t) {
  return Format("%04d%02d%02d-%02d%02d%02d-%03d", t.year, t.month, t.day, t.hour, t.minute, t.second,
                t.millisecond);
}

std::string VersionCheck(const ReportPrinter& p) {
  if (!p.versionsRead) return "not applicable";
  if (!p.beforeRead || !p.afterRead) return "not read";
  return p.versionBefore == p.versionAfter ? "unchanged" : "changed";
}

uint32_t FileCrc32(const uint8_t* data, size_t size, uint32_t crc) {
  // A byte at a time: firmware files run to megabytes.
  static const struct Table {
    uint32_t entry[256];
    Table() {
      for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        entry[n] = c;
      }
    }
  } kTable;
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kTable.entry[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

namespace {

// Appends text as UTF-8, escaped as `escape` says.
void AppendUtf8(const std::u16string& text, Escape escape, std::string* out) {
  const bool json = escape == Escape::kJson;
  out->reserve(out->size() + text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (escape == Escape::kTextLine && (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029)) {
      c = 0xFFFD;
    }
    if (json && (c == '"' || c == '\\')) {
      *out += '\\';
    } else if (json && (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029)) {
      const char* shortForm = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
      *out += shortForm != nullptr ? std::string(shortForm) : Format("\\u%04x", static_cast<unsigned>(c));
      continue;
    }
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
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
}

}  // namespace

std::string Utf8(const std::u16string& text) {
  std::string out;
  AppendUtf8(text, Escape::kNone, &out);
  return out;
}

namespace {

std::string TextLine(const std::u16string& text) {
  std::string out;
  AppendUtf8(text, Escape::kTextLine, &out);
  return out;
}

}  // namespace

std::string JsonString(const std::u16string& text) {
  std::string out = "\"";
  AppendUtf8(text, Escape::kJson, &out);
  return out + "\"";
}

std::string DecimalText(double value, int decimals) {
  const unsigned long long scale = decimals == 3 ? 1000 : 10;
  const unsigned long long units = value > 0 ? static_cast<unsigned long long>(value * static_cast<double>(scale) + 0.5) : 0;
  return Format("%llu.%0*llu", units / scale, decimals == 3 ? 3 : 1, units % scale);
}

std::u16string FirstLine(const std::u16string& text) {
  size_t end = text.find_first_of(u"\r\n");
  std::u16string line = text.substr(0, end);
  while (!line.empty() && (line.back() == u' ' || line.back() == u'\t')) line.pop_back();
  return line;
}

std::string RunReportJson(const RunReport& r) {
  JsonObject file("  ", true);
  file.Text("path", r.filePath).Raw("size", Format("%llu", static_cast<unsigned long long>(r.fileSize)));
  file.Ascii("crc32", Hex8(r.fileCrc)).Text("label", r.fileLabel);
  std::string printers = "[";
  for (size_t i = 0; i < r.printers.size(); ++i) {
    printers += (i == 0 ? "\n    " : ",\n    ") + PrinterJson(r.printers[i], "    ");
  }
  printers += r.printers.empty() ? "]" : "\n  ]";
  JsonObject o("", true);
  o.Text("program", r.program).Text("version", r.version);
  o.Ascii("started", IsoTime(r.started)).Ascii("ended", IsoTime(r.ended));
  o.Ascii("mode", r.mode == 1 ? "update" : "rewrite_all").Raw("parallel", Format("%d", r.parallel));
  o.Raw("file", file.Close());
  o.Ascii("outcome", r.outcome).Raw("exit_code", r.automatic ? Format("%d", r.exitCode) : "null");
  o.List("left_on_file", r.leftOnFile).Raw("printers", printers);
  return o.Close() + "\n";
}

std::string RunReportText(const RunReport& r, int l) {
  std::string text = std::string(kTitle.In(l)) + "\r\n\r\n";
  text += Line(kProgram, l, TextLine(r.program) + " " + TextLine(r.version));
  text += Line(kStarted, l, IsoTime(r.started));
  text += Line(kEnded, l, IsoTime(r.ended));
  text += Line(kMode, l, (r.mode == 1 ? kUpdate : kRewriteAll).In(l));
  text += Line(kParallel, l, Format("%d", r.parallel));
  text += Line(kFile, l, TextLine(r.filePath));
  text += Line(kSize, l, Format("%llu Byte, CRC-32 %s", static_cast<unsigned long long>(r.fileSize),
                                Hex8(r.fileCrc).c_str()));
  text += Line(kLabel, l, TextLine(r.fileLabel));
  text += Line(kOutcome, l, Word(r.outcome, l));
  if (r.automatic) text += Line(kExitCode, l, Format("%d", r.exitCode));
  if (!r.leftOnFile.empty()) text += Line(kLeftOnFile, l, Names(r.leftOnFile));
  text += "\r\n" + std::string(kPrinters.In(l)) + Format(": %u", static_cast<unsigned>(r.printers.size())) + "\r\n";
  for (size_t i = 0; i < r.printers.size(); ++i) {
    const ReportPrinter& p = r.printers[i];
    const char* state = p.result == "interrupted" ? kBegun.In(l) : Word(p.result, l);
    text += Format("\r\n[%u] ", static_cast<unsigned>(i + 1)) + state + "\r\n";
    text += "  " + Line(kPort, l, PortText(p));
    if (!p.model.empty()) text += "  " + Line(kModel, l, TextLine(p.model));
    if (p.result != "not_attempted") {
      std::string result = Format("%d", static_cast<int>(p.code));
      if (p.result == "interrupted") {
        // No result yet: only how far the write had come.
      } else if (!p.message.empty()) {
        text += "  " + Line(kMessage, l, result + " " + TextLine(OneLine(p.message)));
      } else {
        text += "  " + Line(kResult, l, result);
      }
      text += "  " + Line(kSent, l, Format("%llu / %llu Byte", static_cast<unsigned long long>(p.bytesSent),
                                           static_cast<unsigned long long>(p.bytesTotal)));
      text += "  " + Line(kTime, l, DecimalText(p.seconds, 1) + " s");
    }
    if (!p.versionsRead) {
      text += "  " + Line(kCheck, l, kNoVersions.In(l));
      continue;
    }
    text += "  " + Line(kBefore, l, p.beforeRead ? TextLine(p.versionBefore) : kNotRead.In(l));
    text += "  " + Line(kAfter, l, p.afterRead ? TextLine(p.versionAfter) : kNotRead.In(l));
    text += "  " + Line(kCheck, l, Word(VersionCheck(p), l));
  }
  return text;
}

std::string SerialRecordJson(const SerialRecord& s) {
  JsonObject o("", false);
  o.Ascii("time", IsoTime(s.time)).Ascii("port_kind", s.printer.portKind).Text("port", s.printer.port);
  o.Text("model", s.printer.model).Text("ip", s.printer.ip).Text("mac", s.printer.mac);
  o.TextOrNull("serial_before", s.beforeRead, s.serialBefore).Text("serial_written", s.serialWritten);
  o.Raw("read_back_matched", s.readBackMatched ? "true" : "false").List("left_on_file", s.leftOnFile);
  o.Raw("code", Format("%d", static_cast<int>(s.code)));
  return o.Close() + "\n";
}

std::string SerialRecordText(const SerialRecord& s, int l) {
  std::string text = IsoTime(s.time) + " " + kSerialTitle.In(l) + "\r\n";
  text += "  " + Line(kPort, l, PortText(s.printer));
  if (!s.printer.model.empty()) text += "  " + Line(kModel, l, TextLine(s.printer.model));
  text += "  " + Line(kSerialBefore, l, s.beforeRead ? TextLine(s.serialBefore) : kNotRead.In(l));
  text += "  " + Line(kSerialWritten, l, TextLine(s.serialWritten));
  text += "  " + Line(kReadBack, l, (s.readBackMatched ? kMatched : kDiffered).In(l));
  if (!s.leftOnFile.empty()) text += "  " + Line(kLeftOnFile, l, Names(s.leftOnFile));
  text += "  " + Line(kCode, l, Format("%d", static_cast<int>(s.code)));
  return text;
}
