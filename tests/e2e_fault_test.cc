// Failures of the machine rather than of the input, through the fault points
// of pelorin_faulty: reads, writes, closes and listings that fail, entries
// swapped under the run, kills in the middle of the work; then a failed
// allocation and two runs on one status log at once. Each keeps its message
// and exit status, and no packet is left damaged.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "e2e_support.h"

namespace {

// The reason the fault hooks' failures give.
const std::string kEio = "  Input/output error\n";

class MachineFaults : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (windowsTarget()) GTEST_SKIP() << "the fault hooks wrap the POSIX platform layer";
  }
  std::vector<TestMessage> messages() {
    return {echomail("A", 5020, 100, "one"), netmail(5020, 100, "two"),
            echomail("B", 5020, 100, "three")};
  }
  std::string original() { return packet(kOld, kHub, messages()); }
  std::string finished() {
    std::vector<TestMessage> changed = messages();
    for (std::size_t i : {0, 2}) {
      changed[i].origNet = 5020;
      changed[i].origNode = 999;
    }
    return withHeaderOrigin(packet(kOld, kHub, changed), kNew);
  }
  RunOutput runWithFault(const std::string& fault, std::vector<std::string> switches = {}) {
    switches.insert(switches.end(), {"-oout", "2:5020/999", "World"});
    return run(switches, withFault(fault));
  }
};

TEST_F(MachineFaults, FailingReadOrFirstWriteLeavesThePacketUntouched) {
  const std::string inError = fromLine("a.out") + "Error in out/a.out\n" + kEio;
  const std::pair<const char*, std::string> cases[] = {
      {"headerRead:1", "Error: cannot read out/a.out\n" + kEio},
      {"areaRead:1", inError},
      {"areaRead:1:short", inError},
      {"areaWrite:1", inError},
  };
  for (const auto& [fault, body] : cases) {
    writeFile("out/a.out", original());
    RunOutput out = runWithFault(fault);
    EXPECT_EQ(out.status, 2) << fault;
    EXPECT_EQ(out.console, consoleOf(body)) << fault;
    EXPECT_EQ(readFile("out/a.out"), original()) << fault;
  }
}

TEST_F(MachineFaults, WriteStoppedHalfWayIsCompletedByTheNextRun) {
  for (const char* fault : {"areaWrite:1:short", "headerWrite:1"}) {
    writeFile("out/a.out", original());
    RunOutput out = runWithFault(fault);
    EXPECT_EQ(out.status, 2) << fault;
    EXPECT_EQ(out.console, consoleOf(fromLine("a.out") + "Error in out/a.out\n" + kEio)) << fault;
    // The header still names the old origin, so the next run takes the packet up again.
    EXPECT_EQ(readFile("out/a.out").substr(0, 58), original().substr(0, 58)) << fault;
    RunOutput again = run({"-oout", "2:5020/999", "World"});
    EXPECT_EQ(again.status, 0) << fault;
    EXPECT_EQ(readFile("out/a.out"), finished()) << fault;
  }
}

TEST_F(MachineFaults, TornHeaderWriteKeepsEveryByteOldOrNew) {
  // The file system stops half way through the header: the area is complete,
  // and each header byte is either what it was or what it was to become.
  writeFile("out/a.out", original());
  RunOutput out = runWithFault("headerWrite:1:short");
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf(fromLine("a.out") + "Error in out/a.out\n" + kEio));
  std::string torn = readFile("out/a.out");
  EXPECT_EQ(torn.substr(58), finished().substr(58));
  EXPECT_EQ(torn.substr(0, 29), finished().substr(0, 29));
  EXPECT_EQ(torn.substr(29, 29), original().substr(29, 29));
}

TEST_F(MachineFaults, FailingCloseIsReportedAfterTheWork) {
  writeFile("out/a.out", original());
  RunOutput out = runWithFault("packetClose:1");
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console,
            consoleOf(fromLine("a.out") + "Changed Messages: 2\nError: cannot close out/a.out\n" +
                      kEio));
  EXPECT_EQ(readFile("out/a.out"), finished());
}

