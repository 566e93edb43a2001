// The run from start to end: switches, usage, the outbound test, the status
// log and the exit statuses, and the surroundings a scheduler gives it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "e2e_support.h"

namespace {


class RunSequence : public EndToEnd {
 protected:
  void expectUsage(const std::vector<std::string>& arguments) {
    RunOutput out = run(arguments);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.console, text(std::string(kBanner) + kUsage));
    EXPECT_EQ(out.errors, "");
  }
  void expectCannotOpenLog(const std::string& log, const std::string& reason) {
    RunOutput out = run({"-oout", "-l" + log, "2:5020/999", "World"});
    EXPECT_EQ(out.status, 4) << log;
    EXPECT_EQ(out.console,
              text(std::string(kBanner) + "\nError opening " + log + " !\n  " + reason + "\n\n"));
  }
};

TEST_F(RunSequence, TooFewArgumentsOrNoOutboundGiveTheUsage) {
  makeDirectory("out");
  expectUsage({});
  expectUsage({"-oout", "-lrun.log"});
  expectUsage({"-oout", "-lrun.log", "2:5020/999"});
  expectUsage({"-lrun.log", "2:5020/999", "2:5020/1"});
  // Nothing was tested or opened: no status log appeared.
  EXPECT_TRUE(files().empty());
}

TEST_F(RunSequence, HelpAndVersionEndTheRunOnceTheSwitchesAreRead) {
  const std::string help =
      "Pelorin [-n] [-r] [-b] [-l<log>] [-o<out.sq>] <from-adr> <to-adr-list>\n"
      "\n"
      "<to-adr-list> is as in route.cfg\n"
      "-n  preview: show what a run would do, write nothing\n"
      "-r  the outbound tree: point directories and zone outbounds too\n"
      "-b  flow files too: the packets and ZIP bundles they list\n"
      "-l  status log (StatusLog in Pelorin.Cfg)\n"
      "-o  outbound directory (OutSq in Pelorin.Cfg)\n";
  // The configuration's warnings come first; no log is opened, no outbound
  // looked at, not even one that does not exist.
  writeFile("Pelorin.Cfg", "OutSq=out\n");
  const std::string warning = "Unknown cfg statement: OutSq=out\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, help},
      {{"--version"}, ""},
      {{"-lrun.log", "-onowhere", "--help", "--version", "2:5020/999", "World"}, help},
      {{"-n", "--version", "-r", "--help", "2:5020/999"}, ""},
  };
  for (const auto& [arguments, shown] : cases) {
    RunOutput out = run(arguments);
    EXPECT_EQ(out.status, 0) << arguments[0];
    EXPECT_EQ(out.console, text(std::string(kBanner) + warning + shown)) << arguments[0];
  }
  EXPECT_EQ(files().size(), 1u);
}

TEST_F(RunSequence, ArgumentsAreRefusedBeforeAnyPacketIsLookedAt) {
  writeFile("out/a.out", packet(kOld, kHub, {}));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"2:5020/100O", "World"}, "Not an address: 2:5020/100O"},
      {{"2:5020/2000", "2:5020/1", "-n"}, "Switches go before <from-adr>: -n"},
      {{"2:5020/2000", "2:5020/1", "2:5020/*"}, "Not a destination: 2:5020/*"},
  };
  for (const auto& [addresses, line] : cases) {
    std::filesystem::remove(path("run.log"));
    std::vector<std::string> arguments = {"-oout", "-lrun.log"};
    arguments.insert(arguments.end(), addresses.begin(), addresses.end());
    RunOutput out = run(arguments);
    EXPECT_EQ(out.status, 1) << line;
    EXPECT_EQ(out.console, text(std::string(kBanner) + line + "\n" + kUsage)) << line;
    EXPECT_EQ(logWithoutTimes("run.log"), logOf({line}, false));
  }
  // A switch the program does not have is refused before anything is done.
  for (const char* unknown : {"--dry-run", "-x", "--"}) {
    RunOutput out = run({"-oout", unknown, "-lrun.log", "2:5020/2000", "World"});
    EXPECT_EQ(out.status, 1) << unknown;
    EXPECT_EQ(out.console,
              text(std::string(kBanner) + "Unknown switch: " + unknown + "\n" + kUsage));
  }
  EXPECT_EQ(readFile("out/a.out"), packet(kOld, kHub, {}));
}

TEST_F(RunSequence, NormalRunLogsBeginWorkingAndEnd) {
  makeDirectory("out");
  writeFile("run.log", text("earlier run\n"));
  RunOutput out = run({"-oout", "-lrun.log", "2:5020/999", "2:5020/1"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done("")));
  EXPECT_EQ(out.errors, "");
  EXPECT_EQ(logWithoutTimes("run.log"),
            text("earlier run\n") +
                logOf({"Working in \"out\", From: 2:5020/999.0", summary("")}, true));
}

