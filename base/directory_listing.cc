#include "base/directory_listing.h"

#include <algorithm>

#include "base/ascii.h"

std::vector<std::string> sortedNames(const std::vector<DirectoryEntry>& entries,
                                     const EntryFilter& wanted) {
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries) {
    if (wanted(entry)) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end(), asciiNameLess);
  return names;
}

ListingOutcome listNames(const std::string& directory, const EntryFilter& wanted,
                         std::vector<std::string>* names) {
  std::vector<DirectoryEntry> entries;
  ListingOutcome outcome = listDirectory(directory, &entries);
  *names = outcome == ListingOutcome::Listed ? sortedNames(entries, wanted)
                                             : std::vector<std::string>();
  return outcome;
}
