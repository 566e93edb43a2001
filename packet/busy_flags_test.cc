#include "packet/busy_flags.h"

#include <gtest/gtest.h>

namespace {

TEST(BusyFlags, OnlyOurOwnLineIsOurs) {
  EXPECT_EQ(ownFlagContent(12345), "12345 pelorin\n");
  EXPECT_TRUE(isOwnFlagContent(ownFlagContent(1)));
  for (const char* foreign : {"", "12345", "12345\n", "12345 pelorin", "12345 pelorin\n\n",
                              " 12345 pelorin\n", "pelorin\n", "12345 Pelorin\n", "-5 pelorin\n",
                              "12345 binkd\n", "12345 pelorin\r\n", "1x pelorin\n"}) {
    EXPECT_FALSE(isOwnFlagContent(foreign)) << foreign;
  }
}

TEST(BusyFlags, OnlyOurTemporaryNamesAreOurs) {
  EXPECT_TRUE(isOwnTemporaryName(".pelorin-7.tmp"));
  for (const char* name : {".pelorin-.tmp", ".pelorin-7.tmp.x", "pelorin-7.tmp", ".pelorin-7x.tmp",
                           ".PELORIN-7.TMP", ".pelorin-7"}) {
    EXPECT_FALSE(isOwnTemporaryName(name)) << name;
  }
}

TEST(BusyFlags, NodeBaseIsTheNameWithoutExtensionInLowerCase) {
  EXPECT_EQ(nodeBaseOf("139C0001.OUT"), "139c0001");
  EXPECT_EQ(nodeBaseOf("a.b.Cut"), "a.b");
  EXPECT_EQ(nodeBaseOf("\xC9t\xC9.out"), "\xC9t\xC9");
}

TEST(BusyFlags, ListingShowsBusyNodesAndPossibleLeftovers) {
  const std::vector<DirectoryEntry> entries = {
      {"00000001.out", EntryKind::RegularFile},   // a packet: no flag
      {"00000002.BSY", EntryKind::RegularFile},   // another spelling of a .bsy
      {"00000003.csy", EntryKind::RegularFile},   // a .csy in any spelling
      {"00000004.CsY", EntryKind::Other},         // of any kind
      {"0000000A.bsy", EntryKind::SymbolicLink},  // upper-case hex is another spelling
      {"00000005.bsy", EntryKind::RegularFile},   // our spelling: the create decides
      {"00000006.bsy", EntryKind::Other},
      {".pelorin-42.tmp", EntryKind::RegularFile},
      {".pelorin-42.bsy", EntryKind::RegularFile},
      {"x.bsy.bak", EntryKind::RegularFile},
  };
  BusyFlags flags = busyFlagsOf("out", entries);
  EXPECT_EQ(flags.busyInListing, (std::set<std::string>{"00000002", "00000003", "00000004",
                                                         "0000000a"}));
  EXPECT_EQ(flags.possibleLeftovers, (std::vector<std::string>{"00000005.bsy", "00000006.bsy",
                                                              ".pelorin-42.tmp",
                                                              ".pelorin-42.bsy"}));
  EXPECT_FALSE(holdsNodeFlag(flags, "00000005.out"));
}

}  // namespace
