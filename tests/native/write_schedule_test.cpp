#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "romsmith/exit_codes.h"
#include "romsmith/write_schedule.h"

namespace {

// A run told as a script of steps: "3" asks for the next printer and
// expects printer 3, "-" expects that none may start, "+3" ends printer 3
// written, "x3" ends it failed.
struct ScheduleCase {
  const char* name;
  std::vector<bool> oneAtATime;
  int32_t parallel;
  const char* script;
  int written, failed;
  int exitCode;
};

TEST(WriteSchedule, StartsInListOrderAsPlacesFreeUp) {
  const bool lq = false, sx = true;
  const ScheduleCase cases[] = {
      {"one place is today's order", {lq, lq, lq}, 1, "0 - +0 1 x1 2 +2 -", 2, 1, kExitWriteFailed},
      {"four places, six printers", {lq, lq, lq, lq, lq, lq}, 4, "0 1 2 3 - x2 4 +0 5 - +1 +3 +4 +5", 5, 1,
       kExitWriteFailed},
      {"more places than printers", {lq, lq}, 64, "0 1 - +1 +0", 2, 0, kExitWritten},
      {"a second end of the same printer counts once", {lq, lq}, 2, "0 +0 x0 1 +1", 2, 0, kExitWritten},
      // The other vendor's printers go one at a time and hold up nobody.
      {"one-at-a-time library passed over", {sx, sx, lq, sx, lq}, 4, "0 2 4 - +0 1 - +1 3 +2 +3 +4", 5, 0,
       kExitWritten},
      {"zero places taken as one", {lq, lq}, 0, "0 - +0 1 +1", 2, 0, kExitWritten},
      {"every printer failed", {lq, lq}, 2, "0 1 x0 x1", 0, 2, kExitWriteFailed},
  };
  for (const ScheduleCase& c : cases) {
    WriteSchedule schedule(c.oneAtATime, c.parallel, 1000);
    std::istringstream steps(c.script);
    for (std::string step; steps >> step;) {
      if (step[0] == '+' || step[0] == 'x') {
        schedule.End(std::stoi(step.substr(1)), step[0] == '+' ? 0 : -20);
      } else {
        EXPECT_EQ(schedule.Next(), step == "-" ? -1 : std::stoi(step)) << c.name << ", step " << step;
      }
      EXPECT_LE(schedule.InFlight(), c.parallel < 1 ? 1 : c.parallel) << c.name << ", step " << step;
    }
    EXPECT_TRUE(schedule.Finished()) << c.name;
    EXPECT_EQ(schedule.Count(PrinterRun::kWritten), c.written) << c.name;
    EXPECT_EQ(schedule.Count(PrinterRun::kFailed), c.failed) << c.name;
    EXPECT_EQ(schedule.ExitCode(), c.exitCode) << c.name;
  }
}

TEST(WriteSchedule, CountsBytesAndTellsEachRow) {
  WriteSchedule schedule({false, false, false}, 3, 1000);
  EXPECT_EQ(schedule.Next(), 0);
  EXPECT_EQ(schedule.Next(), 1);
  schedule.Sent(0, 455);
  schedule.Sent(1, 5000);  // never more than the block
  schedule.Sent(2, 300);   // not started: ignored
  EXPECT_EQ(schedule.BytesSent(), 1455u);
  EXPECT_EQ(schedule.BytesTotal(), 3000u);
  schedule.End(1, -20);
  EXPECT_EQ(schedule.At(1).sent, 1000u) << "a failed printer keeps what it got";
  const std::wstring line = L"Communication error";
  EXPECT_EQ(RowStateText(schedule.At(0), 1000, line, 1), L"writing 45 %");
  EXPECT_EQ(RowStateText(schedule.At(1), 1000, line, 1), L"failed: Communication error");
  EXPECT_EQ(RowStateText(schedule.At(2), 1000, line, 0), L"待機中");
  schedule.End(0, 0);
  EXPECT_EQ(RowStateText(schedule.At(0), 1000, line, 0), L"書込み完了");
  EXPECT_EQ(TotalText(schedule, 1), L"2000 / 3000 Byte\n66 %  (written 1, failed 1, of 3)");
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(PercentOf(4294967295ull * 255, 4294967295ull * 255), 100) << "no overflow on a long list";
}

TEST(WriteSchedule, FailedPrintersBox) {
  std::vector<FailedPrinter> failed = {{L"10.0.0.9", L"No reply"}, {L"10.0.0.3", L"Lost"}};
  EXPECT_EQ(FailedPrintersText(failed, 4, 6, 1),
            L"Writing failed on 2 of 6 printers.\n\n10.0.0.9: No reply\n10.0.0.3: Lost\n\n4 printer(s) were written.");
  EXPECT_EQ(FailedPrintersText(failed, 0, 2, 0),
            L"2 台中 2 台のプリンタで書込みに失敗しました。\n\n10.0.0.9: No reply\n10.0.0.3: Lost\n\n書込みできたプリンタはありません。");
  EXPECT_EQ(FailedPrintersText({failed[0]}, 2, 3, 1, ListOperation::kReset),
            L"Reset failed on 1 of 3 printers.\n\n10.0.0.9: No reply\n\n2 printer(s) were reset.");
  // A long list names the first ones and points to the report.
  failed.assign(kFailedLinesShown + 3, FailedPrinter{L"a", L"b"});
  const std::wstring text = FailedPrintersText(failed, 0, failed.size(), 1);
  EXPECT_NE(text.find(L"and 3 more (see the run report)"), std::wstring::npos);
  size_t lines = 0;
  for (size_t at = text.find(L"a: b"); at != std::wstring::npos; at = text.find(L"a: b", at + 1)) ++lines;
  EXPECT_EQ(lines, kFailedLinesShown);
}

}  // namespace
