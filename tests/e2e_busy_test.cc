// Busy flags on real files: a run keeps off the nodes another program has,
// takes the flag of each node it rewrites, and leaves no file of its own.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

const NodeAddress kSecond{2, 5020, 2, 0};  // the node of 139c0002.out
const char* const kPosixOnly = "the fault hooks and signals are POSIX matters";

std::string original(const NodeAddress& to) {
  return packet(kOld, to, {echomail("A", 5020, 100, "x")});
}

std::string rewritten(const NodeAddress& to) {
  TestMessage changed = echomail("A", 5020, 100, "x");
  changed.origNode = 999;
  return withHeaderOrigin(packet(kOld, to, {changed}), kNew);
}

class BusyFlags : public EndToEnd {
 protected:
  void writePackets() {
    std::error_code ignored;
    fs::remove_all(path("out"), ignored);
    fs::remove(path("run.log"), ignored);
    writeFile("out/139c0001.out", original(kHub));
    writeFile("out/139c0002.out", original(kSecond));
  }
  RunOutput runOnAll(const RunOptions& options = {}) {
    return run({"-oout", "-lrun.log", "2:5020/999", "World"}, options);
  }
  static std::string busyLine(const std::string& name) {
    return joined("out", name) + " busy, left for the next run\n";
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
    EXPECT_EQ(out.console, consoleOf(busyLine("139c0001.out") + from +
                                     "Changed Messages: 1\n\nDone.\n"))
        << flag.name;
    EXPECT_EQ(logWithoutTimes("run.log"),
              logOf({"Working in \"out\", From: 2:5020/999.0",
                     joined("out", "139c0001.out") + " busy, left for the next run",
                     from.substr(0, from.size() - 1), "Changed Messages: 1"},
                    true))
        << flag.name;
    EXPECT_EQ(readFile("out/139c0001.out"), original(kHub)) << flag.name;
    EXPECT_EQ(readFile("out/139c0002.out"), rewritten(kSecond)) << flag.name;
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out", flag.name}))
        << flag.name;
    if (flag.kind == Kind::File) {
      EXPECT_EQ(readFile(relative), flag.content) << flag.name;
    }
    if (flag.kind != Kind::DanglingLink) {
      EXPECT_EQ(modificationTime(relative), 1000000000) << flag.name;
    }
  }
}

TEST_F(BusyFlags, WhatDeadRunsLeftIsTakenOverOrRemoved) {
  writeFile("out/139c0001.out", original(kHub));
  writeFile("out/139c0001.bsy", "999999 pelorin\n");
  writeFile("out/139c0002.out", rewritten(kSecond));
  writeFile("out/139c0002.bsy", "999998 pelorin\n");
  writeFile("out/.pelorin-999997.tmp", "");
  writeFile("out/.pelorin-999996.tmp", "999996 pelorin\n");
  RunOutput out = runOnAll();
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            consoleOf(fromLine("139c0001.out") + "Changed Messages: 1\n" +
                      joined("out", "139c0002.out") + " to 2:5020/2.0 already from 2:5020/999.0\n" +
                      "\nDone.\n"));
  EXPECT_EQ(readFile("out/139c0001.out"), rewritten(kHub));
  EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out"}));
}

TEST_F(BusyFlags, RunHoldsItsFlagInLowerCaseWithItsProcessId) {
  if (windowsTarget()) GTEST_SKIP() << kPosixOnly;
  writeFile("out/139C0001.OUT", original(kHub));
  // The packet is read again, whole, under the flag.
  Started first = start({"-oout", "2:5020/999", "World"}, withFault("areaRead:1:pause"));
  ASSERT_TRUE(appears("out/139c0001.bsy"));
  EXPECT_EQ(readFile("out/139c0001.bsy"), std::to_string(first.pid) + " pelorin\n");
  RunOutput second = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(second.status, 3);
  EXPECT_EQ(second.console, consoleOf(busyLine("139C0001.OUT") + "\nDone.\n"));
  RunOutput firstOut = finish(first);
  EXPECT_EQ(firstOut.status, 0);
  EXPECT_EQ(readFile("out/139C0001.OUT"), rewritten(kHub));
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
      {"areaRead:1:pause", SIGTERM, original(kHub)},
      {"areaRead:1:pause", SIGHUP, original(kHub)},
      // In the middle of the writes the signal waits for the header.
      {"areaWrite:1:pause", SIGINT, rewritten(kHub)},
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
  const std::string cannotOpen = "Error: cannot open " + joined("out", "139c0001.out") + "\n";
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
      {"flagRemove:1", first + "Error: cannot remove " + joined("out", "139c0001.bsy") + "\n", 2},
      {"flagRemove:3", first + second + "Error: cannot remove <flag file>\n", 2},
      // Without hard links each flag is written under its own name.
      {"flagLink:1:nolinks", first + second + "\nDone.\n", 0},
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
    EXPECT_EQ(readFile("out/139c0001.out"), rewritten(kHub)) << c.fault;
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"139c0001.out", "139c0002.out"})) << c.fault;
  }
}

TEST_F(BusyFlags, FlagThatCannotBeCreatedLeavesThePacketUntouched) {
  if (windowsTarget()) GTEST_SKIP() << "Wine runs as root, which may write any directory";
  writePackets();
  chmod(path("out/139c0001.out").c_str(), 0666);
  RunOutput out = runWithMode("out", 0555, {"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf("Error: cannot open " + joined("out", "139c0001.out") + "\n"));
  EXPECT_EQ(readFile("out/139c0001.out"), original(kHub));
}

}  // namespace
