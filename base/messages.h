// Every text the program emits leaves through these routes: the console
// (standard output; nothing goes to standard error), the status log, or both.
// Formats are printf-style and checked by the compiler at every call.
#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

#define PELORIN_PRINTF(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))

// Standard output only.
void consoleMessage(const char* format, ...) PELORIN_PRINTF(1, 2);
// Status log only; nothing happens when no log is open.
void logMessage(const char* format, ...) PELORIN_PRINTF(1, 2);
// Standard output with the whole format, then the status log.
void reportMessage(const char* format, ...) PELORIN_PRINTF(1, 2);
// The same for an error line, then one more line: two blanks and the
// reason noted for the failure (failure.h).
void reportFailure(const char* format, ...) PELORIN_PRINTF(1, 2);

// The reason noted for the last failure, taken; one that says so when
// none was noted.
std::string failureReasonLine();

// Opens the log for appending, writes a bare line end and the "Begin" line.
// Returns false, having written nothing anywhere, when it cannot be opened.
bool openStatusLog(const std::string& path);
// Logs the "End" line and closes the log, if one is open.
void closeStatusLog();
// Closes the log without the "End" line: the run stopped on a failure.
void abandonStatusLog();

// True once a write to the open log (or its closing) has failed. The first
// failure prints "Error writing <log> !" on the console; the log then gets
// nothing more.
bool statusLogWriteFailed();

// "%d %b %H:%M:%S" with English month names whatever the locale.
std::string formatTimeStamp(const std::tm& time);