TEST_F(MachineFaults, PacketSwappedAfterTheListingIsPassedOver) {
  // The link would lead to victim.out, beside the outbound; a packet that
  // is gone was sent by the mailer.
  for (const char* swap : {"packetOpen:1:fifo", "packetOpen:1:link", "packetOpen:1:gone"}) {
    std::filesystem::remove(path("out/a.out"));
    writeFile("out/a.out", original());
    writeFile("out/b.out", original());
    writeFile("victim.out", original());
    RunOutput out = runWithFault(swap);
    EXPECT_EQ(out.status, 0) << swap;
    EXPECT_EQ(out.console, consoleOf(done(fromLine("b.out") + "Changed Messages: 2\n"))) << swap;
    EXPECT_EQ(readFile("victim.out"), original()) << swap;
    EXPECT_EQ(readFile("out/b.out"), finished()) << swap;
  }
}

TEST_F(MachineFaults, ListingThatFailsPartWayIsAnError) {
  for (const char* fault : {"listing:1", "listing:3"}) {
    writeFile("out/a.out", original());
    writeFile("out/b.out", original());
    RunOutput out = runWithFault(fault);
    EXPECT_EQ(out.status, 2) << fault;
    EXPECT_EQ(out.console, consoleOf("Error: cannot read out\n" + kEio)) << fault;
    EXPECT_EQ(readFile("out/a.out"), original()) << fault;
  }
}

TEST_F(MachineFaults, LogWriteFailingPartWayIsReportedOnceAndTheWorkGoesOn) {
  writeFile("out/a.out", original());
  writeFile("out/b.out", original());
  // Writes to the log: the bare line end, "Begin", then "Working in".
  RunOutput out = runWithFault("logWrite:3", {"-lrun.log"});
  EXPECT_EQ(out.status, 4);
  EXPECT_EQ(out.console, text(std::string(kBanner) + "Working in \"out\", From: 2:5020/999.0\n" +
                              "\nError writing run.log !\n" + kEio + "\n" +
                              done(fromLine("a.out") + "Changed Messages: 2\n" + fromLine("b.out") +
                                   "Changed Messages: 2\n")));
  EXPECT_EQ(logWithoutTimes("run.log"), "\n  <time> PLRN Begin, Pelorin 1.10\n");
  EXPECT_EQ(readFile("out/a.out"), finished());
  EXPECT_EQ(readFile("out/b.out"), finished());
}

// A netmail message of exactly `size` bytes, at least kShortestFiller.
std::string filler(std::size_t size) {
  TestMessage m = netmail(5020, 100, "");
  m.text.clear();
  const std::size_t shortest = packedMessage(m).size();
  m.text = std::string(size - shortest, 'x');
  return packedMessage(m);
}
constexpr std::size_t kShortestFiller = 64;

// A packet whose messages put their origin fields across page boundaries
// at every offset: for each j from 1 to 8, one changed and one unchanged
// message begin j bytes before a boundary, with netmail between them.
std::string straddlingPacket(std::size_t page, NodeAddress destination) {
  std::string bytes = packetHeader(kOld, destination);
  int serial = 0;
  for (std::size_t j = 1; j <= 8; ++j) {
    for (std::uint16_t node : {100, 55}) {
      std::size_t start = ((bytes.size() + kShortestFiller) / page + 1) * page - j;
      bytes += filler(start - bytes.size());
      TestMessage m = echomail("A", 5020, node, "message " + std::to_string(++serial));
      if (serial % 4 == 1) m.text.replace(0, 5, "area:");
      bytes += packedMessage(m);
    }
  }
  return bytes + std::string(2, '\0');
}

