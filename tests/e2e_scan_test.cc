// The scan of the outbound directory and the header rewrite, on real files.
#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "e2e_support.h"
#include "packet_builder.h"

namespace {

namespace fs = std::filesystem;

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
    writeFile(relative, packet(kOld, kHub, {}));
    std::string outbound = where.outbound;
    std::replace(outbound.begin(), outbound.end(), '/', separator());
    RunOptions options;
    options.environment = {std::string("LC_ALL=") + where.locale};
    RunOutput out = run({"-o" + outbound, "2:5020/999", "World"}, options);
    EXPECT_EQ(out.status, 0);
    const std::string shown = inTargetCodePage(outbound, where.codePage);
    EXPECT_EQ(out.console,
              text(std::string(kBanner) + "Working in \"" + shown + "\", From: 2:5020/999.0\n" +
                   joined(shown, inTargetCodePage(where.name, where.codePage)) +
                   " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 0\n\nDone.\n"));
    EXPECT_EQ(readFile(relative), rewritten(kHub, {}));
  }

  std::string packetPath(const std::string& name) { return joined("out", name); }

  std::string fromLine(const std::string& name, NodeAddress to, NodeAddress from) {
    return packetPath(name) + " to " + addressText(to) + " from " + addressText(from) + "\n";
  }
  std::string alreadyLine(const std::string& name, NodeAddress to, NodeAddress from) {
    return packetPath(name) + " to " + addressText(to) + " already from " + addressText(from) +
           "\n";
  }
  std::string console(const std::string& body) {
    return text(std::string(kBanner) + "Working in \"out\", From: 2:5020/999.0\n" + body);
  }
  // The packet as a run gives it: header origin and qualifying messages changed.
  std::string rewritten(NodeAddress dest, std::vector<TestMessage> messages) {
    for (TestMessage& m : messages) {
      if (m.origNet == static_cast<std::uint16_t>(kOld.net) &&
          m.origNode == static_cast<std::uint16_t>(kOld.node) && m.text.rfind("AREA:", 0) == 0) {
        m.origNet = static_cast<std::uint16_t>(kNew.net);
        m.origNode = static_cast<std::uint16_t>(kNew.node);
      }
    }
    return withHeaderOrigin(packet(kOld, dest, messages), kNew);
  }
  void setOldTime(const std::string& relative) {
    struct utimbuf times {1000000000, 1000000000};
    utime(path(relative).c_str(), &times);
  }
  long modificationTime(const std::string& relative) {
    struct stat status {};
    stat(path(relative).c_str(), &status);
    return static_cast<long>(status.st_mtime);
  }
};

TEST_F(OutboundScan, EmptyOutboundEndsNormally) {
  makeDirectory("out");
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, console("\nDone.\n"));
}

TEST_F(OutboundScan, FlavoursInAnyCaseAreHandledInNameOrder) {
  std::vector<TestMessage> none;
  for (const char* name : {"b.Dut", "0000FFFF.HUT", "0000ffff.out", "a.cut", "x.put", "x.gut",
                           "x.aut", "x.out.bak", "out", ".ut"}) {
    writeFile(std::string("out/") + name, packet(kOld, kHub, none));
  }
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1"});
  EXPECT_EQ(out.status, 0);
  std::string perPacket;
  for (const char* name : {"0000FFFF.HUT", "0000ffff.out", "a.cut", "b.Dut"}) {
    perPacket += fromLine(name, kHub, kOld) + "Changed Messages: 0\n";
  }
  EXPECT_EQ(out.console, console(perPacket + "\nDone.\n"));
  auto after = files();
  EXPECT_EQ(after["out/x.put"], packet(kOld, kHub, none));
  EXPECT_EQ(after["out/x.out.bak"], packet(kOld, kHub, none));
  EXPECT_EQ(after["out/a.cut"], rewritten(kHub, none));
}

