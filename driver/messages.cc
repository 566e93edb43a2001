#include "driver/messages.h"

#include <cstdio>
#include <cstring>

#include "driver/platform.h"

namespace {

std::FILE* statusLog = nullptr;

const char* skipLeadingLineBreaksAndTabs(const char* format) {
  while (*format == '\n' || *format == '\r' || *format == '\t') ++format;
  return format;
}

void writeConsole(const char* format, std::va_list args) {
  std::vfprintf(stdout, format, args);
  // Flushed at once so that a console redirected to a file shows the run's
  // progress and loses nothing if the run is stopped from outside.
  std::fflush(stdout);
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

void writeLogLine(const char* format, std::va_list args) {
  if (statusLog == nullptr) return;
  const char* start = skipLeadingLineBreaksAndTabs(format);
  const char* lineFeed = std::strchr(start, '\n');
  std::string firstLine = lineFeed ? std::string(start, lineFeed) : std::string(start);
  std::string stamp = formatTimeStamp(localTime(std::time(nullptr)));
  std::fprintf(statusLog, "  %s PLRN ", stamp.c_str());
  // The first line of one of the program's own formats, never outside text;
  // the arguments that only the rest of the format would use stay unread.
  std::vfprintf(statusLog, firstLine.c_str(), args);
  std::fputc('\n', statusLog);
  std::fflush(statusLog);
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

void reportMessage(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list logArgs;
  va_copy(logArgs, args);
  writeConsole(format, args);
  writeLogLine(format, logArgs);
  va_end(logArgs);
  va_end(args);
}

bool openStatusLog(const std::string& path) {
  statusLog = openStatusLogFile(path);
  if (statusLog == nullptr) return false;
  std::fputc('\n', statusLog);
  logMessage("Begin, Pelorin 1.10\n");
  return true;
}

void closeStatusLog() {
  logMessage("End, Pelorin 1.10\n");
  abandonStatusLog();
}

void abandonStatusLog() {
  if (statusLog == nullptr) return;
  std::fclose(statusLog);
  statusLog = nullptr;
}
