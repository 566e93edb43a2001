// The sample outbound shipped with the program, run as the README shows it,
// against the committed expected console and packets.
#include <filesystem>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = std::string(PELORIN_SOURCE_DIR) + "/sample";

std::string withSeparator(std::string console, char separator) {
  for (std::size_t at = console.find("outbound/"); at != std::string::npos;
       at = console.find("outbound/", at + 1)) {
    console[at + 8] = separator;
  }
  return console;
}

class SampleOutbound : public EndToEnd {};

TEST_F(SampleOutbound, GivesTheExpectedConsoleAndPackets) {
  fs::copy(kSample + "/outbound", path("outbound"));
  RunOutput out = run({"-ooutbound", "2:5020/2000", "2:5020/All"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, text(withSeparator(readWholeFile(kSample + "/expected/console.txt"),
                                            separator())));
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(kSample + "/expected/outbound")) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(readFile("outbound/" + name), readWholeFile(entry.path().string())) << name;
    ++compared;
  }
  EXPECT_EQ(compared, 5u);
  EXPECT_EQ(files().size(), 5u);
}

}  // namespace