TEST_F(OutboundScan, EntriesThatAreNotRegularFilesArePassedOver) {
  makeDirectory("out/dir.out");
  fs::create_symlink("nowhere", path("out/dangling.out"));
  writeFile("elsewhere.pkt", packet(kOld, kHub, {}));
  // Wine shows a POSIX FIFO or link as what it leads to, so these two are
  // for the POSIX build only. Opening a FIFO would wait for a writer; a link
  // named like a packet could make a run rewrite any file.
  if (!windowsTarget()) {
    ASSERT_EQ(mkfifo(path("out/fifo.out").c_str(), 0600), 0);
    fs::create_symlink("../elsewhere.pkt", path("out/linked.hut"));
  }
  writeFile("out/real.out", packet(kOld, kHub, {}));
  // The outbound itself may be reached through a link.
  fs::create_directory_symlink("out", path("link"));
  RunOutput out = run({"-olink", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            text(std::string(kBanner) + "Working in \"link\", From: 2:5020/999.0\n" +
                 joined("link", "real.out") + " to 2:5020/1.0 from 2:5020/100.0\n" +
                 "Changed Messages: 0\n\nDone.\n"));
  EXPECT_EQ(readFile("elsewhere.pkt"), packet(kOld, kHub, {}));
  EXPECT_EQ(readFile("out/real.out"), rewritten(kHub, {}));
}

TEST_F(OutboundScan, OutboundThatCannotBeListedIsAnError) {
  if (windowsTarget()) GTEST_SKIP() << "Wine runs as root, which may list any directory";
  writeFile("out/a.out", packet(kOld, kHub, {}));
  // Searchable and writable, but not readable, for everyone but root.
  chmod(path("out").c_str(), 0333);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  RunOutput out = run({"-oout", "-lrun.log", "2:5020/999", "World"}, asNobody);
  chmod(path("out").c_str(), 0755);
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, console("Error: cannot read out\n"));
  EXPECT_EQ(logWithoutTimes("run.log"),
            "\n  <time> PLRN Begin, Pelorin 1.10\n"
            "  <time> PLRN Working in \"out\", From: 2:5020/999.0\n"
            "  <time> PLRN Error: cannot read out\n");
  EXPECT_EQ(readFile("out/a.out"), packet(kOld, kHub, {}));
}

TEST_F(OutboundScan, UnlistedAndAlreadyChangedPacketsAreNeverWritten) {
  writeFile("out/a.out", packet(kOld, {2, 5020, 2, 0}, {echomail("A", 5020, 100, "x")}));
  writeFile("out/b.out", packet(kNew, kHub, {echomail("A", 5020, 100, "x")}));
  setOldTime("out/a.out");
  setOldTime("out/b.out");
  auto before = files();
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, console(alreadyLine("b.out", kHub, kNew) + "\nDone.\n"));
  EXPECT_EQ(files(), before);
  EXPECT_EQ(modificationTime("out/a.out"), 1000000000);
  EXPECT_EQ(modificationTime("out/b.out"), 1000000000);
}

TEST_F(OutboundScan, OriginDifferingOnlyInThePointIsRewritten) {
  NodeAddress point{2, 5020, 999, 4};
  writeFile("out/a.out", packet(point, kHub, {}));
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, console(fromLine("a.out", kHub, point) + "Changed Messages: 0\n\nDone.\n"));
}

