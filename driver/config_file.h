// The configuration file "Pelorin.Cfg" in the current directory: the
// statements OutSq and StatusLog, and the packers' Unpack, Pack and
// PackerTimeLimit (outbound/packers.h), one per line, ";" starting a
// comment.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/run_settings.h"

constexpr const char* kConfigFileName = "Pelorin.Cfg";

// Reads the configuration file once, filling what it sets into settings and
// printing "Unknown cfg statement" for anything else, and "Incomplete cfg
// statement" for a packer's statement whose words do not read. A missing or
// unopenable file is silent and changes nothing.
void readConfigFile(RunSettings* settings);

// The statements of an open file, read as DOS text (see config_file.cc).
void readConfigStatements(std::FILE* file, RunSettings* settings);

// Splits one piece of a line into its words: cut at the first ';' or line
// feed, words separated by runs of blanks and tabs only.
std::vector<std::string> configWords(const std::string& piece);
