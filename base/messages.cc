#include "base/messages.h"

#include <cstdio>
#include <cstring>

#include "base/failure.h"
#include "base/file_io.h"
#include "base/platform.h"
#include "base/version.h"

namespace {

FileHandle statusLog = kNoFile;
std::string statusLogPath;
bool statusLogFailed = false;

const char* skipLeadingLineBreaksAndTabs(const char* format) {
  while (*format == '\n' || *format == '\r' || *format == '\t') ++format;
  return format;
}

void writeConsole(const char* format, std::va_list args) {
  // The console is only a report: a failed write (a closed pipe, a full
  // disk) loses the text and nothing else.
  std::vfprintf(stdout, format, args);
  // Flushed at once so that a console redirected to a file shows the run's
  // progress and loses nothing if the run is stopped from outside.
  std::fflush(stdout);
}

std::string formatted(const char* format, std::va_list args) PELORIN_PRINTF(1, 0);
std::string formatted(const char* format, std::va_list args) {
  std::va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.pop_back();
  return text;
}

std::string withTextLineEnds(const std::string& text) {
  const std::string lineEnd = textLineEnd();
  std::string converted;
  for (char c : text) {
    if (c == '\n') {
      converted += lineEnd;
    } else {
      converted += c;
    }
  }
  return converted;
}

// The log is a record; the packets are the job. A log that cannot be
// written is reported once, the run goes on without it, and its exit status
// tells the caller.
void noteLogWriteFailure() {
  if (statusLogFailed) return;
  statusLogFailed = true;
  consoleMessage("\nError writing %s !\n  %s\n\n", statusLogPath.c_str(),
                 failureReasonLine().c_str());
}

// Each piece goes out in one write of its own, whole lines at a time, so a
// reader of the log never sees a line cut in two by buffering.
void appendToLog(const std::string& text) {
  if (statusLog == kNoFile || statusLogFailed) return;
  std::string bytes = withTextLineEnds(text);
  if (!writeFully(statusLog, bytes.data(), bytes.size())) noteLogWriteFailure();
}

// Writes one log line: two blanks, the time stamp, " PLRN ", then the first
// line of the format (leading line feeds, carriage returns and tabs skipped)
// with its arguments and a line end, in one write. Nothing when no log is
// open, or once a write to it has failed.
void writeLogLine(const char* format, std::va_list args) PELORIN_PRINTF(1, 0);
void writeLogLine(const char* format, std::va_list args) {
  if (statusLog == kNoFile || statusLogFailed) return;
  const char* start = skipLeadingLineBreaksAndTabs(format);
  const char* lineFeed = std::strchr(start, '\n');
  std::string firstLine = lineFeed ? std::string(start, lineFeed) : std::string(start);
  std::string stamp = formatTimeStamp(localTime(std::time(nullptr)));
  // The first line of one of the program's own formats, never outside text;
  // the arguments that only the rest of the format would use stay unread.
  appendToLog("  " + stamp + " PLRN " + formatted(firstLine.c_str(), args) + "\n");
}

}  // namespace

std::string formatTimeStamp(const std::tm& time) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* month = (time.tm_mon >= 0 && time.tm_mon < 12) ? kMonths[time.tm_mon] : "???";
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d %s %02d:%02d:%02d", time.tm_mday, month,
                time.tm_hour, time.tm_min, time.tm_sec);
  return stamp;
}

void consoleMessage(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  writeConsole(format, args);
  va_end(args);
}

void logMessage(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  writeLogLine(format, args);
  va_end(args);
}

namespace {

void report(const char* format, std::va_list args) PELORIN_PRINTF(1, 0);
void report(const char* format, std::va_list args) {
  std::va_list logArgs;
  va_copy(logArgs, args);
  writeConsole(format, args);
  writeLogLine(format, logArgs);
  va_end(logArgs);
}

}  // namespace

void reportMessage(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  report(format, args);
  va_end(args);
}

void reportFailure(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  report(format, args);
  va_end(args);
  reportMessage("  %s\n", failureReasonLine().c_str());
}

std::string failureReasonLine() {
  std::string reason = takeFailureReason();
  return reason.empty() ? "no reason was given" : reason;
}

bool openStatusLog(const std::string& path) {
  statusLog = openStatusLogFile(path);
  if (statusLog == kNoFile) return false;
  statusLogPath = path;
  statusLogFailed = false;
  appendToLog("\n");
  logMessage("Begin, Pelorin " PELORIN_VERSION "\n");
  return true;
}

void closeStatusLog() {
  logMessage("End, Pelorin " PELORIN_VERSION "\n");
  abandonStatusLog();
}

void abandonStatusLog() {
  if (statusLog == kNoFile) return;
  if (!closeFile(statusLog)) noteLogWriteFailure();
  statusLog = kNoFile;
}

bool statusLogWriteFailed() { return statusLogFailed; }
