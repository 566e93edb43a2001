// The scan of the outbound directory and the header rewrite, on real files.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

// An empty packet from kOld to kHub, before and after a run.
const std::string kEmpty = packet(kOld, kHub, {});
const std::string kEmptyChanged = withHeaderOrigin(kEmpty, kNew);
const std::string kNoChange = "Changed Messages: 0\n";

// An outbound and a packet name as a sysop writes them, with the Unix locale
// under which Wine gives the Windows build the ANSI code page named.
struct OutboundPath {
  std::string outbound;  // UTF-8, folders separated by '/'
  std::string name;
  const char* locale;
  const char* codePage;
};

class OutboundScan : public EndToEnd {
 protected:
  // A packet in that outbound, given as written on the command line, is
  // found, opened and changed, and reported under its name as received.
  void expectHandledIn(const OutboundPath& where) {
    const std::string relative = where.outbound + "/" + where.name;
    writeFile(relative, kEmpty);
    std::string outbound = where.outbound;
    std::replace(outbound.begin(), outbound.end(), '/', separator());
    RunOptions options;
    options.environment = {std::string("LC_ALL=") + where.locale};
    RunOutput out = run({"-o" + outbound, "2:5020/999", "World"}, options);
    EXPECT_EQ(out.status, 0);
    const std::string shown = inTargetCodePage(outbound, where.codePage);
    const std::string name = inTargetCodePage(where.name, where.codePage);
    EXPECT_EQ(out.console,
              consoleOf(done(fromLine(name, kHub, kOld, shown) + kNoChange), shown));
    EXPECT_EQ(readFile(relative), kEmptyChanged);
  }
  static std::string alreadyLine(const std::string& name, NodeAddress to) {
    return joined("out", name) + " to " + addressText(to) + " already from " +
           addressText(kNew) + "\n";
  }
};

TEST_F(OutboundScan, FlavoursInAnyCaseAreHandledInNameOrder) {
  for (const char* name : {"b.Dut", "0000FFFF.HUT", "0000ffff.out", "a.cut", "x.put", "x.out.bak"}) {
    writeFile(std::string("out/") + name, kEmpty);
  }
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1"});
  EXPECT_EQ(out.status, 0);
  std::string perPacket;
  for (const char* name : {"0000FFFF.HUT", "0000ffff.out", "a.cut", "b.Dut"}) {
    perPacket += fromLine(name) + kNoChange;
  }
  EXPECT_EQ(out.console, consoleOf(done(perPacket)));
  EXPECT_EQ(readFile("out/x.put"), kEmpty);
  EXPECT_EQ(readFile("out/a.cut"), kEmptyChanged);
}

