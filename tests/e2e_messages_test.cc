// The rewrite of the packed messages, on real files: what changes, and that a
// packet whose message area cannot be walked is left byte for byte as it was.
#include <cstdio>

#include "e2e_support.h"

namespace {

class PackedMessages : public EndToEnd {
 protected:
  RunOutput runOn(const std::string& packetBytes) {
    writeFile("out/a.out", packetBytes);
    return run({"-oout", "-lrun.log", "2:5020/999", "2:5020/1"});
  }
};

TestMessage withOrigin(TestMessage message, std::uint16_t net, std::uint16_t node) {
  message.origNet = net;
  message.origNode = node;
  return message;
}

TEST_F(PackedMessages, EchomailFromTheOldOriginGetsTheNewOne) {
  TestMessage a = echomail("FIDOTEST", 5020, 100, "first");
  TestMessage b = echomail("RU.SYSOP", 5020, 100, "second");
  TestMessage c = echomail("FIDOTEST", 5020, 100, "third");
  c.text.replace(0, 5, "Area:");
  TestMessage other = echomail("FIDOTEST", 5020, 55, "from elsewhere");
  TestMessage mail = netmail(5020, 100, "private");
  RunOutput out = runOn(packet(kOld, kHub, {a, mail, b, other, c}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(fromLine("a.out") + "Changed Messages: 3\n")));
  EXPECT_EQ(readFile("out/a.out"),
            withHeaderOrigin(packet(kOld, kHub,
                                    {withOrigin(a, 5020, 999), mail, withOrigin(b, 5020, 999),
                                     other, withOrigin(c, 5020, 999)}),
                             kNew));
  EXPECT_EQ(logWithoutTimes("run.log"),
            logOf({"Working in \"out\", From: 2:5020/999.0", joined("out", "a.out") +
                   " to 2:5020/1.0 from 2:5020/100.0", "Changed Messages: 3",
                   summary("Changed Messages: 3\n")}, true));
}

TEST_F(PackedMessages, MalformedAreaStopsTheRunAndLeavesEveryPacketUntouched) {
  const std::string echo = packet(kOld, kHub, {echomail("A", 5020, 100, "x")});
  const std::pair<std::string, const char*> malformed[] = {
      {packetHeader(kOld, kHub), "nothing after the header"},
      {echo + "!", "bytes after the terminating zero word"},
      {echo.substr(0, echo.size() - 3), "the text of message 1 runs past the end"},
      {packetHeader(kOld, kHub) + std::string(40, 'x'), "message 1 at offset 58: type 30840, not 2"},
      {packetHeader(kOld, kHub) + word(2) + std::string(40, 'x'),
       "the header of message 1 at offset 58 runs past the end"},
  };
  const std::string later = packet(kOld, kHub, {echomail("A", 5020, 100, "y")});
  for (const auto& [bytes, reason] : malformed) {
    std::remove(path("run.log").c_str());
    writeFile("out/b.out", later);
    RunOutput out = runOn(bytes);
    EXPECT_EQ(out.status, 2);
    const std::string failure = "Error in " + joined("out", "a.out");
    EXPECT_EQ(out.console, consoleOf(fromLine("a.out") + failure + "\n  " + reason + "\n"));
    EXPECT_EQ(readFile("out/a.out"), bytes);
    EXPECT_EQ(readFile("out/b.out"), later);
    EXPECT_EQ(logWithoutTimes("run.log"),
              logOf({"Working in \"out\", From: 2:5020/999.0", joined("out", "a.out") +
                     " to 2:5020/1.0 from 2:5020/100.0", failure, std::string("  ") + reason},
                    false));
  }
}

TEST_F(PackedMessages, InterruptedRewriteIsCompletedByTheNextRun) {
  // Messages already carry the new origin, the header still the old one: a
  // run stopped between the two writes.
  TestMessage changed = echomail("A", 5020, 999, "x");
  RunOutput out = runOn(packet(kOld, kHub, {changed}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(fromLine("a.out") + "Changed Messages: 0\n")));
  EXPECT_EQ(readFile("out/a.out"), withHeaderOrigin(packet(kOld, kHub, {changed}), kNew));
}

}  // namespace
