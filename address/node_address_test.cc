#include "address/node_address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string parsed(const std::string& text) {
  NodeAddress address;
  if (!parseNodeAddress(text, &address)) return "rejected";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, NODE_ADDRESS_FORMAT, NODE_ADDRESS_ARGS(address));
  return buffer;
}

TEST(NodeAddress, ReadsThreeOrFourNumbers) {
  EXPECT_EQ(parsed("2:335/100"), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100.7"), "2:335/100.7");
  EXPECT_EQ(parsed("-1:+2/-3.-4"), "-1:2/-3.-4");
}

TEST(NodeAddress, IgnoresWhateverFollowsTheLastNumber) {
  EXPECT_EQ(parsed("2:335/100."), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100.x"), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100xyz"), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100/9"), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100.7.9"), "2:335/100.7");
}

TEST(NodeAddress, RejectsFewerThanThreeNumbers) {
  EXPECT_EQ(parsed("2:335"), "rejected");
  EXPECT_EQ(parsed("335/100"), "rejected");
  EXPECT_EQ(parsed("2:335/"), "rejected");
  EXPECT_EQ(parsed(""), "rejected");
  EXPECT_EQ(parsed("2:-/100"), "rejected");
  EXPECT_EQ(parsed("2:335/+"), "rejected");
}

TEST(NodeAddress, AllowsWhiteSpaceBeforeANumberOnly) {
  EXPECT_EQ(parsed(" 2: 335/\t100. 4"), "2:335/100.4");
  EXPECT_EQ(parsed("2 :335/100"), "rejected");
  EXPECT_EQ(parsed("2:335 /100"), "rejected");
  EXPECT_EQ(parsed("2:335/100 .4"), "2:335/100.0");
  EXPECT_EQ(parsed("2:- 335/100"), "rejected");
}

TEST(NodeAddress, KeepsTheLowSixteenBitsOfAnyNumber) {
  EXPECT_EQ(parsed("2:70000/1"), "2:4464/1.0");
  EXPECT_EQ(parsed("2:65535/1"), "2:-1/1.0");
  EXPECT_EQ(parsed("2:65536/1"), "2:0/1.0");
  EXPECT_EQ(parsed("2:32768/-32769"), "2:-32768/32767.0");
  // 2^64 + 5 and a long run of digits: a clamping conversion would give -1 or 32767.
  EXPECT_EQ(parsed("2:18446744073709551621/1"), "2:5/1.0");
  EXPECT_EQ(parsed("2:" + std::string(400, '9') + "/1"), "2:-1/1.0");
}

TEST(NodeAddress, LeavesTheTargetAloneWhenRejected) {
  NodeAddress address{1, 2, 3, 4};
  EXPECT_FALSE(parseNodeAddress("9:9", &address));
  EXPECT_TRUE(sameNodeAddress(address, NodeAddress{1, 2, 3, 4}));
}

TEST(NodeAddress, EqualityComparesAllFourFields) {
  EXPECT_TRUE(sameNodeAddress({2, 335, 100, 0}, {2, 335, 100, 0}));
  EXPECT_FALSE(sameNodeAddress({2, 335, 100, 0}, {2, 335, 100, 1}));
  EXPECT_FALSE(sameNodeAddress({2, 335, 100, 0}, {1, 335, 100, 0}));
  EXPECT_FALSE(sameNodeAddress({2, 335, 100, 0}, {2, 334, 100, 0}));
  EXPECT_FALSE(sameNodeAddress({2, 335, 100, 0}, {2, 335, 101, 0}));
}

}  // namespace
