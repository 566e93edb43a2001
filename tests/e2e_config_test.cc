// The configuration file, read from the current directory before the switches.
#include <sys/stat.h>

#include <filesystem>

#include "e2e_support.h"

namespace {

class ConfigurationFile : public EndToEnd {};

TEST_F(ConfigurationFile, SetsOutboundAndLog) {
  makeDirectory("outbound");
  writeFile("Pelorin.Cfg", "; where the mail processor leaves its packets\r\n"
                           "OutSq outbound\r\nStatusLog pelorin.log ; appended\r\n");
  RunOutput out = run({"2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(""), "outbound"));
  EXPECT_EQ(logWithoutTimes("pelorin.log"),
            logOf({"Working in \"outbound\", From: 2:5020/999.0", summary("")}, true));
}

TEST_F(ConfigurationFile, SwitchesWinOverTheFile) {
  makeDirectory("outbound");
  makeDirectory("other");
  writeFile("Pelorin.Cfg", "OutSq outbound\nStatusLog file.log\n");
  RunOutput out = run({"-oother", "-lswitch.log", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(""), "other"));
  EXPECT_EQ(files().count("file.log"), 0u);
  EXPECT_EQ(files().count("switch.log"), 1u);
}

TEST_F(ConfigurationFile, UnknownStatementsPrecedeTheUsage) {
  writeFile("Pelorin.Cfg", "Outbound /x\nOutSq=/y\nStatusLog\n");
  RunOutput out = run({"2:5020/999"});
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.console, text(std::string(kBanner) + "Unknown cfg statement: Outbound\n" +
                              "Unknown cfg statement: OutSq=/y\n" + kUsage));
}

TEST_F(ConfigurationFile, NameInAnotherLetterCaseIsFound) {
  if (windowsTarget()) GTEST_SKIP() << "Windows finds any letter case by itself";
  makeDirectory("outbound");
  // Upper case sorts first among names equal but for case.
  writeFile("PELORIN.CFG", "OutSq outbound\n");
  writeFile("pelorin.cfg", "OutSq elsewhere\n");
  RunOutput out = run({"2:5020/999", "World"});
  EXPECT_EQ(out.console, consoleOf(done(""), "outbound"));
  writeFile("Pelorin.Cfg", "OutSq exact\n");
  EXPECT_EQ(run({"2:5020/999", "World"}).console,
            text(std::string(kBanner) + "Dir exact not found.\n"));
}

TEST_F(ConfigurationFile, AnythingButARegularFileIsReadAsNoStatements) {
  makeDirectory("Pelorin.Cfg");
  EXPECT_EQ(run({"2:5020/999", "World"}).console, text(std::string(kBanner) + kUsage));
  if (windowsTarget()) return;  // FIFOs are a POSIX matter
  std::filesystem::remove(path("Pelorin.Cfg"));
  // Opening a FIFO for reading would wait for a writer.
  ASSERT_EQ(mkfifo(path("Pelorin.Cfg").c_str(), 0600), 0);
  RunOutput out = run({"2:5020/999", "World"});
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.console, text(std::string(kBanner) + kUsage));
}

}  // namespace
