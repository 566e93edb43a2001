// Busy flags on real files: a run keeps off the nodes another program has,
// takes the flag of each node it rewrites, and leaves no file of its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_support.h"
#include "outbound/busy_flags.h"

namespace {

namespace fs = std::filesystem;

const NodeAddress kSecond{2, 5020, 2, 0};  // the node of 139c0002.out
const char* const kPosixOnly = "the fault hooks and signals are POSIX matters";

class BusyFlags : public EndToEnd {
 protected:
  void writePackets() {
    std::error_code ignored;
    fs::remove_all(path("out"), ignored);
    fs::remove(path("run.log"), ignored);
    writeFile("out/139c0001.out", echoPacket(kHub));
    writeFile("out/139c0002.out", echoPacket(kSecond));
  }
  RunOutput runOnAll(const RunOptions& options = {}) {
    return run({"-oout", "-lrun.log", "2:5020/999", "World"}, options);
  }
  static std::string busyLine(const std::string& name) {
    return joined("out", name) + " busy, left for the next run\n";
  }
  // A process that writes a line into the FIFO once a reader opens it.
  pid_t startWriter(const std::string& relative) {
    pid_t child = fork();
    if (child == 0) {
      int fd = open(path(relative).c_str(), O_WRONLY);
      _exit(fd >= 0 && write(fd, "hello\n", 6) == 6 ? 0 : 1);
    }
    return child;
  }
  // What the writer writes once the test opens the FIFO for reading.
  std::string readFromWriter(const std::string& relative, pid_t writer) {
    int fd = open(path(relative).c_str(), O_RDONLY | O_NONBLOCK);
    std::string got;
    char bytes[16];
    for (int tries = 0; tries < 500 && got.find('\n') == std::string::npos; ++tries) {
      ssize_t n = read(fd, bytes, sizeof bytes);
      if (n > 0) got.append(bytes, static_cast<std::size_t>(n));
      if (n <= 0) usleep(10000);
    }
    close(fd);
    waitpid(writer, nullptr, 0);
    return got;
  }
  // Waits up to five seconds for a file of the work directory to appear.
  bool appears(const std::string& relative) {
    for (int waited = 0; waited < 500; ++waited) {
      if (fs::exists(path(relative))) return true;
      usleep(10000);
    }
    return false;
  }
};

enum class Kind { File, Directory, DanglingLink, Fifo };

struct ForeignFlag {
  const char* name;
  Kind kind;
  const char* content;
  bool heldByALiveRun;
};

TEST_F(BusyFlags, BusyNodeIsLeftForTheNextRun) {
  const ForeignFlag flags[] = {
      {"139c0001.bsy", Kind::File, "12345\n", false},  // a mailer in a session
      {"139c0001.bsy", Kind::File, "99999", false},    // a tosser's, its process gone
      {"139C0001.BSY", Kind::File, "", false},         // another spelling, empty
      {"139c0001.csy", Kind::File, "16268\n", false},  // a mailer dialling
      {"139C0001.Csy", Kind::File, "", false},
      {"139c0001.bsy", Kind::Directory, "", false},
      {"139c0001.bsy", Kind::File, "4242 pelorin\n", true},  // another run of ours
      {"139c0001.bsy", Kind::DanglingLink, "", false},
      {"139c0001.csy", Kind::Fifo, "", false},
      {"139c0001.bsy", Kind::Fifo, "", false},  // with a writer waiting on it
  };
  for (const ForeignFlag& flag : flags) {
    // Wine shows a POSIX link or FIFO as what it leads to.
    if (windowsTarget() && (flag.kind == Kind::DanglingLink || flag.kind == Kind::Fifo)) continue;
    writePackets();
    const std::string relative = std::string("out/") + flag.name;
    switch (flag.kind) {
      case Kind::File: writeFile(relative, flag.content); break;
      case Kind::Directory: makeDirectory(relative); break;
      case Kind::DanglingLink: fs::create_symlink("nowhere", path(relative)); break;
      case Kind::Fifo: ASSERT_EQ(mkfifo(path(relative).c_str(), 0600), 0); break;
    }
    if (flag.kind != Kind::DanglingLink) setOldTime(relative);
    // A writer waits until a reader opens the FIFO; no run, not even a
    // preview, may be that reader.
    const pid_t writer = flag.kind == Kind::Fifo ? startWriter(relative) : -1;
    if (writer > 0) {
      RunOutput preview = run({"-n", "-oout", "2:5020/999", "World"});
      EXPECT_EQ(preview.status, 3);
    }
    RunOutput out;
    if (flag.heldByALiveRun) {
      FileHolder run(path(relative));
      ASSERT_TRUE(run.held());
      out = runOnAll();
    } else {
      out = runOnAll();
    }
    const std::string from = fromLine("139c0002.out", kSecond);
    EXPECT_EQ(out.status, 3) << flag.name;
    const std::string body = busyLine("139c0001.out") + from + "Changed Messages: 1\n";
    EXPECT_EQ(out.console, consoleOf(done(body))) << flag.name;
    EXPECT_EQ(logWithoutTimes("run.log"),
              logOf({"Working in \"out\", From: 2:5020/999.0",
                     joined("out", "139c0001.out") + " busy, left for the next run",
                     from.substr(0, from.size() - 1), "Changed Messages: 1", summary(body)},
                    true))
        << flag.name;
    EXPECT_EQ(readFile("out/139c0001.out"), echoPacket(kHub)) << flag.name;
    EXPECT_EQ(readFile("out/139c0002.out"), echoPacketRewritten(kSecond)) << flag.name;
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out", flag.name}))
        << flag.name;
    if (flag.kind == Kind::File) {
      EXPECT_EQ(readFile(relative), flag.content) << flag.name;
    }
    if (flag.kind != Kind::DanglingLink) {
      EXPECT_EQ(modificationTime(relative), 1000000000) << flag.name;
    }
    if (writer > 0) {
      EXPECT_EQ(readFromWriter(relative, writer), "hello\n") << flag.name;
    }
  }
}

TEST_F(BusyFlags, WhatDeadRunsLeftIsTakenOverOrRemoved) {
  writeFile("out/139c0001.out", echoPacket(kHub));
  writeFile("out/139c0001.bsy", "999999 pelorin\n");
  writeFile("out/139c0002.out", echoPacketRewritten(kSecond));
  writeFile("out/139c0002.bsy", "999998 pelorin\n");
  writeFile("out/.pelorin-999997.tmp", "");
  writeFile("out/.pelorin-999996.tmp", "999996 pelorin\n");
  RunOutput out = runOnAll();
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            consoleOf(done(fromLine("139c0001.out") + "Changed Messages: 1\n" +
                      joined("out", "139c0002.out") + " to 2:5020/2.0 already from 2:5020/999.0\n")));
  EXPECT_EQ(readFile("out/139c0001.out"), echoPacketRewritten(kHub));
  EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out"}));
}

