#include "base/directory_listing.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> sorted(const std::vector<std::string>& names) {
  std::vector<DirectoryEntry> entries;
  for (const std::string& name : names) entries.push_back({name, EntryKind::RegularFile});
  entries.push_back({"left out", EntryKind::Other});
  return sortedNames(entries,
                     [](const DirectoryEntry& e) { return e.kind == EntryKind::RegularFile; });
}

TEST(DirectoryListing, NamesSortWithLettersFoldedThenByTheirBytes) {
  // Folded to upper case, '_' (0x5F) comes after the letters; a shorter name
  // comes first; equal folded names go by their bytes, upper case first;
  // bytes from 0x80 up come last and are not folded.
  EXPECT_EQ(sorted({"b.out", "a_b.out", "A.OUT", "a.out", "ab.out", "\xC3\xA9.out", "a.Out", "A"}),
            (std::vector<std::string>{"A", "A.OUT", "a.Out", "a.out", "ab.out", "a_b.out", "b.out",
                                      "\xC3\xA9.out"}));
}

}  // namespace
