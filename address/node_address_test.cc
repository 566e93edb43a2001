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

TEST(NodeAddress, ReadsThreeOrFourNumbersAndADomain) {
  EXPECT_EQ(parsed("2:335/100"), "2:335/100.0");
  EXPECT_EQ(parsed("2:335/100.7"), "2:335/100.7");
  EXPECT_EQ(parsed("2:335/100.7@fido-net_2.org"), "2:335/100.7");
  EXPECT_EQ(parsed("0:0/0@x"), "0:0/0.0");
  // Each number 0 to 65535, kept as its low 16 bits taken as signed.
  EXPECT_EQ(parsed("2:65535/1"), "2:-1/1.0");
  EXPECT_EQ(parsed("2:32768/00032767.65535"), "2:-32768/32767.-1");
}

TEST(NodeAddress, RefusesAnythingElse) {
  for (const char* text :
       {"", "2:335", "335/100", "2:335/", "2:335/100.", "2:335/100.x", "2:335/100xyz",
        "2:335/100/9", "2:335/100.7.9", "2:5020/100O", "2:5020/1OOO", "2:5020/-1000",
        "-1:2/3", "+2:335/100", " 2:335/100", "2: 335/100", "2:335/100 ", "2:70000/1",
        "2:65536/1", "2:" "18446744073709551621/1", "2:335/100@", "2:335/100@a b", "2:335/100@a@b"}) {
    EXPECT_EQ(parsed(text), "rejected") << text;
  }
}

TEST(NodeAddress, ReadsBackWhatMessagesWrite) {
  for (const NodeAddress& a : {NodeAddress{2, 335, 100, 0}, NodeAddress{-1, -32768, 32767, 7}}) {
    NodeAddress read;
    EXPECT_TRUE(readNodeAddressText(nodeAddressText(a), &read) && sameNodeAddress(read, a));
  }
  NodeAddress read;
  for (const char* text : {"2:335/100", "2:335/01.0", "2:+3/1.0", "2:-0/1.0", "2:32768/1.0",
                           "2:335/100.0 "}) {
    EXPECT_FALSE(readNodeAddressText(text, &read)) << text;
  }
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