TEST_F(BusyFlags, PreviewJudgesAFlagOfOursByItsLineAloneForShortPacketsToo) {
  // Held by a live run, but a preview takes no lock: it shows the flag as a
  // dead run's, gone, and the short packet as a real run then finds it.
  writeFile("out/139c0001.dut", std::string(30, 'x'));
  writeFile("out/139c0001.bsy", "4242 pelorin\n");
  FileHolder liveRun(path("out/139c0001.bsy"));
  ASSERT_TRUE(liveRun.held());
  RunOutput shown = run({"-n", "-oout", "2:5020/999", "World"});
  EXPECT_EQ(shown.status, 2);
  EXPECT_EQ(shown.console, consoleOf("Destination \"World\" selects World\nError: cannot read " +
                                     joined("out", "139c0001.dut") +
                                     "\n  30 bytes, shorter than a packet header\n"));
}

TEST_F(BusyFlags, WhatChangesAsTheRunTakesAFlagIsJudgedUnderIt) {
  if (windowsTarget()) GTEST_SKIP() << kPosixOnly;
  const std::string busy = busyLine("139c0001.out");
  const std::string second = fromLine("139c0002.out", kSecond) + "Changed Messages: 1\n";
  TestMessage more = echomail("B", 5020, 100, "appended");
  // A tosser's new copy of the packet, with one more message.
  const std::string newCopy = packet(kOld, kHub, {echomail("A", 5020, 100, "x"), more});
  const std::string deadFlag = "4242 pelorin 2:5020/999.0\n";
  // Another run of ours, started from inside the fault point.
  std::string otherRun;
  for (const std::string& word : command(PELORIN_EXE)) otherRun += word + " ";
  struct Case {
    const char* fault;    // where the command runs: as the run names its flag, or
                          // takes over a dead one
    std::string command;  // run in the work directory at that moment
    bool deadFlagFirst;   // a dead run's flag of ours on 139c0001 to begin with
    std::string body;
    int status;
    std::map<std::string, std::string> left;  // what the outbound holds but packets
  };
  const Case cases[] = {
      // Another program's flag in another spelling.
      {"flagLink:1", "echo 1 > out/139C0001.BSY", false, busy + second, 3,
       {{"out/139C0001.BSY", "1\n"}}},
      {"flagLink:1", "echo 1 > out/139c0001.CSY", false, busy + second, 3,
       {{"out/139c0001.CSY", "1\n"}}},
      {"flagLink:1", "echo 1 > out/139C0001.csy", false, busy + second, 3,
       {{"out/139C0001.csy", "1\n"}}},
      // A new copy renamed over the packet: it is the one rewritten.
      {"flagLink:1", "cp new.pkt out/n && mv out/n out/139c0001.out", false,
       fromLine("139c0001.out") + "Changed Messages: 2\n" + second, 0, {}},
      // A foreign flag in place of the dead one, and another of our runs
      // that finished the dead run's work and went: neither is taken over.
      {"flagLock:1", "rm out/139c0001.bsy && echo 77777 > out/139c0001.bsy", true, busy + second,
       3, {{"out/139c0001.bsy", "77777\n"}}},
      {"flagLock:1", otherRun + "-oout 2:5020/999 2:5020/1 > other.txt", true,
       joined("out", "139c0001.out") + " to 2:5020/1.0 already from 2:5020/999.0\n" + second,
       0, {}},
  };
  for (const Case& c : cases) {
    writePackets();
    writeFile("new.pkt", newCopy);
    if (c.deadFlagFirst) writeFile("out/139c0001.bsy", deadFlag);
    RunOptions options = withFault(std::string(c.fault) + ":run");
    options.environment.push_back("PELORIN_FAULT_COMMAND=" + c.command);
    RunOutput out = runOnAll(options);
    EXPECT_EQ(out.status, c.status) << c.command;
    EXPECT_EQ(out.console, consoleOf(done(c.body))) << c.command;
    std::map<std::string, std::string> expected = c.left;
    const bool rewrittenCopy = c.body.find("Changed Messages: 2") != std::string::npos;
    expected["out/139c0001.out"] = c.status == 3 ? echoPacket(kHub)
                                   : rewrittenCopy ? withHeaderOrigin(packet(kOld, kHub, {}), kNew)
                                                   : echoPacketRewritten(kHub);
    expected["out/139c0002.out"] = echoPacketRewritten(kSecond);
    std::map<std::string, std::string> found = files();
    found.erase("new.pkt");
    found.erase("other.txt");
    found.erase("run.log");
    if (rewrittenCopy) {
      // Both messages of the new copy, changed.
      TestMessage first = echomail("A", 5020, 100, "x");
      first.origNode = more.origNode = 999;
      expected["out/139c0001.out"] = withHeaderOrigin(packet(kOld, kHub, {first, more}), kNew);
      more.origNode = 100;
    }
    EXPECT_EQ(found, expected) << c.command;
  }
}

