#include "driver/platform.h"

#include <io.h>
#include <share.h>

char pathSeparator() { return '\\'; }

std::FILE* openStatusLogFile(const std::string& path) {
  return _fsopen(path.c_str(), "a", _SH_DENYWR);
}

std::FILE* openConfigFile(const std::string& path) {
  return _fsopen(path.c_str(), "rb", _SH_DENYWR);
}

std::FILE* openPacketFile(const std::string& path) {
  std::FILE* file = _fsopen(path.c_str(), "r+b", _SH_DENYNO);
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool seekFile(std::FILE* file, std::int64_t offset) {
  return _fseeki64(file, offset, SEEK_SET) == 0;
}

std::int64_t fileLength(std::FILE* file) {
  return _filelengthi64(_fileno(file));
}

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_s(&broken, &moment);
  return broken;
}