TEST_F(OutboundScan, EntriesThatAreNotRegularFilesArePassedOver) {
  makeDirectory("out/dir.out");
  fs::create_symlink("nowhere", path("out/dangling.out"));
  writeFile("elsewhere.pkt", kEmpty);
  // Wine shows a POSIX FIFO or link as what it leads to, so these two are
  // for the POSIX build only. Opening a FIFO would wait for a writer; a link
  // named like a packet could make a run rewrite any file.
  if (!windowsTarget()) {
    ASSERT_EQ(mkfifo(path("out/fifo.out").c_str(), 0600), 0);
    fs::create_symlink("../elsewhere.pkt", path("out/linked.hut"));
  }
  writeFile("out/real.out", kEmpty);
  // The outbound itself may be reached through a link.
  fs::create_directory_symlink("out", path("link"));
  RunOutput out = run({"-olink", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            consoleOf(done(fromLine("real.out", kHub, kOld, "link") + kNoChange), "link"));
  EXPECT_EQ(readFile("elsewhere.pkt"), kEmpty);
  EXPECT_EQ(readFile("out/real.out"), kEmptyChanged);
}

TEST_F(OutboundScan, OutboundThatCannotBeListedIsAnError) {
  if (windowsTarget()) GTEST_SKIP() << "Wine runs as root, which may list any directory";
  writeFile("out/a.out", kEmpty);
  // Searchable and writable, but not readable, for everyone but root.
  RunOutput out = runWithMode("out", 0333, {"-oout", "-lrun.log", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf("Error: cannot read out\n  Permission denied\n"));
  EXPECT_EQ(logWithoutTimes("run.log"),
            logOf({"Working in \"out\", From: 2:5020/999.0", "Error: cannot read out",
                   "  Permission denied"},
                  false));
  EXPECT_EQ(readFile("out/a.out"), kEmpty);
}

TEST_F(OutboundScan, OnlyListedPacketsFromAnotherOriginAreWritten) {
  const NodeAddress otherPoint{2, 5020, 999, 4};
  writeFile("out/a.out", packet(kOld, {2, 5020, 2, 0}, {echomail("A", 5020, 100, "x")}));
  writeFile("out/b.out", packet(kNew, kHub, {echomail("A", 5020, 100, "x")}));
  writeFile("out/c.out", packet(otherPoint, kHub, {}));
  setOldTime("out/a.out");
  setOldTime("out/b.out");
  auto before = files();
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1"});
  EXPECT_EQ(out.status, 0);
  // An origin that differs in the point only is another origin.
  EXPECT_EQ(out.console, consoleOf(done(alreadyLine("b.out", kHub) + fromLine("c.out", kHub, otherPoint) +
                                   kNoChange)));
  EXPECT_EQ(readFile("out/a.out"), before["out/a.out"]);
  EXPECT_EQ(readFile("out/b.out"), before["out/b.out"]);
  EXPECT_EQ(modificationTime("out/a.out"), 1000000000);
  EXPECT_EQ(modificationTime("out/b.out"), 1000000000);
}

TEST_F(OutboundScan, DestinationComesFromTheHeaderWithItsPoint) {
  NodeAddress pointDest{2, 5020, 1, 7};
  NodeAddress negative{2, 5020, -5, 0};
  writeFile("out/a.out", packet(kOld, pointDest, {}));
  writeFile("out/b.out", packet(kOld, negative, {}));
  writeFile("out/c.out", packet(kOld, {2, 5020, 1, 3}, {}));
  // 65531 is written -5, as the header's word reads as a signed number.
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1.7", "65531"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(fromLine("a.out", pointDest) + kNoChange +
                                   fromLine("b.out", negative) + kNoChange)));
}

TEST_F(OutboundScan, AsteriskReachesTheListUnexpanded) {
  makeDirectory("out");
  writeFile("5", "a file an expanded * would name, a destination");
  RunOutput out = run({"-oout", "2:5020/999", "*"});
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.console, text(std::string(kBanner) + "Not a destination: *\n" + kUsage));
}

TEST_F(OutboundScan, ShortFileStopsTheRunUnlessAnotherProgramFlagsItsNode) {
  const std::string failure =
      "Error: cannot read " + joined("out", "b.out") + "\n  57 bytes, shorter than a packet header";
  const std::string busy = joined("out", "b.out") + " busy, left for the next run";
  struct Case {
    std::string flag;     // a flag of b.out's node in the outbound from the start
    std::string command;  // or one that a tosser makes as b.out's header is read
    std::string line;
    int status;
  };
  const Case cases[] = {
      {"", "", failure, 2},  // even when unlisted
      {"out/b.bsy", "", busy, 3},  // a tosser still writing it
      {"out/B.CSY", "", busy, 3},
      {"", "echo 999 > out/B.BSY", busy, 3},
  };
  for (const Case& c : cases) {
    if (!c.command.empty() && windowsTarget()) continue;  // the fault hooks are POSIX
    fs::remove_all(path("out"));
    fs::remove(path("run.log"));
    writeFile("out/a.out", kEmpty);
    writeFile("out/b.out", std::string(57, '\0'));
    writeFile("out/c.out", kEmpty);
    if (!c.flag.empty()) writeFile(c.flag, "999\n");
    RunOptions options;
    if (!c.command.empty()) {
      options = withFault("headerRead:2:run");
      options.environment.push_back("PELORIN_FAULT_COMMAND=" + c.command);
    }
    RunOutput out = run({"-oout", "-lrun.log", "2:5020/999", "9:9/9"}, options);
    EXPECT_EQ(out.status, c.status) << c.line;
    const bool stopped = c.status == 2;
    const std::string body = c.line + "\n";
    EXPECT_EQ(out.console, consoleOf(stopped ? body : done(body))) << c.line;
    EXPECT_EQ(readFile("out/b.out"), std::string(57, '\0'));
    std::vector<std::string> logged = {"Working in \"out\", From: 2:5020/999.0"};
    std::istringstream lines(stopped ? body : body + summary(body));
    for (std::string line; std::getline(lines, line);) logged.push_back(line);
    EXPECT_EQ(logWithoutTimes("run.log"), logOf(logged, !stopped));
  }
}

