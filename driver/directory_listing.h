// Listing a directory the same way on every platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The names of the regular files in a directory (symbolic links followed)
// that `wanted` accepts, ascending with ASCII letters folded to upper case
// and ties broken by the raw bytes. A path that is not a readable directory
// gives no names; so does an entry whose name the platform cannot express
// in the program's narrow character set.
std::vector<std::string> listRegularFiles(const std::string& directory,
                                          const std::function<bool(const std::string&)>& wanted);