TEST_F(BusyFlags, InterruptedRunIsFinishedWhateverTheNextRunsArguments) {
  const NodeAddress other{2, 5020, 3000, 0};
  TestMessage changed = echomail("A", 5020, 100, "x");
  changed.origNode = 999;
  // As a run giving 139c0001.out the origin 2:5020/999 leaves it when killed
  // between its two writes: the messages changed, the header not yet.
  const std::string torn = packet(kOld, kHub, {changed});
  const std::string flagLine = " pelorin 2:5020/999.0\n";
  if (!windowsTarget()) {
    writePackets();
    Started killed = start({"-oout", "2:5020/999", "2:5020/1"}, withFault("headerWrite:1:kill"));
    ASSERT_EQ(finish(killed).signal, SIGKILL);
    EXPECT_EQ(readFile("out/139c0001.out"), torn);
    EXPECT_EQ(readFile("out/139c0001.bsy"), std::to_string(killed.pid) + flagLine);
  }
  const std::string finishing =
      joined("out", "139c0001.bsy") + " left by an interrupted run: finishing it, From: " +
      "2:5020/999.0\n" +
      fromLine("139c0001.out") + "Changed Messages: 0\n";
  TestMessage toOther = changed;
  toOther.origNode = 3000;
  struct Case {
    std::vector<std::string> arguments;
    std::string selection;  // the preview's line on the destination
    std::string body;       // after the "Working in" line
    std::string origin;
    std::map<std::string, std::string> packets;
  };
  const Case cases[] = {
      // Another list: the node is finished, then the run does its own work.
      {{"2:5020/999", "2:5020/2"}, "Destination \"2:5020/2\" selects 2:5020/2.All\n",
       finishing + fromLine("139c0002.out", kSecond) + "Changed Messages: 1\n", "2:5020/999.0",
       {{"out/139c0001.out", echoPacketRewritten(kHub)}, {"out/139c0002.out", echoPacketRewritten(kSecond)}}},
      // Another origin: the finished packet then moves on to it, whole.
      {{"2:5020/3000", "World"}, "Destination \"World\" selects World\n",
       finishing + fromLine("139c0001.out", kHub, kNew) + "Changed Messages: 1\n" +
           fromLine("139c0002.out", kSecond) + "Changed Messages: 1\n",
       "2:5020/3000.0",
       {{"out/139c0001.out", withHeaderOrigin(packet(kOld, kHub, {toOther}), other)},
        {"out/139c0002.out", withHeaderOrigin(packet(kOld, kSecond, {toOther}), other)}}},
  };
  for (const Case& c : cases) {
    writePackets();
    writeFile("out/139c0001.out", torn);
    writeFile("out/139c0001.bsy", "4242" + flagLine);
    const auto before = files();
    std::vector<std::string> preview = {"-n", "-oout"};
    preview.insert(preview.end(), c.arguments.begin(), c.arguments.end());
    RunOutput shown = run(preview);
    EXPECT_EQ(shown.status, 0) << c.origin;
    EXPECT_EQ(shown.console,
              consoleOf(c.selection + previewDone(c.body), "out", c.origin));
    EXPECT_EQ(files(), before) << c.origin;
    std::vector<std::string> real = {"-oout"};
    real.insert(real.end(), c.arguments.begin(), c.arguments.end());
    RunOutput out = run(real);
    EXPECT_EQ(out.status, 0) << c.origin;
    EXPECT_EQ(out.console, consoleOf(done(c.body), "out", c.origin));
    EXPECT_EQ(files(), c.packets) << c.origin;
  }
}

