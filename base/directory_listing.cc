#include "base/directory_listing.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/ascii.h"

namespace {

// A name's first eight bytes, letters folded, as one number that orders as
// asciiNameLess orders them; a shorter name is padded with zero bytes, which
// sort before every byte a name can hold.
std::uint64_t sortPrefix(const std::string& name) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    prefix <<= 8;
    if (i < name.size()) prefix |= static_cast<unsigned char>(asciiToUpper(name[i]));
  }
  return prefix;
}

struct SortKey {
  std::uint64_t prefix;
  std::uint32_t index;
};

}  // namespace

std::vector<std::string> sortedNames(std::vector<DirectoryEntry> entries,
                                     const EntryFilter& wanted) {
  std::vector<std::string> names;
  for (DirectoryEntry& entry : entries) {
    if (wanted(entry)) names.push_back(std::move(entry.name));
  }
  std::vector<DirectoryEntry>().swap(entries);  // not needed any more: memory back at once
  // Outbound names differ within their first eight bytes (the node's net
  // and node in hexadecimal), so most comparisons are of two numbers.
  std::vector<SortKey> keys;
  keys.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    keys.push_back({sortPrefix(names[i]), static_cast<std::uint32_t>(i)});
  }
  std::sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return asciiNameLess(names[a.index], names[b.index]);
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (const SortKey& key : keys) sorted.push_back(std::move(names[key.index]));
  return sorted;
}

ListingOutcome listNames(const std::string& directory, const EntryFilter& wanted,
                         std::vector<std::string>* names) {
  std::vector<DirectoryEntry> entries;
  ListingOutcome outcome = listDirectory(directory, &entries);
  *names = outcome == ListingOutcome::Listed ? sortedNames(std::move(entries), wanted)
                                             : std::vector<std::string>();
  return outcome;
}
