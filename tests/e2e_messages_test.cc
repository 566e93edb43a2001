// The rewrite of the packed messages, on real files: what changes, and that a
// packet whose message area cannot be walked is left byte for byte as it was.
#include "e2e_support.h"
#include "packet_builder.h"

namespace {

class PackedMessages : public EndToEnd {
 protected:
  std::string expectedConsole(const std::string& body) {
    return text(std::string(kBanner) + "Working in \"out\", From: 2:5020/999.0\n" +
                joined("out", "a.out") + " to 2:5020/1.0 from 2:5020/100.0\n" + body);
  }
  RunOutput runOn(const std::string& packetBytes) {
    writeFile("out/a.out", packetBytes);
    return run({"-oout", "-lrun.log", "2:5020/999", "2:5020/1"});
  }
  void expectUntouchedFailure(const std::string& packetBytes) {
    RunOutput out = runOn(packetBytes);
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.console, expectedConsole("Error in " + joined("out", "a.out") + "\n"));
    EXPECT_EQ(readFile("out/a.out"), packetBytes);
  }
  std::string changed(const TestMessage& m) {
    TestMessage copy = m;
    copy.origNet = 5020;
    copy.origNode = 999;
    return packedMessage(copy);
  }
};

TEST_F(PackedMessages, EchomailFromTheOldOriginGetsTheNewOne) {
  TestMessage a = echomail("FIDOTEST", 5020, 100, "first");
  TestMessage b = echomail("RU.SYSOP", 5020, 100, "second");
  TestMessage c = echomail("FIDOTEST", 5020, 100, "third");
  c.text.replace(0, 5, "Area:");
  TestMessage other = echomail("FIDOTEST", 5020, 55, "from elsewhere");
  TestMessage mail = netmail(5020, 100, "private");
  std::string header = packetHeader(kOld, kHub);
  RunOutput out = runOn(header + messageArea({a, mail, b, other, c}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, expectedConsole("Changed Messages: 3\n\nDone.\n"));
  std::string expected = withHeaderOrigin(header, kNew) + changed(a) + packedMessage(mail) +
                         changed(b) + packedMessage(other) + changed(c) + std::string(2, '\0');
  EXPECT_EQ(readFile("out/a.out"), expected);
  EXPECT_EQ(logWithoutTimes("run.log"),
            text("\n  <time> PLRN Begin, Pelorin 1.10\n"
                 "  <time> PLRN Working in \"out\", From: 2:5020/999.0\n"
                 "  <time> PLRN " + joined("out", "a.out") + " to 2:5020/1.0 from 2:5020/100.0\n"
                 "  <time> PLRN Changed Messages: 3\n"
                 "  <time> PLRN End, Pelorin 1.10\n"));
}

TEST_F(PackedMessages, EmptyPacketGetsOnlyItsHeader) {
  std::string bytes = packet(kOld, kHub, {});
  RunOutput out = runOn(bytes);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, expectedConsole("Changed Messages: 0\n\nDone.\n"));
  EXPECT_EQ(readFile("out/a.out"), withHeaderOrigin(bytes, kNew));
}

TEST_F(PackedMessages, ShortRemainderIsKeptAsItIs) {
  std::string bytes = packetHeader(kOld, kHub) +
                      packedMessage(echomail("A", 5020, 100, "x")) + "leftover bytes";
  RunOutput out = runOn(bytes);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, expectedConsole("Changed Messages: 1\n\nDone.\n"));
  EXPECT_EQ(readFile("out/a.out"),
            withHeaderOrigin(packetHeader(kOld, kHub), kNew) +
                changed(echomail("A", 5020, 100, "x")) + "leftover bytes");
}

TEST_F(PackedMessages, HeaderOnlyPacketFailsUntouched) {
  expectUntouchedFailure(packetHeader(kOld, kHub));
}

TEST_F(PackedMessages, BytesAfterTheZeroWordFailUntouched) {
  expectUntouchedFailure(packet(kOld, kHub, {echomail("A", 5020, 100, "x")}) + "!");
}

TEST_F(PackedMessages, WrongMessageTypeFailsUntouched) {
  TestMessage bad = echomail("A", 5020, 100, "x");
  bad.type = 3;
  expectUntouchedFailure(packet(kOld, kHub, {echomail("A", 5020, 100, "x"), bad}));
}

TEST_F(PackedMessages, UnterminatedTextFailsUntouched) {
  std::string bytes = packet(kOld, kHub, {echomail("A", 5020, 100, "x")});
  expectUntouchedFailure(bytes.substr(0, bytes.size() - 3));
}

TEST_F(PackedMessages, TooLittleRoomAfterATextFailsUntouched) {
  std::string bytes = packet(kOld, kHub, {echomail("A", 5020, 100, "x")});
  expectUntouchedFailure(bytes.substr(0, bytes.size() - 1));
}

TEST_F(PackedMessages, FailureStopsTheRunBeforeLaterPackets) {
  writeFile("out/b.out", packet(kOld, kHub, {echomail("A", 5020, 100, "x")}));
  expectUntouchedFailure(packetHeader(kOld, kHub) + std::string(40, 'x'));
  EXPECT_EQ(readFile("out/b.out"), packet(kOld, kHub, {echomail("A", 5020, 100, "x")}));
  EXPECT_EQ(logWithoutTimes("run.log"),
            text("\n  <time> PLRN Begin, Pelorin 1.10\n"
                 "  <time> PLRN Working in \"out\", From: 2:5020/999.0\n"
                 "  <time> PLRN " + joined("out", "a.out") + " to 2:5020/1.0 from 2:5020/100.0\n"
                 "  <time> PLRN Error in " + joined("out", "a.out") + "\n"));
}

TEST_F(PackedMessages, InterruptedRewriteIsCompletedByTheNextRun) {
  // Messages already carry the new origin, the header still the old one: a
  // run stopped between the two writes.
  TestMessage done = echomail("A", 5020, 999, "x");
  RunOutput out = runOn(packet(kOld, kHub, {done}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, expectedConsole("Changed Messages: 0\n\nDone.\n"));
  EXPECT_EQ(readFile("out/a.out"), withHeaderOrigin(packet(kOld, kHub, {done}), kNew));
}

}  // namespace
