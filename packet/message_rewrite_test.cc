#include "packet/message_rewrite.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "packet_builder.h"

namespace {

struct Outcome {
  bool ok;
  int changed;
  std::string bytes;
};

Outcome walk(const std::string& area, NodeAddress oldOrigin = kOld) {
  MessageArea buffer = allocateMessageArea(area.size());
  std::memcpy(buffer.bytes.get(), area.data(), area.size());
  MessageWalk result = rewriteMessageArea(&buffer, oldOrigin, kNew);
  return {result.ok, result.changedCount,
          std::string(reinterpret_cast<const char*>(buffer.bytes.get()), area.size())};
}

std::string withOrigin(std::string message, std::uint16_t net, std::uint16_t node) {
  message.replace(2, 2, word(node));
  message.replace(6, 2, word(net));
  return message;
}

TEST(MessageRewrite, ChangesEchomailFromTheOldOriginOnly) {
  std::string echo = packedMessage(echomail("FIDOTEST", 5020, 100, "hello"));
  std::string lower = packedMessage(echomail("x", 5020, 100, "b"));
  lower.replace(lower.find("AREA:"), 5, "area:");
  std::string other = packedMessage(echomail("FIDOTEST", 5020, 101, "other node"));
  std::string net = packedMessage(netmail(5020, 100, "private"));
  Outcome out = walk(echo + lower + other + net + std::string(2, '\0'));
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.changed, 2);
  EXPECT_EQ(out.bytes, withOrigin(echo, 5020, 999) + withOrigin(lower, 5020, 999) + other +
                           net + std::string(2, '\0'));
}

TEST(MessageRewrite, ZoneAndPointOfTheOldOriginPlayNoPart) {
  std::string echo = packedMessage(echomail("A", 5020, 100, "x"));
  EXPECT_EQ(walk(echo + std::string(2, '\0'), {1, 5020, 100, 5}).changed, 1);
  EXPECT_EQ(walk(echo + std::string(2, '\0'), {2, 5021, 100, 0}).changed, 0);
}

TEST(MessageRewrite, AreaLineMustStartTheTextAndFitInIt) {
  TestMessage m = echomail("A", 5020, 100, "x");
  m.text = "\x01PID: x\rAREA:A\r";
  EXPECT_EQ(walk(packedMessage(m) + std::string(2, '\0')).changed, 0);
  m.text = "AREA";  // shorter than the area line: never qualifies
  Outcome out = walk(packedMessage(m) + std::string(2, '\0'));
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(out.changed, 0);
  m.text = "AREA:";
  EXPECT_EQ(walk(packedMessage(m) + std::string(2, '\0')).changed, 1);
}

TEST(MessageRewrite, ShortAreasEndTheWalkAtOnce) {
  EXPECT_TRUE(walk(std::string(2, '\0')).ok);
  EXPECT_TRUE(walk(std::string(1, 'x')).ok);
  EXPECT_TRUE(walk(std::string(34, '\x7F')).ok);
  EXPECT_FALSE(walk(std::string(35, '\x7F')).ok);
}

TEST(MessageRewrite, ShortRemainderAfterAMessageIsKept) {
  std::string echo = packedMessage(echomail("A", 5020, 100, "x"));
  std::string tail = "tail bytes that are not a message";  // 33 bytes, no zero word
  Outcome out = walk(echo + tail);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.bytes, withOrigin(echo, 5020, 999) + tail);
}

TEST(MessageRewrite, MalformedAreasFailWithoutAnyChangeBeingUsed) {
  std::string echo = packedMessage(echomail("A", 5020, 100, "x"));
  TestMessage typeOne = echomail("A", 5020, 100, "x");
  typeOne.type = 1;
  const std::string cases[] = {
      echo + packedMessage(typeOne) + std::string(2, '\0'),  // a message of type 1
      echo + std::string(2, '\0') + "x",          // bytes after the zero word
      echo + std::string(1, '\0'),                // one byte after the text
      echo + std::string(35, '\x03'),             // a long remainder of the wrong type
      echo.substr(0, echo.size() - 1),            // text without its NUL
      echo.substr(0, 14) + std::string(30, 'a'),  // header strings run past the end
  };
  for (const std::string& area : cases) {
    Outcome out = walk(area);
    EXPECT_FALSE(out.ok) << testing::PrintToString(area);
    EXPECT_EQ(out.bytes, area);
  }
}

TEST(MessageRewrite, StringsAreDelimitedOnlyByTheirNul) {
  TestMessage m = echomail("A", 5020, 100, "x");
  m.dateTime = "";
  TestMessage n = echomail("B", 5020, 100, "y");
  n.dateTime = std::string(70, 'd');
  Outcome out = walk(packedMessage(m) + packedMessage(n) + std::string(2, '\0'));
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(out.changed, 2);
}

struct Plan {
  std::int64_t begin, end;
  std::vector<std::int64_t> straddling;
  bool operator==(const Plan& o) const {
    return begin == o.begin && end == o.end && straddling == o.straddling;
  }
};

void PrintTo(const Plan& plan, std::ostream* out) {
  *out << "[" << plan.begin << ", " << plan.end << ") alone:";
  for (std::int64_t at : plan.straddling) *out << " " << at;
}

Plan plannedWrites(std::int64_t pageSize, const std::vector<std::int64_t>& messages) {
  ChangeWrites writes;
  writes.pageSize = pageSize;
  for (std::int64_t at : messages) addChangedMessage(&writes, at);
  return {writes.begin, writes.end, writes.straddling};
}

TEST(ChangeWrites, OneSpanAndEachStraddlingMessageAlone) {
  // Pages of 32 bytes; messages at 1, at 32 - j and at 40, for each j such
  // that the boundary falls after byte +j - 1 of the middle message. Its
  // origin fields are bytes +2 to +7: for j = 3 to 7 they straddle the
  // boundary, and the message is written alone after the span.
  for (int j = 1; j <= 8; ++j) {
    const std::int64_t middle = 32 - j;
    std::vector<std::int64_t> alone;
    if (j >= 3 && j <= 7) alone.push_back(middle);
    EXPECT_EQ(plannedWrites(32, {1, middle, 40}), (Plan{3, 48, alone})) << "j = " << j;
  }
  EXPECT_EQ(plannedWrites(32, {}), (Plan{0, 0, {}}));
  // A straddling message alone leaves the span empty.
  EXPECT_EQ(plannedWrites(32, {27}), (Plan{0, 0, {27}}));
}

TEST(MessageRewrite, SecondWalkWithTheSameOriginsChangesNothing) {
  std::string area = messageArea({echomail("A", 5020, 100, "x"), echomail("B", 5020, 100, "y")});
  Outcome first = walk(area);
  Outcome second = walk(first.bytes);
  EXPECT_EQ(first.changed, 2);
  EXPECT_TRUE(second.ok);
  EXPECT_EQ(second.changed, 0);
  EXPECT_EQ(second.bytes, first.bytes);
}

}  // namespace