TEST_F(RunSequence, SwitchLettersInAnyCaseALoneDashIgnored) {
  makeDirectory("out");
  RunOutput out = run({"-", "-Lignored.log", "-Oout", "-lrun.log", "2:5020/999.3", "5"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(""), "out", "2:5020/999.3"));
  EXPECT_EQ(files().count("ignored.log"), 0u);
  EXPECT_EQ(files().count("run.log"), 1u);
}

TEST_F(RunSequence, WithoutALogNothingButTheConsole) {
  makeDirectory("out");
  RunOutput out = run({"-oout", "1:2/3", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(""), "out", "1:2/3.0"));
  EXPECT_TRUE(files().empty());
}

TEST_F(RunSequence, MissingOutboundIsReportedOnTheConsoleOnly) {
  RunOutput out = run({"-omissing", "-lrun.log", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.console, text(std::string(kBanner) + "Dir missing not found.\n"));
  EXPECT_TRUE(files().empty());
  RunOutput empty = run({"-o", "2:5020/999", "World"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.console, text(std::string(kBanner) + "Dir  not found.\n"));
}

TEST_F(RunSequence, DanglingLinkIsNoOutbound) {
  std::filesystem::create_symlink("nowhere", path("out"));
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.console, text(std::string(kBanner) + "Dir out not found.\n"));
}

TEST_F(RunSequence, OrdinaryFileAsOutboundYieldsNoPackets) {
  writeFile("plain.out", packet({2, 5020, 1, 0}, {2, 5020, 2, 0}, {}));
  RunOutput out = run({"-oplain.out", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(""), "plain.out"));
}

TEST_F(RunSequence, UnopenableLogEndsTheRunWithStatusFour) {
  makeDirectory("out");
  expectCannotOpenLog("", onTarget("No such file or directory", "Path not found"));
  expectCannotOpenLog("no/such.log", onTarget("No such file or directory", "Path not found"));
  if (windowsTarget()) return;  // FIFOs are a POSIX matter
  // A FIFO without a reader: opening it must not wait for one.
  ASSERT_EQ(mkfifo(path("run.log").c_str(), 0600), 0);
  expectCannotOpenLog("run.log", "No such device or address");
}

TEST_F(RunSequence, LogHeldByAnotherRunEndsTheRunWithStatusFour) {
  makeDirectory("out");
  writeFile("run.log", "");
  FileHolder holder(path("run.log"));
  ASSERT_TRUE(holder.held());
  expectCannotOpenLog("run.log", "held by another run");
  EXPECT_EQ(readFile("run.log"), "");
}

TEST_F(RunSequence, LogThatCannotBeWrittenIsReportedOnceAndTheWorkGoesOn) {
  if (windowsTarget()) GTEST_SKIP() << "no /dev/full on Windows";
  struct Case {
    std::string packetBytes;
    std::string afterWorking;
    int status;
  };
  const Case cases[] = {
      {packet(kOld, kHub, {}), done(fromLine("a.out") + "Changed Messages: 0\n"), 4},
      // A failing packet still gives its own status.
      {packetHeader(kOld, kHub),
       fromLine("a.out") + "Error in out/a.out\n  nothing after the header\n", 2},
  };
  for (const Case& c : cases) {
    writeFile("out/a.out", c.packetBytes);
    RunOutput out = run({"-oout", "-l/dev/full", "2:5020/999", "World"});
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.console, std::string(kBanner) +
                               "\nError writing /dev/full !\n  No space left on device\n\n" +
                               "Working in \"out\", From: 2:5020/999.0\n" + c.afterWorking);
  }
  EXPECT_EQ(readFile("out/a.out"), packetHeader(kOld, kHub));
}

TEST_F(RunSequence, ClosedStandardStreamsLendTheirNumbersToNoFile) {
  if (windowsTarget()) GTEST_SKIP() << "descriptors are a POSIX matter; Windows files are handles";
  TestMessage message = echomail("A", 5020, 100, "x");
  TestMessage changed = message;
  changed.origNode = 999;
  const std::vector<int> closings[] = {{1}, {0, 1, 2}};
  for (const std::vector<int>& closed : closings) {
    std::remove(path("run.log").c_str());
    writeFile("out/a.out", packet(kOld, kHub, {message}));
    RunOptions options;
    options.closedDescriptors = closed;
    RunOutput out = run({"-oout", "-lrun.log", "2:5020/999", "World"}, options);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(readFile("out/a.out"), withHeaderOrigin(packet(kOld, kHub, {changed}), kNew));
    EXPECT_EQ(logWithoutTimes("run.log"),
              logOf({"Working in \"out\", From: 2:5020/999.0",
                     "out/a.out to 2:5020/1.0 from 2:5020/100.0", "Changed Messages: 1",
                     summary("Changed Messages: 1\n")},
                    true));
  }
}

