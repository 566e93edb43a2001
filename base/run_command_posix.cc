// Commands on POSIX: fork and execve, the child in a process group of its
// own, so that the group can be ended at the time limit or when the run is
// interrupted. Between fork and execve the child makes only
// async-signal-safe calls; what may allocate (the search on PATH, the
// argument vector) is done before the fork.
#include "base/run_command.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/posix_support.h"

extern char** environ;

namespace {

// The group of the command running now, for the interruption handlers.
volatile sig_atomic_t runningGroup = 0;

bool isExecutable(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// The program's path: as written when it holds a '/', otherwise the first
// executable of that name on PATH; empty when there is none.
std::string programPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(start, end - start);
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
    if (isExecutable(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

double secondsNow() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

[[noreturn]] void becomeCommand(const char* program, char* const* argv, const char* directory,
                                int input, int output, int failure) {
  setpgid(0, 0);
  signal(SIGPIPE, SIG_DFL);
  dup2(input, 0);
  dup2(output, 1);
  dup2(output, 2);
  if (chdir(directory) == 0) execve(program, argv, environ);
  // The reason goes back through a pipe that execve would have closed.
  const int error = errno;
  (void)!write(failure, &error, sizeof error);
  _exit(127);
}

// Reads what the command writes until it has ended and its output is
// drained, or until the deadline; false at the deadline. What the command
// started may keep the output open after it ended: that is not waited for.
bool readUntilEnded(int fd, pid_t child, double deadline, int* status, std::string* output) {
  char bytes[4096];
  bool ended = false;
  for (;;) {
    if (!ended) ended = waitpid(child, status, WNOHANG) == child;
    const double left = deadline - secondsNow();
    if (left <= 0 && !ended) return false;
    struct pollfd ready = {fd, POLLIN, 0};
    const int polled = poll(&ready, 1, ended ? 0 : std::min(100, static_cast<int>(left * 1000) + 1));
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0 && ended) return true;
    if (polled <= 0) continue;
    const ssize_t got = read(fd, bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (ended) return true;
      // Closed before the end: wait for the command alone.
      while (!ended && secondsNow() < deadline) {
        ended = waitpid(child, status, WNOHANG) == child;
        if (!ended) usleep(10000);
      }
      return ended;
    }
    keepOutput(output, bytes, static_cast<std::size_t>(got));
  }
}

std::string cannotStart(const Command& command, int error) {
  return "cannot start " + (command.words.empty() ? std::string() : command.words[0]) + ": " +
         std::strerror(error);
}

}  // namespace

void endRunningCommand() {
  const pid_t group = static_cast<pid_t>(runningGroup);
  if (group > 0) kill(-group, SIGKILL);
}

CommandResult runCommand(const Command& command) {
  CommandResult result;
  const std::string program = command.words.empty() ? "" : programPath(command.words[0]);
  if (program.empty()) {
    result.output = cannotStart(command, ENOENT);
    return result;
  }
  std::vector<std::string> words = command.words;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  int output[2] = {-1, -1}, failure[2] = {-1, -1};
  const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0 || pipe2(output, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0) {
    result.output = cannotStart(command, errno);
    for (int fd : {input, output[0], output[1], failure[0]}) {
      if (fd >= 0) close(fd);
    }
    return result;
  }
  const pid_t child = fork();
  if (child == 0) {
    becomeCommand(program.c_str(), argv.data(), command.directory.c_str(), input, output[1],
                  failure[1]);
  }
  int error = child < 0 ? errno : 0;
  for (int fd : {input, output[1], failure[1]}) close(fd);
  if (child > 0) {
    setpgid(child, child);  // as the child does itself: whichever comes first
    runningGroup = child;
    // Nothing arrives here unless execve failed.
    if (read(failure[0], &error, sizeof error) <= 0) error = 0;
  }
  close(failure[0]);
  int status = 0;
  const bool ended =
      child > 0 && error == 0 &&
      readUntilEnded(output[0], child, secondsNow() + command.timeLimitSeconds, &status,
                     &result.output);
  close(output[0]);
  if (child > 0) {
    // Whatever the command started goes with it; at the deadline, the
    // command too.
    kill(-child, SIGKILL);
    if (!ended) {
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }
    runningGroup = 0;
  }
  if (child < 0 || error != 0) {
    result.output = cannotStart(command, error);
  } else if (!ended) {
    result.end = CommandEnd::TimedOut;
  } else if (WIFEXITED(status)) {
    result.end = CommandEnd::Exited;
    result.status = WEXITSTATUS(status);
  } else {
    result.end = CommandEnd::Signalled;
    result.status = WTERMSIG(status);
  }
  return result;
}
