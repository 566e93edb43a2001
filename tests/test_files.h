// Reading files back in the tests.
#pragma once

#include <string>

// The whole file as bytes; empty when it cannot be read.
std::string readWholeFile(const std::string& path);
