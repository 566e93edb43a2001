#include "outbound/outbound_tree.h"

#include <gtest/gtest.h>

namespace {

constexpr EntryKind kDirectory = EntryKind::Directory;

TEST(OutboundTree, PointDirectoriesAreEightHexDigitsAndPnt) {
  const std::pair<DirectoryEntry, bool> rows[] = {
      {{"01f40002.pnt", kDirectory}, true},
      {{"01F4000A.PNT", kDirectory}, true},
      {{"01f4000a.Pnt", kDirectory}, true},
      {{"01f4002.pnt", kDirectory}, false},    // 7 digits
      {{"01f400002.pnt", kDirectory}, false},  // 9 digits
      {{"01f4000g.pnt", kDirectory}, false},
      {{"01f40002.pnt", EntryKind::RegularFile}, false},
      {{"01f40002.pnt", EntryKind::SymbolicLink}, false},
      {{"01f40002.pnt", EntryKind::Other}, false},
      {{"01f40002.pnt.bak", kDirectory}, false},
      {{"01f40002pnt", kDirectory}, false},
  };
  for (const auto& [entry, point] : rows) {
    EXPECT_EQ(isPointDirectoryEntry(entry), point) << entry.name;
  }
}

TEST(OutboundTree, ZoneOutboundsAreTheOutboundsNameAndThreeHexDigits) {
  struct Row {
    DirectoryEntry entry;
    const char* outboundName;
    bool zone;
  };
  const Row rows[] = {
      {{"out.001", kDirectory}, "out", true},
      {{"out.0fF", kDirectory}, "out", true},
      {{"out.01", kDirectory}, "out", false},
      {{"out.0001", kDirectory}, "out", false},
      {{"out.00g", kDirectory}, "out", false},
      {{"OUT.001", kDirectory}, "out", false},  // the name byte for byte
      {{"out_001", kDirectory}, "out", false},
      {{"out.001", EntryKind::RegularFile}, "out", false},
      {{"out.001", EntryKind::SymbolicLink}, "out", false},
      {{"outbound.001", kDirectory}, "out", false},
      {{"..001", kDirectory}, ".", false},  // no name: a root, "." or ".."
      {{"...001", kDirectory}, "..", false},
      {{".001", kDirectory}, "", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(isZoneOutboundEntry(row.entry, row.outboundName), row.zone) << row.entry.name;
  }
}

TEST(OutboundTree, ZoneOutboundsArePathsBesideTheOutbound) {
  if (pathSeparator() != '/') GTEST_SKIP() << "written with POSIX paths";
  struct Row {
    const char* outbound;
    const char* name;
    const char* holding;
    const char* zone001;
  };
  const Row rows[] = {
      {"out", "out", ".", "out.001"},
      {"out/", "out", ".", "out.001"},
      {"out//", "out", ".", "out.001"},
      {"/var/spool/ftn/outb/", "outb", "/var/spool/ftn", "/var/spool/ftn/outb.001"},
      {"/outb", "outb", "/", "/outb.001"},
      {"ftn//outb", "outb", "ftn", "ftn//outb.001"},
      {"/", "", "/", nullptr},
      {".", ".", ".", nullptr},
      {"../", "..", ".", nullptr},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(outboundNameOf(row.outbound), row.name) << row.outbound;
    EXPECT_EQ(holdingDirectoryOf(row.outbound), row.holding) << row.outbound;
    if (row.zone001 != nullptr) {
      EXPECT_EQ(zoneOutboundPath(row.outbound, std::string(row.name) + ".001"), row.zone001);
    }
  }
}

}  // namespace
