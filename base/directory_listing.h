// Listing a directory the same way on every platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/platform.h"

// The names of the entries of a directory that `wanted` accepts, ascending
// with ASCII letters folded to upper case and ties broken by the raw bytes.
// The outcome is the platform listing's: on NotADirectory and Failed,
// `names` is empty.
ListingOutcome listNames(const std::string& directory,
                         const std::function<bool(const DirectoryEntry&)>& wanted,
                         std::vector<std::string>* names);
