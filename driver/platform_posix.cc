#include "driver/platform.h"

#include <errno.h>
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

int openPacketFile(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CLOEXEC);
}

std::int64_t readPacketBytes(int packet, void* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = read(packet, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

std::int64_t writePacketBytes(int packet, const void* buffer, std::size_t size) {
  ssize_t put;
  do {
    put = write(packet, buffer, size);
  } while (put < 0 && errno == EINTR);
  return put;
}

bool seekPacketFile(int packet, std::int64_t offset) {
  return lseek(packet, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t packetFileLength(int packet) {
  struct stat status;
  if (fstat(packet, &status) != 0) return -1;
  return static_cast<std::int64_t>(status.st_size);
}

bool closePacketFile(int packet) { return close(packet) == 0; }

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_r(&moment, &broken);
  return broken;
}
