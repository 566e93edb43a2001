// Any bytes as the configuration file. Reading never fails, and every value
// it takes is one whole word: not empty, without blank, tab, ';', line feed
// or NUL.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "driver/config_file.h"
#include "fuzz/fuzz_check.h"

namespace {

void checkWord(const std::optional<std::string>& value) {
  if (!value) return;
  check(!value->empty());
  check(value->find_first_of(std::string(" \t;\n\0", 5)) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // "Unknown cfg statement" lines would drown the fuzzer's own output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::rewind(file);
  RunSettings settings;
  readConfigStatements(file, &settings);
  std::fclose(file);
  checkWord(settings.outboundDir);
  checkWord(settings.statusLogPath);
  return 0;
}
