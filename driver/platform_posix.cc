#include "driver/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

char pathSeparator() { return '/'; }

std::FILE* openStatusLogFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return nullptr;
  // Stands in for the deny-write share mode of Windows: a second run on the
  // same log must fail at once rather than interleave its lines with ours.
  if (flock(fileno(file), LOCK_EX | LOCK_NB) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

std::FILE* openConfigFile(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

std::FILE* openPacketFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool seekFile(std::FILE* file, std::int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t fileLength(std::FILE* file) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0) return -1;
  return static_cast<std::int64_t>(status.st_size);
}

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_r(&moment, &broken);
  return broken;
}
