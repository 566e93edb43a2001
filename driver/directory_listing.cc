#include "driver/directory_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "driver/ascii.h"

namespace fs = std::filesystem;

namespace {

bool narrowName(const fs::directory_entry& entry, std::string* name) {
  try {
    *name = entry.path().filename().string();
    return true;
  } catch (const std::system_error&) {
    return false;  // not expressible in the ANSI code page on Windows
  }
}

}  // namespace

std::vector<std::string> listRegularFiles(const std::string& directory,
                                          const std::function<bool(const std::string&)>& wanted) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(fs::path(directory), error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    std::string name;
    std::error_code typeError;
    // The type the listing delivered is used as it is; only links (followed)
    // and types the listing left open cost a look-up.
    if (narrowName(*it, &name) && wanted(name) && it->is_regular_file(typeError)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(), asciiNameLess);
  return names;
}
