#include "base/messages.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <regex>

#include "test_files.h"

namespace {

TEST(TimeStamp, HasTwoDigitFieldsAndEnglishMonths) {
  std::tm time{};
  time.tm_mday = 5;
  time.tm_mon = 2;
  time.tm_hour = 9;
  time.tm_min = 7;
  time.tm_sec = 2;
  EXPECT_EQ(formatTimeStamp(time), "05 Mar 09:07:02");
  time.tm_mday = 31;
  time.tm_mon = 11;
  time.tm_hour = 23;
  time.tm_min = 59;
  time.tm_sec = 59;
  EXPECT_EQ(formatTimeStamp(time), "31 Dec 23:59:59");
}

TEST(StatusLog, LogsOnlyTheFirstLineOfEachMessage) {
  std::string path = testing::TempDir() + "messages_test.log";
  std::remove(path.c_str());
  {
    std::ofstream existing(path, std::ios::binary);
    existing << "old content\n";
  }
  ASSERT_TRUE(openStatusLog(path));
  testing::internal::CaptureStdout();
  reportMessage("\n\r\t%s line\nsecond %d\n", "first", 2);
  logMessage("\n\n");
  std::string console = testing::internal::GetCapturedStdout();
  closeStatusLog();
  EXPECT_EQ(console, "\n\r\tfirst line\nsecond 2\n");
  std::string log = std::regex_replace(
      readWholeFile(path), std::regex("  \\d\\d [A-Z][a-z][a-z] \\d\\d:\\d\\d:\\d\\d PLRN "),
      "  <time> PLRN ");
  EXPECT_EQ(log,
            "old content\n\n"
            "  <time> PLRN Begin, Pelorin 1.10\n"
            "  <time> PLRN first line\n"
            "  <time> PLRN \n"
            "  <time> PLRN End, Pelorin 1.10\n");
  std::remove(path.c_str());
}

TEST(StatusLog, NothingIsWrittenWhenNoLogIsOpen) {
  testing::internal::CaptureStdout();
  logMessage("not shown %d\n", 1);
  reportMessage("shown %d\n", 2);
  closeStatusLog();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown 2\n");
}

TEST(StatusLog, OpenFailsForAnUnopenablePath) {
  EXPECT_FALSE(openStatusLog(""));
  EXPECT_FALSE(openStatusLog(testing::TempDir() + "no-such-dir/x.log"));
}

}  // namespace
