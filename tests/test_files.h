// Reading files back in the tests.
#pragma once

#include <string>

// The whole file as bytes; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

// The archive Info-ZIP's zip makes of the files `names` (separated by
// blanks) of `directory` with these options, `input` on its standard input
// (for comments); empty when zip is missing or fails.
std::string infoZip(const std::string& directory, const std::string& options,
                    const std::string& names, const std::string& input = "");

// True when Info-ZIP's unzip finds every member of the archive whole.
bool infoUnzipFindsWhole(const std::string& path);