TEST_F(BusyFlags, InterruptedWorkIsFinishedFirstAndThePreviewForetellsIt) {
  const NodeAddress point{2, 5020, 1, 1};
  const std::string pointDir = std::string("139c0001.pnt") + separator();
  const std::string deadFlag = "4242 pelorin 2:5020/999.0\n";
  const std::string finishing = " left by an interrupted run: finishing it, From: 2:5020/999.0\n";
  const std::string malformed = packetHeader(kOld, {2, 463, 68, 0}) + std::string(40, 'x');
  const std::string notAMessage = "\n  message 1 at offset 58: type 30840, not 2\n";
  struct Case {
    std::map<std::string, std::string> files;
    std::string body;  // after the preview's line on the destination
    std::map<std::string, std::string> after;  // "<flag>": kept with the run's line
  };
  const Case cases[] = {
      // A dead flag deep in the tree is finished before a malformed packet
      // in the outbound stops the run.
      {{{"out/139c0001.pnt/00000001.cut", echoPacket(point)},
        {"out/139c0001.pnt/00000001.bsy", deadFlag},
        {"out/00000000.dut", malformed}},
       joined("out", pointDir + "00000001.bsy") + finishing +
           fromLine(pointDir + "00000001.cut", point) + "Changed Messages: 1\n" +
           fromLine("00000000.dut", {2, 463, 68, 0}) + "Error in " +
           joined("out", "00000000.dut") + notAMessage,
       {{"out/139c0001.pnt/00000001.cut", echoPacketRewritten(point)}, {"out/00000000.dut", malformed}}},
      // Finishing covers the packets the node's flow files attach, without -b.
      {{{"out/139c0001.bsy", deadFlag},
        {"out/139c0001.flo", "^pkt/a.pkt\n"},
        {"pkt/a.pkt", echoPacket(kHub)},
        {"out/00000000.dut", malformed}},
       joined("out", "139c0001.bsy") + finishing + "pkt/a.pkt" +
           fromLine("", kHub).substr(std::string("out").size() + 1) + "Changed Messages: 1\n" +
           fromLine("00000000.dut", {2, 463, 68, 0}) + "Error in " +
           joined("out", "00000000.dut") + notAMessage,
       {{"out/139c0001.flo", "^pkt/a.pkt\n"},
        {"pkt/a.pkt", echoPacketRewritten(kHub)},
        {"out/00000000.dut", malformed}}},
      // A short packet of a node being finished is the run's error, not busy.
      {{{"out/139c0001.out", std::string(30, 'x')}, {"out/139c0001.bsy", deadFlag}},
       joined("out", "139c0001.bsy") + finishing + "Error: cannot read " +
           joined("out", "139c0001.out") + "\n  30 bytes, shorter than a packet header\n",
       {{"out/139c0001.out", std::string(30, 'x')}, {"out/139c0001.bsy", "<flag>"}}},
  };
  for (const Case& c : cases) {
    for (const char* directory : {"out", "pkt"}) fs::remove_all(path(directory));
    for (const auto& [name, bytes] : c.files) writeFile(name, bytes);
    RunOutput shown = run({"-n", "-r", "-oout", "2:5020/3000", "2:463/68"});
    EXPECT_EQ(shown.status, 2);
    EXPECT_EQ(shown.console, consoleOf("Destination \"2:463/68\" selects 2:463/68.All\n" + c.body,
                                       "out", "2:5020/3000.0"));
    EXPECT_EQ(files(), c.files);
    Started real = start({"-r", "-oout", "2:5020/3000", "2:463/68"});
    RunOutput out = finish(real);
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.console, consoleOf(c.body, "out", "2:5020/3000.0"));
    std::map<std::string, std::string> expected = c.after;
    for (auto& [name, bytes] : expected) {
      // Wine's process ids are not the emulator's.
      if (bytes != "<flag>") continue;
      bytes = windowsTarget() ? readFile(name)
                              : fittedFlagLine(ownFlagLine(real.pid, kNew), deadFlag.size());
    }
    EXPECT_EQ(files(), expected);
  }
}

