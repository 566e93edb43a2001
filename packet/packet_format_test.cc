#include "packet/packet_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "packet_builder.h"

namespace {

PacketHeader headerFrom(const std::string& bytes) {
  PacketHeader header;
  std::memcpy(header.bytes, bytes.data(), kPacketHeaderSize);
  return header;
}

TEST(PacketHeader, ReadsBothEndsFromTheTypeTwoPlusFields) {
  PacketHeader header = headerFrom(packetHeader({1, 100, 200, 5}, {2, -3, 40000 - 65536, 7}));
  EXPECT_TRUE(sameNodeAddress(headerOrigin(header), {1, 100, 200, 5}));
  EXPECT_TRUE(sameNodeAddress(headerDestination(header), {2, -3, 40000 - 65536, 7}));
}

TEST(PacketHeader, SettingTheOriginChangesOnlyTheOriginWords) {
  std::string before = packetHeader({1, 100, 200, 0}, {2, 5020, 1, 0});
  PacketHeader header = headerFrom(before);
  setHeaderOrigin(&header, {2, 250, 17, 3});
  std::string after(reinterpret_cast<const char*>(header.bytes), kPacketHeaderSize);
  std::string expected = before;
  expected.replace(0, 2, word(17));
  expected.replace(20, 2, word(250));
  expected.replace(34, 2, word(2));
  expected.replace(38, 2, word(250));
  expected.replace(46, 2, word(2));
  expected.replace(50, 2, word(3));
  EXPECT_EQ(after, expected);
  EXPECT_TRUE(sameNodeAddress(headerOrigin(header), {2, 250, 17, 3}));
}

TEST(PacketHeader, WordsAreLittleEndianOnEveryHost) {
  unsigned char bytes[2];
  writeWord(bytes, 0xABCD);
  EXPECT_EQ(bytes[0], 0xCD);
  EXPECT_EQ(bytes[1], 0xAB);
  EXPECT_EQ(readWord(bytes), 0xABCD);
}

}  // namespace
