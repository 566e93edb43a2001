#include "driver/platform.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>

// The C runtime would otherwise expand wildcards in the arguments, and an
// asterisk in the destination list must reach the program as it was typed.
extern "C" int _dowildcard;
int _dowildcard = 0;

char pathSeparator() { return '\\'; }

std::FILE* openStatusLogFile(const std::string& path) {
  return _fsopen(path.c_str(), "a", _SH_DENYWR);
}

std::FILE* openConfigFile(const std::string& path) {
  return _fsopen(path.c_str(), "rb", _SH_DENYWR);
}

namespace {
// The C runtime moves at most this much in one call.
constexpr std::size_t kLargestTransfer = 1u << 30;
}  // namespace

int openPacketFile(const std::string& path) {
  return _sopen(path.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT, _SH_DENYNO);
}

std::int64_t readPacketBytes(int packet, void* buffer, std::size_t size) {
  return _read(packet, buffer, static_cast<unsigned>(size < kLargestTransfer ? size : kLargestTransfer));
}

std::int64_t writePacketBytes(int packet, const void* buffer, std::size_t size) {
  return _write(packet, buffer, static_cast<unsigned>(size < kLargestTransfer ? size : kLargestTransfer));
}

bool seekPacketFile(int packet, std::int64_t offset) {
  return _lseeki64(packet, offset, SEEK_SET) == offset;
}

std::int64_t packetFileLength(int packet) { return _filelengthi64(packet); }

bool closePacketFile(int packet) { return _close(packet) == 0; }

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_s(&broken, &moment);
  return broken;
}