TEST_F(BusyFlags, HardKillLeavesTheFlagForTheNextRunToFinish) {
  // Large enough for the node's flag to be seen, and the run killed (on
  // Windows as TerminateProcess ends it) while it is held.
  std::vector<TestMessage> messages(1000, echomail("A", 5020, 100, std::string(60000, 'x')));
  const std::string big = packet(kOld, kHub, messages);
  for (TestMessage& m : messages) m.origNode = 999;
  const std::string finished = withHeaderOrigin(packet(kOld, kHub, messages), kNew);
  for (int attempt = 0; attempt < 3; ++attempt) {
    fs::remove_all(path("out"));
    writeFile("out/139c0001.out", big);
    Started started = start({"-oout", "2:5020/999", "World"});
    siginfo_t ended{};
    while (!fs::exists(path("out/139c0001.bsy")) &&
           waitid(P_PID, started.pid, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           ended.si_pid == 0) {
      usleep(200);
    }
    kill(started.pid, SIGKILL);
    if (finish(started).signal != SIGKILL) continue;  // it ended first
    OwnFlagLine line;
    EXPECT_TRUE(readOwnFlagLine(readFile("out/139c0001.bsy"), &line) &&
                sameNodeAddress(line.origin, kNew));
    RunOutput next = run({"-oout", "2:5020/3000", "2:5020/2"});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.console.rfind(consoleOf(joined("out", "139c0001.bsy") +
                                               " left by an interrupted run: finishing it, "
                                               "From: 2:5020/999.0\n",
                                           "out", "2:5020/3000.0"),
                                 0),
              0u);
    EXPECT_EQ(files(), (std::map<std::string, std::string>{{"out/139c0001.out", finished}}));
    return;
  }
  GTEST_SKIP() << "each run ended before its flag could be seen";
}

