#include "outbound/busy_flags.h"
#include "outbound/leftovers.h"

#include <gtest/gtest.h>

namespace {

TEST(BusyFlags, OurLineNamesTheOriginTheRunWrites) {
  const NodeAddress origin{2, 5020, -1, 7};
  EXPECT_EQ(ownFlagLine(12345, origin), "12345 pelorin 2:5020/-1.7\n");
  struct Row {
    const char* content;
    bool ours;
    bool hasOrigin;
  };
  const Row rows[] = {
      {"12345 pelorin 2:5020/-1.7\n", true, true},
      {"12345 pelorin 2:5020/-1.7   \n", true, true},  // fitted over a longer line
      {"12345 pelorin\n", true, false},               // an earlier version's
      {"12345 pelorin 2:5020/-1\n", false, false},     // not as a run writes it
      {"12345 pelorin 2:5020/-1.7x\n", false, false},
      {"12345 pelorin  2:5020/-1.7\n", false, false},
      {"12345 pelorin 2:5020/-1.7\n\n", false, false},
      {"", false, false},
      {"12345", false, false},
      {"12345\n", false, false},
      {"12345 pelorin", false, false},
      {"12345 pelorin\n\n", false, false},
      {" 12345 pelorin\n", false, false},
      {"pelorin\n", false, false},
      {"12345 Pelorin\n", false, false},
      {"-5 pelorin\n", false, false},
      {"12345 binkd\n", false, false},
      {"12345 pelorin\r\n", false, false},
      {"1x pelorin\n", false, false},
  };
  for (const Row& row : rows) {
    OwnFlagLine line;
    EXPECT_EQ(readOwnFlagLine(row.content, &line), row.ours) << row.content;
    if (!row.ours) continue;
    EXPECT_EQ(line.hasOrigin, row.hasOrigin) << row.content;
    if (row.hasOrigin) {
      EXPECT_TRUE(sameNodeAddress(line.origin, origin)) << row.content;
    }
  }
  // A line 64 bytes long or longer is no line of ours, padded or not.
  OwnFlagLine line;
  EXPECT_TRUE(readOwnFlagLine(fittedFlagLine("1 pelorin\n", 64), &line));
  EXPECT_FALSE(readOwnFlagLine(fittedFlagLine("1 pelorin\n", 65), &line));
}

TEST(BusyFlags, FittedLineReplacesALongerOneWhole) {
  EXPECT_EQ(fittedFlagLine("7 pelorin 1:2/3.0\n", 22), "7 pelorin 1:2/3.0    \n");
  EXPECT_EQ(fittedFlagLine("7 pelorin 1:2/3.0\n", 10), "7 pelorin 1:2/3.0\n");
}

TEST(BusyFlags, OnlyOurLeftoverNamesAreOurs) {
  for (const char* name : {".pelorin-7.tmp", ".pelorin-7-bundle.tmp", ".pelorin-7-pack.held"}) {
    EXPECT_TRUE(isOwnLeftoverName(name)) << name;
  }
  for (const char* name : {".pelorin-.tmp", ".pelorin-7.tmp.x", "pelorin-7.tmp", ".pelorin-7x.tmp",
                           ".PELORIN-7.TMP", ".pelorin-7", ".pelorin-7-pack"}) {
    EXPECT_FALSE(isOwnLeftoverName(name)) << name;
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
  BusyFlags flags = busyFlagsOf("out", entries, {2, 5020, 999, 0});
  EXPECT_EQ(flags.busyInListing, (std::set<std::string>{"00000002", "00000003", "00000004",
                                                         "0000000a"}));
  EXPECT_EQ(flags.flaggedInListing,
            (std::set<std::string>{"00000002", "00000003", "00000004", "0000000a", "00000005",
                                   "00000006", ".pelorin-42"}));
  EXPECT_EQ(flags.ownSpellingFlags,
            (std::vector<std::string>{"00000005.bsy", "00000006.bsy", ".pelorin-42.bsy"}));
  EXPECT_EQ(flags.temporaries, std::vector<std::string>{".pelorin-42.tmp"});
  EXPECT_EQ(flags.ownLine, std::to_string(processId()) + " pelorin 2:5020/999.0\n");
  EXPECT_FALSE(holdsNodeFlag(flags, "00000005.out"));
}

}  // namespace
