// End-to-end test support: runs the built program in a fresh temporary
// directory and reads back its console, its status log and every file.
//
// The program under test is the one this suite was built with, unless
// PELORIN_TEST_EXE names another; PELORIN_TEST_RUNNER names a program to
// start it with (such as wine64; words separated by blanks), by default the
// emulator of a cross build; and PELORIN_TEST_WINDOWS=1 says that it is a
// Windows build, so paths use '\' and text lines end in CR LF.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "address/node_address.h"
#include "packet_builder.h"
#include "test_files.h"

struct RunOutput {
  int status = -1;  // -1 when a signal ended the program
  int signal = 0;   // the signal that ended it
  std::string console;
  std::string errors;  // standard error, which the program never writes
};

struct RunOptions {
  std::string program;                   // empty: the program under test
  std::vector<std::string> environment;  // NAME=value, added to the program's
  bool unprivileged = false;             // as user nobody when the tests run as root
  unsigned long long memoryLimit = 0;    // address-space limit in bytes, 0: none
  std::vector<int> closedDescriptors;    // standard descriptors the program starts without
  bool consoleToPipe = false;            // standard output into Started::console
};

// Every run is killed after this many seconds, so a run that hangs fails
// its test instead of stopping the suite.
constexpr unsigned kRunTimeLimitSeconds = 60;

// A program started in the background.
struct Started {
  int pid = -1;
  int console = -1;  // the reading end, with RunOptions::consoleToPipe
  std::string out;
  std::string err;
};

extern const char* const kBanner;
extern const char* const kUsage;

class EndToEnd : public testing::Test {
 public:
  static bool windowsTarget();
  // True for a cross build, whose programs run under an emulator.
  static bool emulated();
  // The command that starts the program (or a helper) under test.
  static std::vector<std::string> command(const std::string& program);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with these arguments in the work directory.
  RunOutput run(const std::vector<std::string>& arguments, const RunOptions& options = {});
  Started start(const std::vector<std::string>& arguments, const RunOptions& options = {});
  RunOutput finish(const Started& started);

  std::string path(const std::string& relative) const;
  void writeFile(const std::string& relative, const std::string& bytes);
  std::string readFile(const std::string& relative) const;
  void makeDirectory(const std::string& relative);
  // Every regular file under the work directory, by relative path.
  std::map<std::string, std::string> files() const;
  // The names of every entry of a directory, whatever its kind.
  std::set<std::string> namesIn(const std::string& relative) const;
  // A run as an unprivileged user (nobody, when the tests run as root) while
  // `relative` has this mode, which is then made 0755 again.
  RunOutput runWithMode(const std::string& relative, unsigned mode,
                        const std::vector<std::string>& arguments);
  void setOldTime(const std::string& relative);  // 2001-09-09
  long modificationTime(const std::string& relative) const;
  // Options that run pelorin_faulty with this fault point (see fault_wrap.cc).
  static RunOptions withFault(const std::string& fault);
  // The status log with each time stamp replaced by "<time>", after checking
  // that it has the right form.
  std::string logWithoutTimes(const std::string& relative) const;

  static char separator();
  // The first on a POSIX target, the second on Windows: the system's words
  // for an error differ (those of Wine's for the Windows build).
  static std::string onTarget(const std::string& posix, const std::string& windows);
  // Text with each "\n" turned into the target's line end.
  static std::string text(const std::string& lines);
  // dir + separator + name, as the program builds packet paths.
  static std::string joined(const std::string& dir, const std::string& name);

  // The console of a run that reaches its "Working in" line: the banner,
  // that line, then `body`; line ends as the target writes them.
  static std::string consoleOf(const std::string& body, const std::string& outbound = "out",
                               const std::string& origin = "2:5020/999.0");
  // The end of a run that got through with `body` reported: the summary,
  // counted from the lines of body as the program counts them, then
  // "Done." (or the preview's closing line), after `hint`, the line on
  // flow files a run without -b gives. Line ends as body has them.
  static std::string done(const std::string& body, const std::string& hint = "");
  static std::string previewDone(const std::string& body);
  // The summary line alone, without its line end.
  static std::string summary(const std::string& body);
  // The "from" line of a packet of the outbound.
  static std::string fromLine(const std::string& name, const NodeAddress& to = kHub,
                              const NodeAddress& from = kOld,
                              const std::string& outbound = "out");
  // What a run adds to its status log, time stamps as logWithoutTimes shows
  // them: an empty line, "Begin", one line for each of `lines`, and "End"
  // when the run ended normally.
  static std::string logOf(const std::vector<std::string>& lines, bool ended);

  std::string root_;
  std::string work_;
};

// Holds a file of the work directory open the way a running pelorin holds its
// status log: an exclusive flock on POSIX; on the Windows target a helper
// program (PELORIN_TEST_HOLD_EXE) that opens it with a deny-write share mode.
class FileHolder {
 public:
  explicit FileHolder(const std::string& path);
  ~FileHolder();
  bool held() const { return held_; }

 private:
  bool held_ = false;
  int descriptor_ = -1;
  int helper_ = -1;
  std::string marker_;
};

// Shorthand for the program's address fragment in expected text.
std::string addressText(const NodeAddress& address);

// A packet from kOld to `to` holding one echomail message from 2:5020/100,
// and the same packet as a run giving it the origin kNew leaves it.
std::string echoPacket(const NodeAddress& to);
std::string echoPacketRewritten(const NodeAddress& to);

// UTF-8 text as the program under test shows it: unchanged from the POSIX
// build, in the given ANSI code page (as iconv names it) from the Windows one.
std::string inTargetCodePage(const std::string& utf8, const char* codePage);

// True when the C library knows the locale (Wine takes its ANSI code page
// from the Unix locale, and needs the locale to exist).
bool localeExists(const char* name);
