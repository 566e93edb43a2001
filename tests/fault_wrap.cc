// Link-time fault hooks for the pelorin_faulty test program. The packet
// calls read, write, lseek and close of the platform layer are wrapped
// (ld --wrap), and PELORIN_FAULT names one call to spoil:
//
//   PELORIN_FAULT=<call>:<n>[:<how>]    e.g. write:2, read:2:short, read:1:pause
//
// The n-th such call on a file descriptor above 2 then fails with EIO
// ("fail", the default), moves only half of its bytes and lets every later
// call of its kind fail ("short"), or first waits two seconds ("pause").
#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_write(int fd, const void* buffer, size_t size);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_close(int fd);
}

namespace {

enum class Spoil { None, Fail, Short, Pause };

struct Fault {
  std::string call;
  long when = 0;
  std::string how = "fail";
  bool parsed = false;
};

const Fault& fault() {
  static Fault configured = [] {
    Fault f;
    const char* text = std::getenv("PELORIN_FAULT");
    if (text == nullptr) return f;
    std::string setting = text;
    std::size_t first = setting.find(':');
    if (first == std::string::npos) return f;
    f.call = setting.substr(0, first);
    std::size_t second = setting.find(':', first + 1);
    f.when = std::atol(setting.substr(first + 1, second - first - 1).c_str());
    if (second != std::string::npos) f.how = setting.substr(second + 1);
    f.parsed = true;
    return f;
  }();
  return configured;
}

// Counts the calls of one kind and says what to do with this one.
Spoil spoilFor(const char* call, int fd, long* count, bool* spoiledBefore) {
  const Fault& f = fault();
  if (!f.parsed || fd <= 2 || f.call != call) return Spoil::None;
  ++*count;
  if (*spoiledBefore && f.how == "short") return Spoil::Fail;
  if (*count != f.when) return Spoil::None;
  *spoiledBefore = true;
  if (f.how == "short") return Spoil::Short;
  if (f.how == "pause") return Spoil::Pause;
  return Spoil::Fail;
}

long reads = 0, writes = 0, seeks = 0, closes = 0;
bool readSpoiled = false, writeSpoiled = false, seekSpoiled = false, closeSpoiled = false;

}  // namespace

extern "C" {

ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  switch (spoilFor("read", fd, &reads, &readSpoiled)) {
    case Spoil::Fail: errno = EIO; return -1;
    case Spoil::Short: return __real_read(fd, buffer, size / 2);
    case Spoil::Pause: sleep(2); break;
    case Spoil::None: break;
  }
  return __real_read(fd, buffer, size);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
  switch (spoilFor("write", fd, &writes, &writeSpoiled)) {
    case Spoil::Fail: errno = EIO; return -1;
    case Spoil::Short: return __real_write(fd, buffer, size / 2);
    case Spoil::Pause: sleep(2); break;
    case Spoil::None: break;
  }
  return __real_write(fd, buffer, size);
}

off_t __wrap_lseek(int fd, off_t offset, int whence) {
  if (spoilFor("lseek", fd, &seeks, &seekSpoiled) == Spoil::Fail) {
    errno = EIO;
    return -1;
  }
  return __real_lseek(fd, offset, whence);
}

int __wrap_close(int fd) {
  if (spoilFor("close", fd, &closes, &closeSpoiled) == Spoil::Fail) {
    __real_close(fd);
    errno = EIO;
    return -1;
  }
  return __real_close(fd);
}

}  // extern "C"
