#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/run_report.h"
#include "tests/json_check.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif

namespace {

using json_check::ValidJson;

TEST(RunReport, StringsBecomeValidJson) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"C:\\fw\\\"new\".hx1", "\"C:\\\\fw\\\\\\\"new\\\".hx1\""},
      {u"a\tb\r\nc\x01\x1f\x7f", "\"a\\tb\\r\\nc\\u0001\\u001f\\u007f\""},
      {u"機種\U0001F5A8", "\"\xe6\xa9\x9f\xe7\xa8\xae\xf0\x9f\x96\xa8\""},
      {u"x\xD800y\xDC00", "\"x\xef\xbf\xbdy\xef\xbf\xbd\""},  // lone surrogates
      {u"\x2028", "\"\\u2028\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out);
  EXPECT_EQ(FirstLine(u"A different extension.\nCheck it"), u"A different extension.");
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(FileCrc32(check, 9), 0xcbf43926u);
  EXPECT_EQ(FileCrc32(check + 4, 5, FileCrc32(check, 4)), 0xcbf43926u);
  uint8_t every[256];
  for (int i = 0; i < 256; ++i) every[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(FileCrc32(every, 256), 0x29058C73u);  // each entry of the table once
  const struct {
    double value;
    int decimals;
    const char* text;
  } numbers[] = {{0.651, 3, "0.651"}, {12.3456, 1, "12.3"}, {59.96, 1, "60.0"}, {0, 3, "0.000"}, {-1, 1, "0.0"}};
  for (const auto& n : numbers) EXPECT_EQ(DecimalText(n.value, n.decimals), n.text) << n.value;
}

RunReport Sample() {
  RunReport r;
  r.program = u"Romsmith";
  r.version = u"1.0.0.0";
  r.started = {2026, 12, 8, 9, 5, 7, 42, 540};
  r.ended = {2026, 12, 8, 9, 6, 0, 0, -90};
  r.mode = 1;
  r.filePath = u"C:\\fw \"q\"\\\x01新.hx1";
  r.fileLabel = u"TM\\\"x\"\n";
  r.outcome = "failed";
  ReportPrinter p;
  p.portKind = "LAN";
  p.port = p.ip = u"127.0.0.2";
  p.model = u"Model \"A\"\\\x07漢\r\nFake line";
  p.versionsRead = true;
  p.result = "written";
  p.beforeRead = p.afterRead = true;
  p.versionBefore = u"1234 1.00";
  p.versionAfter = u"1234 1.01";
  r.printers.push_back(p);
  p.result = "failed";
  p.code = -19;
  p.message = u"An error occurred.\nCheck";
  p.afterRead = false;
  r.printers.push_back(p);
  p = ReportPrinter();
  p.portKind = "USB";
  r.printers.push_back(p);
  return r;
}

TEST(RunReport, JsonParsesWithEveryField) {
  RunReport r = Sample();
  std::string json = RunReportJson(r);
  EXPECT_TRUE(ValidJson(json)) << json;
  for (const char* field : {"\"program\"", "\"version\"", "\"started\": \"2026-12-08T09:05:07+09:00\"",
                            "\"ended\": \"2026-12-08T09:06:00-01:30\"", "\"mode\": \"update\"", "\"parallel\": 1", "\"path\"",
                            "\"size\"", "\"crc32\": \"00000000\"", "\"label\"", "\"exit_code\": null",
                            "\"port_kind\": \"LAN\"", "\"code\": -19", "\"message\": \"An error occurred.\\nCheck\"",
                            "\"bytes_sent\"", "\"bytes_total\"", "\"seconds\"", "\"version_check\": \"changed\"",
                            "\"version_check\": \"not read\"", "\"result\": \"not_attempted\"", "\"code\": null",
                            "\"version_check\": \"not applicable\"", "\"usb_serial\"", "\"mac\"", "\"ip\"",
                            "\"left_on_file\": []"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field;
  }
  r.automatic = true;
  r.exitCode = 3;
  r.leftOnFile = {u"Receipt \"1\"", u"B"};
  r.printers[1].result = "interrupted";  // saved while it was written: no result yet
  const std::string saved = RunReportJson(r);
  EXPECT_NE(saved.find("\"left_on_file\": [\"Receipt \\\"1\\\"\", \"B\"]"), std::string::npos) << saved;
  EXPECT_EQ(json_check::Values(saved, "code"), (std::vector<std::string>{"0", "null", "null"}));
  r.printers.clear();
  EXPECT_TRUE(ValidJson(RunReportJson(r)));
  SerialRecord s;
  s.printer = Sample().printers[0];
  s.serialWritten = u"S\"N\\1\n";
  std::string line = SerialRecordJson(s);
  EXPECT_TRUE(ValidJson(line)) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_NE(line.find("\"serial_before\": null"), std::string::npos);
}

TEST(RunReport, TextInEitherLanguage) {
  const RunReport r = Sample();
  const std::string english = RunReportText(r, 1), japanese = RunReportText(r, 0);
  for (const char* text : {"Firmware write report", "Update a part of ROM area", "Parallel: 1\r\n", "[2] failed",
                           "-19 An error occurred. Check\r\n", "漢\xEF\xBF\xBD\xEF\xBF\xBD" "Fake line\r\n",
                           "[3] not attempted", "not read in Rewrite All mode", "Version after: not read"}) {
    EXPECT_NE(english.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(english.find("\nFake line"), std::string::npos) << "a line break from outside starts a line";
  EXPECT_NE(japanese.find("ファームウェア書込みレポート"), std::string::npos);
  EXPECT_NE(japanese.find("[3] 未実行"), std::string::npos);
  EXPECT_EQ(japanese.find("Version"), std::string::npos);
}

TEST(RunReport, FullLanListIsWholeAndQuick) {
  RunReport r = Sample();
  while (r.printers.size() < 255) r.printers.push_back(r.printers[0]);
  const auto start = std::chrono::steady_clock::now();
  const std::string json = RunReportJson(r), text = RunReportText(r, 0);
  const auto spent = std::chrono::steady_clock::now() - start;
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__) && !__has_feature(address_sanitizer)
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count(), 50);  // a shipping build
#else
  (void)spent;
#endif
  EXPECT_TRUE(ValidJson(json));
  size_t entries = 0;
  for (size_t at = json.find("\"port_kind\""); at != std::string::npos; at = json.find("\"port_kind\"", at + 1)) ++entries;
  EXPECT_EQ(entries, 255u);
  EXPECT_NE(text.find("[255] "), std::string::npos);
}

}  // namespace