TEST_F(OutboundScan, PacketHeldOpenByAMailerIsBusyAndTheRestIsRewritten) {
  if (!windowsTarget()) GTEST_SKIP() << "POSIX locks are advisory; see ReadOnlyPacketCannotBeOpened";
  writeFile("out/a.out", kEmpty);
  writeFile("out/b.out", kEmpty);
  FileHolder mailer(path("out/a.out"));
  ASSERT_TRUE(mailer.held());
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 3);
  EXPECT_EQ(out.console, consoleOf(done(joined("out", "a.out") + " busy, left for the next run\n" +
                                   fromLine("b.out") + kNoChange)));
  EXPECT_EQ(readFile("out/a.out"), kEmpty);
  EXPECT_EQ(readFile("out/b.out"), kEmptyChanged);
}

TEST_F(OutboundScan, ReadOnlyPacketCannotBeOpened) {
  if (windowsTarget()) GTEST_SKIP() << "Wine run as root opens read-only files for writing";
  writeFile("out/a.out", kEmpty);
  RunOutput out = runWithMode("out/a.out", 0444, {"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf("Error: cannot open out/a.out\n  Permission denied\n"));
  EXPECT_EQ(readFile("out/a.out"), kEmpty);
}

TEST_F(OutboundScan, SecondRunFindsEverythingAlreadyDone) {
  TestMessage echo = echomail("A", 5020, 100, "x");
  TestMessage mail = netmail(5020, 100, "y");
  TestMessage echoChanged = echo;
  echoChanged.origNode = 999;
  writeFile("out/a.out", packet(kOld, kHub, {echo, mail}));
  writeFile("out/b.hut", packet(kOld, {2, 5020, 2, 0}, {echo, mail}));
  RunOutput first = run({"-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(first.status, 0);
  auto afterFirst = files();
  EXPECT_EQ(afterFirst["out/a.out"], withHeaderOrigin(packet(kOld, kHub, {echoChanged, mail}), kNew));
  RunOutput second = run({"-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.console, consoleOf(done(alreadyLine("a.out", kHub) +
                                      alreadyLine("b.hut", {2, 5020, 2, 0}))));
  EXPECT_EQ(files(), afterFirst);
}

TEST_F(OutboundScan, OutboundWithTrailingSeparatorDoublesItInPaths) {
  writeFile("out/a.out", kEmpty);
  std::string dir = std::string("out") + separator();
  RunOutput out = run({"-o" + dir, "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(fromLine("a.out", kHub, kOld, dir) + kNoChange), dir));
}

TEST_F(OutboundScan, TreeRunTakesPointDirectoriesAndZoneOutboundsInOrder) {
  TestMessage echo = echomail("A", 5020, 100, "x");
  TestMessage changed = echo;
  changed.origNode = 999;
  auto original = [&](NodeAddress to) { return packet(kOld, to, {echo}); };
  auto rewritten = [&](NodeAddress to) {
    return withHeaderOrigin(packet(kOld, to, {changed}), kNew);
  };
  struct Packet {
    std::string file;
    NodeAddress to;
    bool walked;  // in the tree, and not busy
  };
  const std::string point = std::string("139c0001.pnt") + separator();
  const std::string pointOfZone = std::string("01f40002.pnt") + separator();
  const Packet packets[] = {
      {"out/139c0001.out", kHub, true},
      {"out/139c0001.pnt/00000001.out", {2, 5020, 1, 1}, true},
      {"out/139c0001.pnt/00000002.hut", {2, 5020, 1, 2}, false},  // its .bsy is there
      {"out.001/01f40002.out", {1, 500, 2, 0}, true},
      {"out.001/01f40002.pnt/0000000a.out", {1, 500, 2, 10}, true},
      {"out.0ff/00010001.cut", {255, 1, 1, 0}, true},
      {"out.01/00010001.out", {1, 1, 1, 0}, false},  // no zone outbound
      {"out/139c0003.pnt", {2, 5020, 3, 1}, false},  // a file named like a point directory
  };
  // Given with a trailing separator, which the packets' paths keep doubled.
  const std::string outbound = std::string("out") + separator();
  const std::string body =
      fromLine("139c0001.out", kHub, kOld, outbound) + "Changed Messages: 1\n" +
      fromLine(point + "00000001.out", {2, 5020, 1, 1}, kOld, outbound) + "Changed Messages: 1\n" +
      joined(outbound, point + "00000002.hut") + " busy, left for the next run\n" +
      fromLine("01f40002.out", {1, 500, 2, 0}, kOld, "out.001") + "Changed Messages: 1\n" +
      fromLine(pointOfZone + "0000000a.out", {1, 500, 2, 10}, kOld, "out.001") +
      "Changed Messages: 1\n" + fromLine("00010001.cut", {255, 1, 1, 0}, kOld, "out.0ff") +
      "Changed Messages: 1\n";
  for (const bool preview : {true, false}) {
    for (const Packet& p : packets) writeFile(p.file, original(p.to));
    writeFile("out/139c0001.pnt/00000002.bsy", "12345\n");
    const auto before = files();
    std::vector<std::string> arguments = {"-r", "-o" + outbound, "-lrun.log", "2:5020/999",
                                          "World"};
    if (preview) arguments.insert(arguments.begin(), "-n");
    RunOutput out = run(arguments);
    EXPECT_EQ(out.status, 3) << preview;
    const std::string selection = preview ? "Destination \"World\" selects World\n" : "";
    EXPECT_EQ(out.console, consoleOf(selection + (preview ? previewDone(body) : done(body)), outbound))
        << preview;
    if (preview) {
      EXPECT_EQ(files(), before);
      continue;
    }
    std::vector<std::string> logged = {"Working in \"" + outbound + "\", From: 2:5020/999.0"};
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) logged.push_back(line);
    logged.push_back(summary(body));
    EXPECT_EQ(logWithoutTimes("run.log"), logOf(logged, true));
    auto expected = before;
    for (const Packet& p : packets) {
      if (p.walked) expected[p.file] = rewritten(p.to);
    }
    expected["run.log"] = readFile("run.log");
    EXPECT_EQ(files(), expected);
  }
}

TEST_F(OutboundScan, NonAsciiAndLongPathsWork) {
  const std::string deep = "long/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                           std::string(100, 'c');
  const OutboundPath paths[] = {
      {"out", "\u00E9t\u00E9.out", "C.UTF-8", "CP1252"},
      {"Out\u20AC", "\u00E9t\u00E9.out", "C.UTF-8", "CP1252"},
      {deep, "a.out", "C.UTF-8", "CP1252"},  // longer than MAX_PATH in full
  };
  for (const OutboundPath& where : paths) expectHandledIn(where);
}

TEST_F(OutboundScan, CyrillicOutboundInCodePage1251) {
  if (windowsTarget() && !localeExists("ru_RU.UTF-8")) {
    GTEST_SKIP() << "no ru_RU.UTF-8 locale for Wine to take code page 1251 from "
                    "(localedef -i ru_RU -f UTF-8 ru_RU.UTF-8)";
  }
  expectHandledIn({"\u0424\u0438\u0434\u043E/Outbound", "\u043F\u0430\u043A\u0435\u0442.out",
                   "ru_RU.UTF-8", "CP1251"});
}

TEST_F(OutboundScan, DriveRootIsAnOutbound) {
  if (!windowsTarget()) GTEST_SKIP() << "drive letters are a Windows matter";
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr) GTEST_SKIP() << "no WINEPREFIX in which to map a drive";
  // O: for the folder "root", as `subst O: root` would make it.
  const fs::path drive = fs::path(prefix) / "dosdevices" / "o:";
  fs::remove(drive);
  fs::create_directory_symlink(path("root"), drive);
  // "O:" alone is the drive's current directory, its root here.
  const std::pair<const char*, const char*> outbounds[] = {{"O:\\", "O:\\\\a.out"},
                                                           {"O:", "O:a.out"}};
  for (const auto& [outbound, packetPath] : outbounds) {
    writeFile("root/a.out", kEmpty);
    RunOutput out = run({std::string("-o") + outbound, "2:5020/999", "World"});
    EXPECT_EQ(out.status, 0) << outbound;
    EXPECT_EQ(out.console,
              consoleOf(done(std::string(packetPath) + " to 2:5020/1.0 from 2:5020/100.0\n" +
                             kNoChange),
                        outbound));
    EXPECT_EQ(readFile("root/a.out"), kEmptyChanged) << outbound;
  }
  fs::remove(drive);
}

}  // namespace
