// Why the last failure happened, in words for the sysop: the line that
// follows an error line. Each layer notes its own reason where a failure
// arises (the platform layer the system's words for a call that failed,
// the message walk which message is malformed, the ZIP reader what does
// not add up), and the run prints it with the error it reports.
#pragma once

#include <string>

void noteFailure(std::string reason);

// Notes the system's own words for its last error (errno on POSIX,
// GetLastError on Windows), which the call that just failed set.
void noteSystemFailure();

// The reason noted last, forgotten once taken; empty when none was noted.
std::string takeFailureReason();

// The outcome of a system call, `ok` or not, with the system's words noted
// when not: so that a platform function can note as it returns.
inline bool checked(bool ok) {
  if (!ok) noteSystemFailure();
  return ok;
}
