#include "driver/run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Switches {
  int firstPositional;
  std::string outbound;
  std::string log;
  bool preview = false;
  bool tree = false;
  Showing showing = Showing::Nothing;
  std::string unknown = "<none>";
};

Switches read(std::vector<const char*> argv) {
  RunSettings settings;
  int first = readSwitches(static_cast<int>(argv.size()), argv.data(), &settings);
  return {first,          settings.outboundDir.value_or("<none>"),
          settings.statusLogPath.value_or("<none>"), settings.preview,
          settings.tree,  settings.showing, settings.unknownSwitch.value_or("<none>")};
}

TEST(Switches, LettersInAnyCaseValuesAttachedLaterOnesWin) {
  struct Case {
    std::vector<const char*> argv;
    Switches expected;
  };
  const Case cases[] = {
      {{"pelorin"}, {1, "<none>", "<none>"}},
      {{"pelorin", "-oout", "-lrun.log", "1:2/3", "World"}, {3, "out", "run.log"}},
      // The first switch the program has not is kept; a lone "-" is none.
      {{"pelorin", "-Oa", "-La", "-x", "-", "-ob", "--", "1:2/3"},
       {7, "b", "a", false, false, Showing::Nothing, "-x"}},
      {{"pelorin", "-", "--dry-run", "-q"},
       {4, "<none>", "<none>", false, false, Showing::Nothing, "--dry-run"}},
      {{"pelorin", "-o", "-l"}, {3, "", ""}},
      // -log names the log "og"; switches end at the first other argument.
      {{"pelorin", "-log", "1:2/3", "-oout", "-5"}, {2, "<none>", "og"}},
      // -n in either case, whatever follows the letter; after the switches, a pattern.
      {{"pelorin", "-nothing", "-oout", "1:2/3"}, {3, "out", "<none>", true}},
      {{"pelorin", "-N", "1:2/3", "-n"}, {2, "<none>", "<none>", true}},
      {{"pelorin", "1:2/3", "-n"}, {1, "<none>", "<none>", false}},
      // -r alike, and with every other switch.
      {{"pelorin", "-rx", "-n", "-oout", "1:2/3"}, {4, "out", "<none>", true, true}},
      {{"pelorin", "-R", "1:2/3", "-r"}, {2, "<none>", "<none>", false, true}},
      // --help and --version exactly as written, among the switches; the first wins.
      {{"pelorin", "--version", "-oout", "--help"},
       {4, "out", "<none>", false, false, Showing::Version}},
      {{"pelorin", "-n", "--help", "--version", "1:2/3"},
       {4, "<none>", "<none>", true, false, Showing::Help}},
      {{"pelorin", "--HELP", "-help", "1:2/3"},
       {3, "<none>", "<none>", false, false, Showing::Help, "--HELP"}},
      {{"pelorin", "-?", "1:2/3"}, {2, "<none>", "<none>", false, false, Showing::Help}},
      {{"pelorin", "1:2/3", "--help"}, {1, "<none>", "<none>"}},
  };
  for (const Case& c : cases) {
    Switches got = read(c.argv);
    EXPECT_EQ(got.firstPositional, c.expected.firstPositional) << c.argv.size();
    EXPECT_EQ(got.outbound, c.expected.outbound) << c.argv.size();
    EXPECT_EQ(got.log, c.expected.log) << c.argv.size();
    EXPECT_EQ(got.preview, c.expected.preview) << c.argv.size();
    EXPECT_EQ(got.tree, c.expected.tree) << c.argv.size();
    EXPECT_EQ(got.showing, c.expected.showing) << c.argv.size();
    EXPECT_EQ(got.unknown, c.expected.unknown) << c.argv.size();
  }
}

}  // namespace