TEST_F(BusyFlags, RunHoldsItsFlagInLowerCaseWithItsProcessId) {
  if (windowsTarget()) GTEST_SKIP() << kPosixOnly;
  writeFile("out/139C0001.OUT", echoPacket(kHub));
  // The packet is read again, whole, under the flag.
  Started first = start({"-oout", "2:5020/999", "World"}, withFault("areaRead:1:pause"));
  ASSERT_TRUE(appears("out/139c0001.bsy"));
  EXPECT_EQ(readFile("out/139c0001.bsy"), std::to_string(first.pid) + " pelorin 2:5020/999.0\n");
  RunOutput second = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(second.status, 3);
  EXPECT_EQ(second.console, consoleOf(done(busyLine("139C0001.OUT"))));
  RunOutput firstOut = finish(first);
  EXPECT_EQ(firstOut.status, 0);
  EXPECT_EQ(readFile("out/139C0001.OUT"), echoPacketRewritten(kHub));
  EXPECT_EQ(namesIn("out"), std::set<std::string>{"139C0001.OUT"});
}

TEST_F(BusyFlags, InterruptionRemovesTheFlagOnceThePacketIsWhole) {
  if (windowsTarget()) GTEST_SKIP() << kPosixOnly;
  struct Case {
    const char* pauseAt;  // the call the run waits in when the signal comes
    int signal;
    std::string packetAfter;
  };
  const Case cases[] = {
      {"areaRead:1:pause", SIGTERM, echoPacket(kHub)},
      {"areaRead:1:pause", SIGHUP, echoPacket(kHub)},
      // In the middle of the writes the signal waits for the header.
      {"areaWrite:1:pause", SIGINT, echoPacketRewritten(kHub)},
  };
  for (const Case& c : cases) {
    writePackets();
    Started started = start({"-oout", "2:5020/999", "World"}, withFault(c.pauseAt));
    ASSERT_TRUE(appears("out/139c0001.bsy"));
    usleep(500000);  // well inside the two seconds of the pause
    kill(started.pid, c.signal);
    RunOutput out = finish(started);
    EXPECT_EQ(out.signal, c.signal) << c.pauseAt;
    EXPECT_EQ(readFile("out/139c0001.out"), c.packetAfter) << c.pauseAt;
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out"}))
        << c.pauseAt;
  }
}

TEST_F(BusyFlags, FlagFailuresStopTheRunAndTheNextRunCleansUp) {
  if (windowsTarget()) GTEST_SKIP() << kPosixOnly;
  const std::string cannotOpen =
      "Error: cannot open " + joined("out", "139c0001.out") + "\n  Input/output error\n";
  const std::string first = fromLine("139c0001.out") + "Changed Messages: 1\n";
  const std::string second = fromLine("139c0002.out", kSecond) + "Changed Messages: 1\n";
  struct Case {
    const char* fault;
    std::string body;  // "<flag file>" stands for the name of the run's flag file
    int status;
  };
  const Case cases[] = {
      {"flagCreate:1", cannotOpen, 2},
      {"flagWrite:1", cannotOpen, 2},
      {"flagLink:1", cannotOpen, 2},
      {"flagRemove:1",
       first + "Error: cannot remove " + joined("out", "139c0001.bsy") + "\n  Input/output error\n",
       2},
      {"flagRemove:3", first + second + "Error: cannot remove <flag file>\n  Input/output error\n",
       2},
  };
  for (const Case& c : cases) {
    writePackets();
    Started started = start({"-oout", "2:5020/999", "World"}, withFault(c.fault));
    RunOutput out = finish(started);
    std::string body = c.body;
    const std::string flagFile = ".pelorin-" + std::to_string(started.pid) + ".tmp";
    std::size_t at = body.find("<flag file>");
    if (at != std::string::npos) body.replace(at, 11, joined("out", flagFile));
    EXPECT_EQ(out.status, c.status) << c.fault;
    EXPECT_EQ(out.console, consoleOf(body)) << c.fault;
    RunOutput next = run({"-oout", "2:5020/999", "World"});
    EXPECT_EQ(next.status, 0) << c.fault;
    EXPECT_EQ(readFile("out/139c0001.out"), echoPacketRewritten(kHub)) << c.fault;
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out"})) << c.fault;
  }
}

TEST_F(BusyFlags, FlagThatCannotBeCreatedLeavesThePacketUntouched) {
  if (windowsTarget()) GTEST_SKIP() << "Wine runs as root, which may write any directory";
  writePackets();
  chmod(path("out/139c0001.out").c_str(), 0666);
  RunOutput out = runWithMode("out", 0555, {"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf("Error: cannot open " + joined("out", "139c0001.out") +
                                   "\n  Permission denied\n"));
  EXPECT_EQ(readFile("out/139c0001.out"), echoPacket(kHub));
}

}  // namespace