// Two packets for two nodes, whose messages put their origin fields across
// page boundaries at every offset, as a kill loop starts from them.
class KillLoop : public MachineFaults {
 protected:
  void SetUp() override {
    MachineFaults::SetUp();
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    original_ = {{"out/a.out", straddlingPacket(page, kHub)},
                 {"out/b.hut", straddlingPacket(page, {2, 5020, 2, 0})}};
  }
  void restore() {
    std::filesystem::remove_all(path("out"));
    for (const auto& [name, bytes] : original_) writeFile(name, bytes);
  }
  // What one clean run makes of the packets.
  void runClean(const std::vector<std::string>& arguments) {
    restore();
    ASSERT_EQ(run(arguments).status, 0);
    clean_ = files();
  }
  // Runs the fault build with this kill (or failing write, which must stop
  // the run with its node's flag kept) from the original files, on a file
  // system lacking the means named (see fault_wrap.cc); when it was
  // stopped, a normal run must leave every file as the clean run did. False
  // when the run was not stopped: there is no such call.
  bool killedAndRepaired(const std::vector<std::string>& arguments, const std::string& fault,
                         const std::string& fileSystem = "") {
    restore();
    RunOptions options = withFault(fault);
    options.environment.push_back("PELORIN_FS=" + fileSystem);
    const int status = run(arguments, options).status;
    if (status == 0) return false;
    const bool failed = fault.find(":fail") != std::string::npos;
    EXPECT_EQ(status, failed ? 2 : -1) << fault;
    if (failed) {
      EXPECT_TRUE(std::filesystem::exists(path("out/a.bsy")) ||
                  std::filesystem::exists(path("out/b.bsy")))
          << fault;
    }
    // A bundle is replaced whole or not at all.
    for (const auto& [name, bytes] : original_) {
      const std::string now = readFile(name);
      if (name.find(".mo0") != std::string::npos) {
        EXPECT_TRUE(now == bytes || now == clean_[name]) << name << ", killed at " << fault;
      }
    }
    RunOutput repair = run(arguments, fileSystem.empty() ? RunOptions{} : fsOnly(fileSystem));
    if (repair.status == 3 && emptyFlagLeft()) {
      // Only where a flag is created in place: killed between its create
      // and the write of its line. The sysop removes it.
      EXPECT_EQ(fileSystem, "nolinks,norename") << fault;
      ++emptyFlagsLeft_;
      repair = run(arguments, fileSystem.empty() ? RunOptions{} : fsOnly(fileSystem));
    }
    EXPECT_EQ(repair.status, 0) << fault;
    EXPECT_EQ(files(), clean_) << fileSystem << ", killed at " << fault;
    return true;
  }
  // Kills before every call that takes, reads or removes a flag; gives the
  // number of kills.
  int killAtEveryFlagCall(const std::vector<std::string>& arguments,
                          const std::string& fileSystem = "") {
    int kills = 0;
    for (const char* point : {"flagCreate", "flagWrite", "flagLink", "flagOpen", "flagRemove"}) {
      for (int n = 1; killedAndRepaired(arguments, point + (":" + std::to_string(n)) + ":kill",
                                        fileSystem);
           ++n) {
        ++kills;
      }
    }
    return kills;
  }
  static RunOptions fsOnly(const std::string& fileSystem) {
    RunOptions options = withFault("none:0");
    options.environment.push_back("PELORIN_FS=" + fileSystem);
    return options;
  }
  // Removes an empty flag of ours, if one is left; true when one was.
  bool emptyFlagLeft() {
    bool left = false;
    for (const char* flag : {"out/a.bsy", "out/b.bsy"}) {
      if (std::filesystem::exists(path(flag)) && readFile(flag).empty()) {
        std::filesystem::remove(path(flag));
        left = true;
      }
    }
    return left;
  }
  std::map<std::string, std::string> original_;
  std::map<std::string, std::string> clean_;
  int emptyFlagsLeft_ = 0;
};

TEST_F(KillLoop, KillAtAnyWriteOrPageBoundaryLeavesEveryMessageWhole) {
  // A move within the net changes the node only; across nets, both words.
  for (const char* newOrigin : {"2:5020/999", "2:463/999"}) {
    const std::vector<std::string> arguments = {"-oout", newOrigin, "World"};
    runClean(arguments);
    int killed = 0;
    // Kill before the n-th packet write (k = 0), or at its k-th page boundary.
    for (int n = 1;; ++n) {
      int k = 0;
      while (killedAndRepaired(arguments, "packetWrite:" + std::to_string(n) +
                                              (k == 0 ? ":kill" : ":cut" + std::to_string(k)))) {
        ++killed;
        ++k;
      }
      if (k == 0) break;
    }
    // Per packet: the span, killed before it and at each of the 13 page
    // boundaries inside it; the 5 straddling messages alone; the header.
    EXPECT_EQ(killed, 40) << newOrigin;
    int failed = 0;
    while (killedAndRepaired(arguments, "packetWrite:" + std::to_string(failed + 1) + ":fail")) {
      ++failed;
    }
    EXPECT_EQ(failed, 14) << newOrigin;
    // The flag file is created and written once; each of the two nodes'
    // flags is linked and removed, then the flag file is removed.
    EXPECT_EQ(killAtEveryFlagCall(arguments), 7) << newOrigin;
  }
}

