// Listing a directory the same way on every platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/platform.h"

using EntryFilter = std::function<bool(const DirectoryEntry&)>;

// The names of the entries that `wanted` accepts, ascending with ASCII
// letters folded to upper case and ties broken by the raw bytes.
std::vector<std::string> sortedNames(std::vector<DirectoryEntry> entries,
                                     const EntryFilter& wanted);

// The same for the entries of a directory. The outcome is the platform
// listing's: on NotADirectory and Failed, `names` is empty.
ListingOutcome listNames(const std::string& directory, const EntryFilter& wanted,
                         std::vector<std::string>* names);