TEST_F(RunSequence, PreviewForetellsTheRunAndWritesNothing) {
  const NodeAddress otherNet{2, 463, 68, 0};
  const std::string echo = packet(kOld, kHub, {echomail("A", 5020, 100, "x")});
  const std::string toRewrite = fromLine("139c0001.out") + "Changed Messages: 1\n";
  const std::string malformed = packetHeader(kOld, kHub) + std::string(40, 'x');  // no message
  struct Case {
    std::map<std::string, std::string> files;
    std::string body;  // what both runs report after "Working in"
    int status;
  };
  const Case cases[] = {
      // Rewritten (under a dead run's flag, which the real run takes over),
      // already from, unlisted, busy.
      {{{"out/139c0001.out", echo},
        {"out/139c0001.bsy", "999999 pelorin\n"},
        {"out/139c0002.out", packet(kNew, {2, 5020, 2, 0}, {})},
        {"out/01cf0044.out", packet(kOld, otherNet, {})},
        {"out/139c0003.out", packet(kOld, {2, 5020, 3, 0}, {})},
        {"out/139c0003.bsy", "12345\n"}},
       toRewrite + joined("out", "139c0002.out") + " to 2:5020/2.0 already from 2:5020/999.0\n" +
           joined("out", "139c0003.out") + " busy, left for the next run\n",
       3},
      {{{"out/139c0001.out", echo}, {"out/139c0002.out", malformed}},
       toRewrite + fromLine("139c0002.out") + "Error in " + joined("out", "139c0002.out") +
           "\n  message 1 at offset 58: type 30840, not 2\n",
       2},
  };
  const std::vector<std::string> list = {"2:5020/999", "2:5020/All", "0", "463/68.3"};
  const std::string selections =
      "Destination \"2:5020/All\" selects 2:5020/All\n"
      "Destination \"0\" selects 2:5020/0.All\n"
      "Destination \"463/68.3\" selects 2:463/68.3\n";
  for (const Case& c : cases) {
    std::filesystem::remove_all(path("out"));
    for (const auto& [name, bytes] : c.files) {
      writeFile(name, bytes);
      setOldTime(name);
    }
    std::vector<std::string> preview = {"-n", "-oout", "-lrun.log"};
    preview.insert(preview.end(), list.begin(), list.end());
    RunOutput out = run(preview);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.console, consoleOf(selections + (c.status == 2 ? c.body : previewDone(c.body))));
    EXPECT_EQ(files(), c.files);
    for (const auto& [name, bytes] : c.files) EXPECT_EQ(modificationTime(name), 1000000000) << name;
    std::vector<std::string> real = {"-oout"};
    real.insert(real.end(), list.begin(), list.end());
    RunOutput after = run(real);
    EXPECT_EQ(after.status, c.status);
    EXPECT_EQ(after.console, consoleOf(c.status == 2 ? c.body : done(c.body)));
  }
}

// The run has more to report than a pipe of one page holds, so it is still
// writing when its reader goes.
class ReaderGoingAway : public RunSequence {
 protected:
  void SetUp() override {
    RunSequence::SetUp();
    if (windowsTarget()) GTEST_SKIP() << "pipes without a reader are a POSIX matter";
    for (int i = 0; i < kPackets; ++i) writeFile(packetName(i), kOriginal);
  }
  static std::string packetName(int i) { return "out/p" + std::to_string(1000 + i) + ".out"; }
  // Makes the pipe hold one page, then takes a few bytes and goes.
  static void readABitAndGo(int reader) {
    fcntl(reader, F_SETPIPE_SZ, 4096);
    char bytes[16];
    for (int tries = 0; tries < 1000 && read(reader, bytes, sizeof bytes) <= 0; ++tries) {
      usleep(10000);
    }
    close(reader);
  }
  void expectEveryPacketChanged() {
    for (int i = 0; i < kPackets; ++i) {
      ASSERT_EQ(readFile(packetName(i)), withHeaderOrigin(kOriginal, kNew)) << i;
    }
  }
  static constexpr int kPackets = 200;
  const std::string kOriginal = packet(kOld, kHub, {});
};

TEST_F(ReaderGoingAway, ConsoleReaderGoneLosesTheReportOnly) {
  RunOptions piped;
  piped.consoleToPipe = true;
  Started started = start({"-oout", "2:5020/999", "World"}, piped);
  readABitAndGo(started.console);
  EXPECT_EQ(finish(started).status, 0);
  expectEveryPacketChanged();
}

TEST_F(ReaderGoingAway, LogReaderGoneIsAFailedLogWrite) {
  ASSERT_EQ(mkfifo(path("run.log").c_str(), 0600), 0);
  // Opened before the run, so that the run finds a reader.
  int reader = open(path("run.log").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Started started = start({"-oout", "-lrun.log", "2:5020/999", "World"});
  readABitAndGo(reader);
  RunOutput out = finish(started);
  EXPECT_EQ(out.status, 4);
  EXPECT_NE(out.console.find("\nError writing run.log !\n  Broken pipe\n\n"), std::string::npos);
  expectEveryPacketChanged();
}

}  // namespace