TEST_F(OutboundScan, DestinationComesFromTheHeaderWithItsPoint) {
  NodeAddress pointDest{2, 5020, 1, 7};
  NodeAddress negative{2, 5020, -5, 0};
  writeFile("out/a.out", packet(kOld, pointDest, {}));
  writeFile("out/b.out", packet(kOld, negative, {}));
  writeFile("out/c.out", packet(kOld, {2, 5020, 1, 3}, {}));
  RunOutput out = run({"-oout", "2:5020/999", "2:5020/1.7", "-5"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, console(fromLine("a.out", pointDest, kOld) + "Changed Messages: 0\n" +
                                 fromLine("b.out", negative, kOld) + "Changed Messages: 0\n" +
                                 "\nDone.\n"));
}

TEST_F(OutboundScan, AsteriskReachesTheListUnexpanded) {
  NodeAddress nodeZero{2, 5020, 0, 0};
  writeFile("out/a.out", packet(kOld, nodeZero, {}));
  writeFile("5", "a file an expanded * would name");
  RunOutput out = run({"-oout", "2:5020/999", "*"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            console(fromLine("a.out", nodeZero, kOld) + "Changed Messages: 0\n\nDone.\n"));
}

TEST_F(OutboundScan, ShortFileStopsTheRunEvenWhenUnlisted) {
  writeFile("out/a.out", packet(kOld, kHub, {}));
  writeFile("out/b.out", std::string(57, '\0'));
  writeFile("out/c.out", packet(kOld, kHub, {}));
  RunOutput out = run({"-oout", "-lrun.log", "2:5020/999", "9:9/9"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, console("Error: cannot read " + packetPath("b.out") + "\n"));
  EXPECT_EQ(readFile("out/c.out"), packet(kOld, kHub, {}));
  EXPECT_EQ(logWithoutTimes("run.log"),
            text("\n  <time> PLRN Begin, Pelorin 1.10\n"
                 "  <time> PLRN Working in \"out\", From: 2:5020/999.0\n"
                 "  <time> PLRN Error: cannot read " + packetPath("b.out") + "\n"));
}

TEST_F(OutboundScan, EmptyFileCannotBeRead) {
  writeFile("out/a.out", "");
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, console("Error: cannot read " + packetPath("a.out") + "\n"));
  EXPECT_EQ(readFile("out/a.out"), "");
}

TEST_F(OutboundScan, PacketHeldByAMailerCannotBeOpened) {
  if (!windowsTarget()) GTEST_SKIP() << "POSIX locks are advisory; see ReadOnlyPacketCannotBeOpened";
  writeFile("out/a.out", packet(kOld, kHub, {}));
  writeFile("out/b.out", packet(kOld, kHub, {}));
  FileHolder mailer(path("out/a.out"));
  ASSERT_TRUE(mailer.held());
  RunOutput out = run({"-oout", "2:5020/999", "World"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, console("Error: cannot open " + packetPath("a.out") + "\n"));
  EXPECT_EQ(readFile("out/a.out"), packet(kOld, kHub, {}));
  EXPECT_EQ(readFile("out/b.out"), packet(kOld, kHub, {}));
}

TEST_F(OutboundScan, ReadOnlyPacketCannotBeOpened) {
  if (windowsTarget()) GTEST_SKIP() << "Wine run as root opens read-only files for writing";
  writeFile("out/a.out", packet(kOld, kHub, {}));
  chmod(path("out/a.out").c_str(), 0444);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  RunOutput out = run({"-oout", "2:5020/999", "World"}, asNobody);
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, console("Error: cannot open " + packetPath("a.out") + "\n"));
  EXPECT_EQ(readFile("out/a.out"), packet(kOld, kHub, {}));
}

TEST_F(OutboundScan, SecondRunFindsEverythingAlreadyDone) {
  std::vector<TestMessage> messages = {echomail("A", 5020, 100, "x"), netmail(5020, 100, "y")};
  writeFile("out/a.out", packet(kOld, kHub, messages));
  writeFile("out/b.hut", packet(kOld, {2, 5020, 2, 0}, messages));
  RunOutput first = run({"-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(first.status, 0);
  auto afterFirst = files();
  EXPECT_EQ(afterFirst["out/a.out"], rewritten(kHub, messages));
  RunOutput second = run({"-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.console, console(alreadyLine("a.out", kHub, kNew) +
                                    alreadyLine("b.hut", {2, 5020, 2, 0}, kNew) +
                                    "\nDone.\n"));
  EXPECT_EQ(files(), afterFirst);
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
    writeFile("root/a.out", packet(kOld, kHub, {}));
    RunOutput out = run({std::string("-o") + outbound, "2:5020/999", "World"});
    EXPECT_EQ(out.status, 0) << outbound;
    EXPECT_EQ(out.console,
              text(std::string(kBanner) + "Working in \"" + outbound + "\", From: 2:5020/999.0\n" +
                   packetPath + " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 0\n\nDone.\n"));
    EXPECT_EQ(readFile("root/a.out"), rewritten(kHub, {})) << outbound;
  }
  fs::remove(drive);
}

TEST_F(OutboundScan, OutboundWithTrailingSeparatorDoublesItInPaths) {
  writeFile("out/a.out", packet(kOld, kHub, {}));
  std::string dir = std::string("out") + separator();
  RunOutput out = run({"-o" + dir, "2:5020/999", "World"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console,
            text(std::string(kBanner) + "Working in \"" + dir + "\", From: 2:5020/999.0\n" +
                 dir + separator() + "a.out to 2:5020/1.0 from 2:5020/100.0\n" +
                 "Changed Messages: 0\n\nDone.\n"));
}

}  // namespace
