#include "test_files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string infoZip(const std::string& directory, const std::string& options,
                    const std::string& names, const std::string& input) {
  std::ofstream(directory + "/zip-input", std::ios::binary) << input;
  const std::string command = "cd '" + directory + "' && rm -f made.zip && zip -q " + options +
                              " made.zip " + names + " < zip-input > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? readWholeFile(directory + "/made.zip") : "";
}

bool infoUnzipFindsWhole(const std::string& path) {
  return std::system(("unzip -tqq '" + path + "' > /dev/null 2>&1").c_str()) == 0;
}
