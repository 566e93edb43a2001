#include "base/directory_listing.h"

#include <algorithm>

#include "base/ascii.h"

ListingOutcome listNames(const std::string& directory,
                         const std::function<bool(const DirectoryEntry&)>& wanted,
                         std::vector<std::string>* names) {
  names->clear();
  std::vector<DirectoryEntry> entries;
  ListingOutcome outcome = listDirectory(directory, &entries);
  if (outcome != ListingOutcome::Listed) return outcome;
  for (DirectoryEntry& entry : entries) {
    if (wanted(entry)) names->push_back(std::move(entry.name));
  }
  std::sort(names->begin(), names->end(), asciiNameLess);
  return outcome;
}
