#include "e2e_support.h"

#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

const char* const kBanner = "\nPelorin ver. 1.10  Sets a new origin on outbound packets\n\n";
const char* const kUsage =
    "Pelorin [-n] [-r] [-b] [-l<log>] [-o<out.sq>] <from-adr> <to-adr-list>\n"
    "\n<to-adr-list> is as in route.cfg\n\n";

namespace {

std::string environment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

[[noreturn]] void runChild(const std::string& work, const std::string& out,
                           const std::string& err, std::vector<std::string> command,
                           const RunOptions& options = {}, int consolePipe = -1) {
  for (const std::string& setting : options.environment) {
    std::size_t equals = setting.find('=');
    setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
  }
  if (options.memoryLimit != 0) {
    struct rlimit limit {options.memoryLimit, options.memoryLimit};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
  }
  if (chdir(work.c_str()) != 0) _exit(126);
  int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int inFd = open("/dev/null", O_RDONLY);
  if (outFd < 0 || errFd < 0 || inFd < 0) _exit(126);
  dup2(inFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  if (consolePipe >= 0) dup2(consolePipe, 1);
  for (int closed : options.closedDescriptors) close(closed);
  // Whatever the test runner ignores, the program starts as from a terminal.
  for (int interruption : {SIGINT, SIGTERM, SIGHUP}) signal(interruption, SIG_DFL);
  const unsigned kNobody = 65534;
  if (options.unprivileged && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(126);
  }
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  // A pending alarm survives exec.
  alarm(kRunTimeLimitSeconds);
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

void EndToEnd::SetUp() {
  std::string pattern = fs::temp_directory_path().string() + "/pelorin-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  work_ = root_ + "/work";
  fs::create_directory(work_);
  // Lets a run as an unprivileged user reach the work directory; what it may
  // change there is decided file by file.
  fs::permissions(root_, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
  fs::permissions(work_, fs::perms::all);
}

void EndToEnd::TearDown() {
  std::error_code error;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(root_, error);
}

std::vector<std::string> EndToEnd::command(const std::string& program) {
  std::vector<std::string> words;
  std::istringstream runner(environment("PELORIN_TEST_RUNNER", PELORIN_EMULATOR));
  for (std::string word; runner >> word;) words.push_back(word);
  words.push_back(fs::absolute(program).string());
  return words;
}

bool EndToEnd::emulated() { return std::string(PELORIN_EMULATOR) != ""; }

Started EndToEnd::start(const std::vector<std::string>& arguments, const RunOptions& options) {
  std::string program = options.program.empty()
                            ? environment("PELORIN_TEST_EXE", PELORIN_EXE)
                            : options.program;
  // Another user may not reach the build directory (a clone under /root,
  // or any directory only its owner may enter): it runs a copy beside the
  // work directory, which it can reach.
  if (options.unprivileged && geteuid() == 0) {
    const std::string copy = root_ + "/" + fs::path(program).filename().string();
    if (!fs::exists(copy)) fs::copy_file(program, copy);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    program = copy;
  }
  std::vector<std::string> words = command(program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  static int runs = 0;
  Started started;
  started.out = root_ + "/stdout." + std::to_string(++runs);
  started.err = root_ + "/stderr." + std::to_string(runs);
  int pipeEnds[2] = {-1, -1};
  if (options.consoleToPipe && pipe2(pipeEnds, O_CLOEXEC) != 0) return started;
  started.pid = fork();
  if (started.pid == 0) {
    if (pipeEnds[0] >= 0) close(pipeEnds[0]);
    runChild(work_, started.out, started.err, words, options, pipeEnds[1]);
  }
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  started.console = pipeEnds[0];
  return started;
}

RunOutput EndToEnd::finish(const Started& started) {
  RunOutput result;
  int status = 0;
  if (started.pid > 0 && waitpid(started.pid, &status, 0) == started.pid) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.console = readWholeFile(started.out);
  result.errors = readWholeFile(started.err);
  return result;
}

RunOutput EndToEnd::run(const std::vector<std::string>& arguments, const RunOptions& options) {
  return finish(start(arguments, options));
}

std::string EndToEnd::path(const std::string& relative) const { return work_ + "/" + relative; }

void EndToEnd::writeFile(const std::string& relative, const std::string& bytes) {
  fs::create_directories(fs::path(path(relative)).parent_path());
  std::ofstream(path(relative), std::ios::binary) << bytes;
}

std::string EndToEnd::readFile(const std::string& relative) const {
  return readWholeFile(path(relative));
}

void EndToEnd::makeDirectory(const std::string& relative) {
  fs::create_directories(path(relative));
}

std::map<std::string, std::string> EndToEnd::files() const {
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(work_)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      found[fs::relative(entry.path(), work_).generic_string()] =
          readWholeFile(entry.path().string());
    }
  }
  return found;
}

RunOptions EndToEnd::withFault(const std::string& fault) {
  RunOptions options;
  options.program = PELORIN_FAULTY_EXE;
  options.environment = {"PELORIN_FAULT=" + fault};
  return options;
}

std::set<std::string> EndToEnd::namesIn(const std::string& relative) const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(path(relative))) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

RunOutput EndToEnd::runWithMode(const std::string& relative, unsigned mode,
                                const std::vector<std::string>& arguments) {
  chmod(path(relative).c_str(), mode);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  RunOutput out = run(arguments, asNobody);
  chmod(path(relative).c_str(), 0755);
  return out;
}

void EndToEnd::setOldTime(const std::string& relative) {
  struct utimbuf times {1000000000, 1000000000};
  utime(path(relative).c_str(), &times);
}

long EndToEnd::modificationTime(const std::string& relative) const {
  struct stat status {};
  lstat(path(relative).c_str(), &status);
  return static_cast<long>(status.st_mtime);
}

std::string EndToEnd::logWithoutTimes(const std::string& relative) const {
  std::string log = readFile(relative);
  static const std::regex stamp(
      "  (0[1-9]|[12][0-9]|3[01]) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9] PLRN ");
  return std::regex_replace(log, stamp, "  <time> PLRN ");
}

bool EndToEnd::windowsTarget() { return environment("PELORIN_TEST_WINDOWS", "0") == "1"; }

std::string EndToEnd::onTarget(const std::string& posix, const std::string& windows) {
  return windowsTarget() ? windows : posix;
}

char EndToEnd::separator() { return windowsTarget() ? '\\' : '/'; }

std::string EndToEnd::text(const std::string& lines) {
  if (!windowsTarget()) return lines;
  std::string converted;
  for (char c : lines) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

std::string EndToEnd::joined(const std::string& dir, const std::string& name) {
  return dir + separator() + name;
}

std::string EndToEnd::consoleOf(const std::string& body, const std::string& outbound,
                                const std::string& origin) {
  return text(std::string(kBanner) + "Working in \"" + outbound + "\", From: " + origin + "\n" +
              body);
}

namespace {

bool endsWith(const std::string& line, const std::string& end) {
  return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string EndToEnd::summary(const std::string& body) {
  int rewritten = 0, changed = 0, already = 0, busy = 0, left = 0;
  std::istringstream lines(body);
  const std::string count = "Changed Messages: ";
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, count.size(), count) == 0) {
      ++rewritten;
      changed += std::atoi(line.c_str() + count.size());
    }
    already += line.find(" already from ") != std::string::npos;
    busy += endsWith(line, " busy, left for the next run") ||
            endsWith(line, " changed while it was read, left for the next run");
    left += endsWith(line, ", left as it is");
  }
  char line[160];
  std::snprintf(line, sizeof line,
                "Summary: %d packets rewritten, %d messages changed, %d already from, %d busy, "
                "%d left as it is",
                rewritten, changed, already, busy, left);
  return line;
}

std::string EndToEnd::done(const std::string& body, const std::string& hint) {
  return body + hint + summary(body) + "\n\nDone.\n";
}

std::string EndToEnd::previewDone(const std::string& body) {
  return body + summary(body) + "\n\nPreview done: nothing was written.\n";
}

std::string EndToEnd::fromLine(const std::string& name, const NodeAddress& to,
                               const NodeAddress& from, const std::string& outbound) {
  return joined(outbound, name) + " to " + addressText(to) + " from " + addressText(from) + "\n";
}

std::string EndToEnd::logOf(const std::vector<std::string>& lines, bool ended) {
  std::string log = "\n  <time> PLRN Begin, Pelorin 1.10\n";
  for (const std::string& line : lines) log += "  <time> PLRN " + line + "\n";
  if (ended) log += "  <time> PLRN End, Pelorin 1.10\n";
  return text(log);
}

FileHolder::FileHolder(const std::string& path) {
  if (!EndToEnd::windowsTarget()) {
    descriptor_ = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    held_ = descriptor_ >= 0 && flock(descriptor_, LOCK_EX | LOCK_NB) == 0;
    return;
  }
  std::string helper = environment("PELORIN_TEST_HOLD_EXE", "");
  if (helper.empty()) return;
  marker_ = path + ".held";
  std::vector<std::string> words = EndToEnd::command(helper);
  words.push_back(fs::path(path).filename().string());
  words.push_back(fs::path(marker_).filename().string());
  std::string dir = fs::path(path).parent_path().string();
  pid_t child = fork();
  if (child == 0) runChild(dir, "/dev/null", "/dev/null", words);
  helper_ = child;
  for (int waited = 0; waited < 3000 && !held_; ++waited) {
    held_ = fs::exists(marker_);
    if (!held_) usleep(10000);
  }
}

FileHolder::~FileHolder() {
  if (descriptor_ >= 0) close(descriptor_);
  if (helper_ > 0) {
    std::error_code error;
    fs::remove(marker_, error);
    waitpid(helper_, nullptr, 0);
  }
}

std::string addressText(const NodeAddress& a) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, NODE_ADDRESS_FORMAT, NODE_ADDRESS_ARGS(a));
  return buffer;
}

std::string echoPacket(const NodeAddress& to) {
  return packet(kOld, to, {echomail("A", 5020, 100, "x")});
}

std::string echoPacketRewritten(const NodeAddress& to) {
  TestMessage changed = echomail("A", 5020, 100, "x");
  changed.origNode = 999;
  return withHeaderOrigin(packet(kOld, to, {changed}), kNew);
}

std::string inTargetCodePage(const std::string& utf8, const char* codePage) {
  if (!EndToEnd::windowsTarget()) return utf8;
  iconv_t converter = iconv_open(codePage, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "<no converter to " + std::string(codePage) + ">";
  std::string in = utf8;
  std::string out(utf8.size(), '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t fromLeft = in.size();
  std::size_t toLeft = out.size();
  std::size_t converted = iconv(converter, &from, &fromLeft, &to, &toLeft);
  iconv_close(converter);
  if (converted == static_cast<std::size_t>(-1)) return "<not in " + std::string(codePage) + ">";
  out.resize(out.size() - toLeft);
  return out;
}

bool localeExists(const char* name) {
  locale_t locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return false;
  freelocale(locale);
  return true;
}
