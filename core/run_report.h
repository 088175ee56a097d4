// The run report: what one firmware write run did to each printer, kept as a
// text file for a person (in the settings' language) and a JSON file for
// scripts, and Tagsmith's serial-number record. This file holds the
// platform-free record and its formats; run_report_win.cpp writes the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A local wall-clock time and its offset from UTC, as the report shows it.
struct ReportTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int utcOffsetMinutes = 0;  // local minus UTC
};

// "2026-12-08T22:30:05+09:00"
std::string IsoTime(const ReportTime& time);
// "20261208-223005-123": sorts like the times and names one run's files.
std::string FileStamp(const ReportTime& time);

// One target printer of the run, in list order.
struct ReportPrinter {
  std::string portKind;         // "USB", "COM", "LPT" or "LAN"
  std::u16string port;          // COM or LPT name, USB printer name, LAN address
  std::u16string usbPort;       // USB: the spooler port ("USB001"); else empty
  std::u16string usbSerial;     // USB: the serial number of the device path; else empty
  std::u16string model, ip, mac;  // LAN; empty elsewhere
  // "written", "failed", "not_attempted", or "interrupted" (begun, its end
  // not recorded: the report was saved while the printer was being written)
  std::string result = "not_attempted";
  int32_t code = 0;             // result code of the printer's exchange (0 when written)
  std::u16string message;       // the text of the box the operator saw; empty when none
  uint64_t bytesSent = 0, bytesTotal = 0;
  double seconds = 0;
  bool versionsRead = false;    // false in Rewrite All mode: the printer does not run during the write
  bool beforeRead = false, afterRead = false;
  std::u16string versionBefore, versionAfter;  // firmware number and version as the printer reports them
};

// "changed", "unchanged" or "not read"; "not applicable" in Rewrite All mode.
std::string VersionCheck(const ReportPrinter& printer);

struct RunReport {
  std::u16string program, version;
  ReportTime started, ended;
  int mode = 0;                 // 0 Rewrite All area, 1 Update a part of ROM area
  int parallel = 1;             // LAN printers written at once ([LAN_SEND] Parallel); 1 elsewhere
  std::u16string filePath, fileLabel;
  uint64_t fileSize = 0;
  uint32_t fileCrc = 0;
  bool automatic = false;       // started with a file on the command line
  int exitCode = 0;             // automatic runs only
  std::string outcome;          // "written", "failed", "declined", "interrupted"
  std::vector<std::u16string> leftOnFile;  // spooler printers still on "FILE:" when the record was saved
  std::vector<ReportPrinter> printers;
};

// One write of Tagsmith's serial number.
struct SerialRecord {
  ReportTime time;
  ReportPrinter printer;        // port fields only
  std::u16string serialBefore, serialWritten;
  bool beforeRead = false;
  bool readBackMatched = false;  // the read-back alone, whatever the give-back did
  std::vector<std::u16string> leftOnFile;  // spooler printers the give-back left on "FILE:"
  int32_t code = 0;
};

// CRC-32 (the zip one); pass the previous result to continue over more bytes.
uint32_t FileCrc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& text);
// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(const std::u16string& text);
// The text up to its first line break (CR or LF), without trailing spaces.
std::u16string FirstLine(const std::u16string& text);
// "12.346" (`decimals` 3) or "12.3" (1), rounded; a point whatever the C
// runtime's locale says.
std::string DecimalText(double value, int decimals);

std::string RunReportJson(const RunReport& report);
// languageIndex 0 Japanese, anything else English.
std::string RunReportText(const RunReport& report, int languageIndex);
// One line of JSON (no line break inside) and the same entry as text lines.
std::string SerialRecordJson(const SerialRecord& record);
std::string SerialRecordText(const SerialRecord& record, int languageIndex);