TEST_F(KillLoop, KillAtAnyWriteOfANewBundleLeavesTheOldOneWhole) {
  writeFile("pkt/a.pkt", original_["out/a.out"]);
  writeFile("pkt/b.pkt", original_["out/b.hut"]);
  original_["out/00000001.mo0"] = infoZip(path("pkt"), "-9", "a.pkt b.pkt");
  if (original_["out/00000001.mo0"].empty()) GTEST_SKIP() << "no Info-ZIP (Debian: zip, unzip)";
  original_["out/00000001.flo"] = "^out/00000001.mo0\n";
  const std::vector<std::string> arguments = {"-b", "-oout", "2:5020/999", "World"};
  runClean(arguments);
  int kills = 0;
  for (const char* point : {"bundleWrite", "bundleRename"}) {
    for (int n = 1; killedAndRepaired(arguments, point + (":" + std::to_string(n)) + ":kill"); ++n) {
      ++kills;
    }
  }
  // Each member's header, data and header again; the directory, the end.
  EXPECT_EQ(kills, 9);
}

TEST_F(KillLoop, KillAtEveryFlagCallWithoutHardLinks) {
  const std::vector<std::string> arguments = {"-oout", "2:5020/999", "World"};
  runClean(arguments);
  // Each flag is a temporary file of its own, renamed to the flag (after
  // the first link is refused): created, written, named and removed.
  EXPECT_EQ(killAtEveryFlagCall(arguments, "nolinks"), 9);
  EXPECT_EQ(emptyFlagsLeft_, 0);
  // Without an exclusive rename as well, the temporary file goes and each
  // flag is created under its own name: a kill before its line is written
  // leaves it empty.
  EXPECT_EQ(killAtEveryFlagCall(arguments, "nolinks,norename"), 11);
  EXPECT_EQ(emptyFlagsLeft_, 2);
}

TEST_F(MachineFaults, FailedAllocationEndsTheRunSilentlyWithStatusSeven) {
  if (PELORIN_SANITIZED) GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
  if (emulated()) GTEST_SKIP() << "the emulator maps the program's memory in its own way";
  // A packet claiming a 3 GiB message area, sparse on disk, under a 1 GiB limit.
  const std::uintmax_t size = 3ull << 30;
  writeFile("out/a.out", packetHeader(kOld, kHub));
  std::filesystem::resize_file(path("out/a.out"), size);
  writeFile("out/b.out", original());
  RunOptions limited;
  limited.memoryLimit = 1ull << 30;
  RunOutput out = run({"-oout", "2:5020/999", "World"}, limited);
  EXPECT_EQ(out.status, 7);
  EXPECT_EQ(out.console, consoleOf(fromLine("a.out")));
  EXPECT_EQ(std::filesystem::file_size(path("out/a.out")), size);
  std::ifstream head(path("out/a.out"), std::ios::binary);
  std::string header(58, '\0');
  head.read(&header[0], 58);
  EXPECT_EQ(header, packetHeader(kOld, kHub));
  EXPECT_EQ(readFile("out/b.out"), original());
  // The flag of a.out's node went with the process.
  EXPECT_EQ(namesIn("out"), (std::set<std::string>{"a.out", "b.out"}));
}

TEST_F(MachineFaults, SecondRunOnABusyLogStopsWithoutWritingIt) {
  writeFile("out/a.out", original());
  Started first =
      start({"-oout", "-lrun.log", "2:5020/999", "World"}, withFault("headerRead:1:pause"));
  for (int waited = 0; waited < 500 && readFile("run.log").find("Working") == std::string::npos;
       ++waited) {
    usleep(10000);
  }
  RunOutput second = run({"-oout", "-lrun.log", "2:5020/999", "World"});
  RunOutput firstOut = finish(first);
  EXPECT_EQ(second.status, 4);
  EXPECT_EQ(second.console,
            text(std::string(kBanner) + "\nError opening run.log !\n  held by another run\n\n"));
  EXPECT_EQ(firstOut.status, 0);
  EXPECT_EQ(logWithoutTimes("run.log"),
            "\n  <time> PLRN Begin, Pelorin 1.10\n"
            "  <time> PLRN Working in \"out\", From: 2:5020/999.0\n"
            "  <time> PLRN " + fromLine("a.out") +
            "  <time> PLRN Changed Messages: 2\n"
            "  <time> PLRN " + summary("Changed Messages: 2\n") + "\n"
            "  <time> PLRN End, Pelorin 1.10\n");
  EXPECT_EQ(readFile("out/a.out"), finished());
}

}  // namespace
