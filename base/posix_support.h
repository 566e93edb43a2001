// Helpers shared by the POSIX platform files; nothing outside base/ sees them.
#pragma once

#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

#include "base/platform.h"

inline int descriptor(FileHandle file) { return static_cast<int>(file); }

// A read or write that a signal interrupted before it moved anything is
// made again.
template <typename Transfer>
std::int64_t retriedWhileInterrupted(Transfer transfer) {
  ssize_t moved;
  do {
    moved = transfer();
  } while (moved < 0 && errno == EINTR);
  return moved;
}

inline bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the name, links not followed, is the open file itself.
bool namesFile(const char* path, int fd);

// Locks a file this process has just created. Another process may hold the
// lock for an instant, to look at the new file (is it a dead run's?), and
// it is asked again a few times before the create counts as failed.
bool lockNewFile(int fd);

// Ends the command runCommand is waiting for, and all it started. Safe in
// a signal handler: the handlers of interruptions call it, so that no
// packer outlives the run.
void endRunningCommand();
