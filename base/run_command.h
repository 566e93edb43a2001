// Running another program (a packer) and waiting for it, as git's
// run-command does: one record describes the child, no shell ever reads its
// words, so each word reaches the program as one argument whatever it
// holds. Standard input is empty; standard output and error are captured
// together, never shown. Each platform implements it in a file of its own
// (run_command_posix.cc, run_command_win32.cc).
#pragma once

#include <string>
#include <vector>

struct Command {
  std::vector<std::string> words;  // the program (looked for on PATH), then its arguments
  std::string directory;           // where it runs
  unsigned timeLimitSeconds = 300;
};

enum class CommandEnd {
  Exited,      // `status` is its exit status
  Signalled,   // ended by the signal `status` (POSIX)
  CannotStart,  // not found, not executable: `output` holds the system's words
  TimedOut,    // past its time limit, ended with every process it started
};

struct CommandResult {
  CommandEnd end = CommandEnd::CannotStart;
  int status = 0;
  std::string output;  // the end of what it wrote (keepOutput)
};

// A program that writes without end (one asking again and again for an
// answer on its empty input) must not fill the run's memory: only the end
// of what it writes is kept.
constexpr std::size_t kKeptOutput = 64 * 1024;

// Adds what the command wrote to what is kept of it: at least its last
// kKeptOutput bytes, at most twice as many, dropped in large steps so that
// a program writing without end costs little.
inline void keepOutput(std::string* output, const char* bytes, std::size_t size) {
  output->append(bytes, size);
  if (output->size() >= 2 * kKeptOutput) output->erase(0, output->size() - kKeptOutput);
}

// Runs the command to its end, or to its time limit, when it and every
// process it started are ended. An interruption of the run ends them too.
CommandResult runCommand(const Command& command);
