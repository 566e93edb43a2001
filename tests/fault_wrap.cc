// Link-time fault hooks for the pelorin_faulty test program. The system
// calls of the POSIX platform layer are wrapped (ld --wrap), and
// PELORIN_FAULT names one fault point and what to do at its n-th call:
//
//   PELORIN_FAULT=<point>:<n>[:<how>]     e.g. areaWrite:1, headerRead:1:pause
//
// A point is named by what the call does, not by its place in the order of
// calls, so a change in that order cannot silently retarget a fault:
//
//   headerRead   a read of a packet's header alone
//   areaRead     a read of a packet's message area, alone or after the header
//   headerWrite  a write to a packet at offset 0
//   areaWrite    a write to a packet's message area
//   packetWrite  any write to a packet, header or area
//   packetClose  the close of a packet
//   packetOpen   the open of a packet (only with the swap ways below)
//   logWrite     a write to the status log
//   listing      reading the next entry of the outbound directory
//   flagCreate   the exclusive create of a busy flag (or of its temporary file)
//   flagWrite    the write of a flag's line (also into a flag taken over)
//   flagLink     giving a written flag its name (a link or an exclusive rename)
//   flagOpen     the open of an existing flag, to take it over or to read it
//   flagLock     the lock on an existing flag, to take it over
//   flagRemove   the removal of a flag or of its temporary file
//   bundleWrite  a write to a new bundle, under its temporary name
//   bundleRename the rename of a new bundle over the old one
//
// and the ways to spoil it:
//
//   fail         the call fails with EIO (the default)
//   short        the call moves half of its bytes; every later call at the
//                point fails
//   pause        the call waits two seconds first
//   kill         the process is killed (SIGKILL) before the call
//   cut<k>       a write is made up to the k-th page boundary inside it, then
//                the process is killed; a write with fewer boundaries, or of
//                8 bytes or less, is made whole
//   fifo, link   before the open, the packet is replaced by a FIFO, or by a
//                symbolic link to "../victim.out" beside the outbound
//   gone         before the open, the packet is removed
//   run          the shell command in PELORIN_FAULT_COMMAND is run first, in
//                the run's working directory; then the call is made
//
// PELORIN_FS makes the work directory's file system one of fewer means:
//
//   nolinks           every link fails with EPERM (FAT, many network shares)
//   nolinks,norename  every exclusive rename also fails with EINVAL
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

// With 64-bit file offsets on a 32-bit system the C library's headers turn
// open, openat, pread, pwrite and readdir into open64, openat64, pread64,
// pwrite64 and readdir64: both names of each are wrapped, into the same hook.
extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
int __real_openat(int at, const char* path, int flags, ...);
int __real_openat64(int at, const char* path, int flags, ...);
ssize_t __real_pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t __real_pread64(int fd, void* buffer, size_t size, off_t offset);
ssize_t __real_pwrite(int fd, const void* buffer, size_t size, off_t offset);
ssize_t __real_pwrite64(int fd, const void* buffer, size_t size, off_t offset);
ssize_t __real_write(int fd, const void* buffer, size_t size);
int __real_close(int fd);
int __real_link(const char* from, const char* to);
int __real_flock(int fd, int operation);
int __real_renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags);
int __real_unlink(const char* path);
int __real_rename(const char* from, const char* to);
struct dirent* __real_readdir(DIR* listing);
struct dirent* __real_readdir64(DIR* listing);
}

namespace {

constexpr off_t kHeaderSize = 58;

struct Fault {
  std::string point;
  long when = 0;
  std::string how = "fail";
  long calls = 0;
  bool spoiled = false;
};

Fault& fault() {
  static Fault configured = [] {
    Fault f;
    const char* text = std::getenv("PELORIN_FAULT");
    if (text == nullptr) return f;
    std::string setting = text;
    std::size_t first = setting.find(':');
    if (first == std::string::npos) return f;
    std::size_t second = setting.find(':', first + 1);
    f.point = setting.substr(0, first);
    f.when = std::atol(setting.substr(first + 1, second - first - 1).c_str());
    if (second != std::string::npos) f.how = setting.substr(second + 1);
    return f;
  }();
  return configured;
}

std::set<int>& packets() {
  static std::set<int> open;
  return open;
}

std::set<int>& flagFiles() {
  static std::set<int> open;
  return open;
}

std::set<int>& existingFlags() {
  static std::set<int> open;
  return open;
}

std::set<int>& newBundles() {
  static std::set<int> open;
  return open;
}

int outboundListing = -1;

enum class Spoil { None, This, AfterShort };

// Spoil::This for the n-th call at the configured point; after a "short"
// one, Spoil::AfterShort for every later call there.
Spoil spoilFor(std::initializer_list<const char*> points) {
  Fault& f = fault();
  bool here = false;
  for (const char* point : points) here = here || f.point == point;
  if (!here) return Spoil::None;
  if (f.spoiled && f.how == "short") return Spoil::AfterShort;
  if (++f.calls != f.when) return Spoil::None;
  f.spoiled = true;
  return Spoil::This;
}

[[noreturn]] void killed() {
  raise(SIGKILL);
  _exit(137);
}

// The offset of the k-th page boundary strictly inside [offset, offset + size), or -1.
off_t pageBoundaryInside(off_t offset, size_t size, long k) {
  const off_t page = sysconf(_SC_PAGESIZE);
  off_t boundary = (offset / page + k) * page;
  return boundary < offset + static_cast<off_t>(size) ? boundary : -1;
}

// The command of the "run" way, in the working directory.
void runCommand() {
  const char* command = std::getenv("PELORIN_FAULT_COMMAND");
  if (command == nullptr || std::system(command) != 0) _exit(126);
}

template <typename Transfer>
ssize_t spoiledTransfer(Spoil spoil, size_t size, Transfer transfer) {
  const std::string& how = fault().how;
  if (how == "short" && spoil == Spoil::This) return transfer(size / 2);
  if (how == "run") {
    runCommand();
    return transfer(size);
  }
  if (how == "pause") {
    sleep(2);
    return transfer(size);
  }
  if (how == "kill") killed();
  errno = EIO;
  return -1;
}

// For a call that moves no bytes: waits first, kills, or fails.
template <typename Call>
auto spoiledCall(Spoil spoil, Call call) -> decltype(call()) {
  if (spoil == Spoil::None) return call();
  const std::string& how = fault().how;
  if (how == "run") {
    runCommand();
    return call();
  }
  if (how == "pause") {
    sleep(2);
    return call();
  }
  if (how == "kill") killed();
  errno = EIO;
  return -1;
}

bool fileSystemLacks(const char* means) {
  static const std::string lacking = [] {
    const char* text = std::getenv("PELORIN_FS");
    return std::string(text == nullptr ? "" : text);
  }();
  return lacking.find(means) != std::string::npos;
}

bool endsWith(const char* text, const char* end) {
  std::size_t n = std::strlen(text), m = std::strlen(end);
  return n >= m && std::strcmp(text + n - m, end) == 0;
}

const char* writePoint(off_t offset) { return offset < kHeaderSize ? "headerWrite" : "areaWrite"; }

// The entry `path` names in the directory `at` (AT_FDCWD: the current one).
void swapEntry(int at, const char* path) {
  unlinkat(at, path, 0);
  if (fault().how == "fifo") {
    mkfifoat(at, path, 0600);
  } else if (fault().how == "link") {
    if (symlinkat("../victim.out", at, path) != 0) _exit(126);
  }
}

// An open of `path` in the directory `at`, made by `real(flags, mode)`.
template <typename Open>
int openHook(int at, const char* path, int flags, mode_t mode, Open real) {
  // An existing flag is opened by its name, a new one or a temporary file
  // created exclusively.
  const bool existingFlag = (flags & O_CREAT) == 0 && endsWith(path, ".bsy");
  const bool newBundle = endsWith(path, "-bundle.tmp");
  const bool packet = (flags & O_ACCMODE) == O_RDWR && !existingFlag && !newBundle;
  const bool flag =
      !newBundle && ((flags & O_EXCL) != 0 || (existingFlag && (flags & O_ACCMODE) == O_RDWR));
  if (packet && spoilFor({"packetOpen"}) != Spoil::None) swapEntry(at, path);
  int fd;
  if (newBundle) {
    fd = real(flags, mode);
  } else if ((flags & O_EXCL) != 0) {
    fd = spoiledCall(spoilFor({"flagCreate"}), [&] { return real(flags, mode); });
  } else if (existingFlag) {
    fd = spoiledCall(spoilFor({"flagOpen"}), [&] { return real(flags, mode); });
  } else {
    fd = real(flags, mode);
  }
  if (fd >= 0 && packet) packets().insert(fd);
  if (fd >= 0 && flag) flagFiles().insert(fd);
  if (fd >= 0 && existingFlag) existingFlags().insert(fd);
  if (fd >= 0 && newBundle) newBundles().insert(fd);
  if (fd >= 0 && (flags & O_DIRECTORY) && std::strcmp(path, ".") != 0) outboundListing = fd;
  return fd;
}

using PreadCall = ssize_t (*)(int, void*, size_t, off_t);

ssize_t preadHook(PreadCall real, int fd, void* buffer, size_t size, off_t offset) {
  const bool headerAlone = offset == 0 && size <= static_cast<size_t>(kHeaderSize);
  Spoil spoil = packets().count(fd) ? spoilFor({headerAlone ? "headerRead" : "areaRead"})
                                     : Spoil::None;
  if (spoil != Spoil::None) {
    return spoiledTransfer(spoil, size, [=](size_t n) { return real(fd, buffer, n, offset); });
  }
  return real(fd, buffer, size, offset);
}

using PwriteCall = ssize_t (*)(int, const void*, size_t, off_t);

ssize_t pwriteHook(PwriteCall real, int fd, const void* buffer, size_t size, off_t offset) {
  if (flagFiles().count(fd)) {
    return spoiledCall(spoilFor({"flagWrite"}),
                       [=] { return real(fd, buffer, size, offset); });
  }
  if (newBundles().count(fd)) {
    Spoil spoil = spoilFor({"bundleWrite"});
    if (spoil == Spoil::None) return real(fd, buffer, size, offset);
    return spoiledTransfer(spoil, size, [=](size_t n) { return real(fd, buffer, n, offset); });
  }
  Spoil spoil = packets().count(fd) ? spoilFor({writePoint(offset), "packetWrite"}) : Spoil::None;
  if (spoil != Spoil::None) {
    const std::string& how = fault().how;
    if (how.compare(0, 3, "cut") == 0) {
      off_t boundary = pageBoundaryInside(offset, size, std::atol(how.c_str() + 3));
      if (boundary < 0 || size <= 8) return real(fd, buffer, size, offset);
      real(fd, buffer, static_cast<size_t>(boundary - offset), offset);
      killed();
    }
    return spoiledTransfer(spoil, size, [=](size_t n) { return real(fd, buffer, n, offset); });
  }
  return real(fd, buffer, size, offset);
}

using ReaddirCall = struct dirent* (*)(DIR*);

struct dirent* readdirHook(ReaddirCall real, DIR* listing) {
  if (dirfd(listing) == outboundListing && spoilFor({"listing"}) != Spoil::None) {
    errno = EIO;
    return nullptr;
  }
  return real(listing);
}

}  // namespace

extern "C" {

// The mode an open call carries only when it may create the file.
#define PELORIN_OPEN_MODE(flags, mode)                \
  mode_t mode = 0;                                    \
  if ((flags) & O_CREAT) {                            \
    va_list args;                                     \
    va_start(args, flags);                            \
    mode = static_cast<mode_t>(va_arg(args, int));    \
    va_end(args);                                     \
  }

int __wrap_open(const char* path, int flags, ...) {
  PELORIN_OPEN_MODE(flags, mode);
  return openHook(AT_FDCWD, path, flags, mode,
                  [=](int f, mode_t m) { return __real_open(path, f, m); });
}

int __wrap_open64(const char* path, int flags, ...) {
  PELORIN_OPEN_MODE(flags, mode);
  return openHook(AT_FDCWD, path, flags, mode,
                  [=](int f, mode_t m) { return __real_open64(path, f, m); });
}

int __wrap_openat(int at, const char* path, int flags, ...) {
  PELORIN_OPEN_MODE(flags, mode);
  return openHook(at, path, flags, mode,
                  [=](int f, mode_t m) { return __real_openat(at, path, f, m); });
}

int __wrap_openat64(int at, const char* path, int flags, ...) {
  PELORIN_OPEN_MODE(flags, mode);
  return openHook(at, path, flags, mode,
                  [=](int f, mode_t m) { return __real_openat64(at, path, f, m); });
}

ssize_t __wrap_pread(int fd, void* buffer, size_t size, off_t offset) {
  return preadHook(__real_pread, fd, buffer, size, offset);
}

ssize_t __wrap_pread64(int fd, void* buffer, size_t size, off_t offset) {
  return preadHook(__real_pread64, fd, buffer, size, offset);
}

ssize_t __wrap_pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  return pwriteHook(__real_pwrite, fd, buffer, size, offset);
}

ssize_t __wrap_pwrite64(int fd, const void* buffer, size_t size, off_t offset) {
  return pwriteHook(__real_pwrite64, fd, buffer, size, offset);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
  if (flagFiles().count(fd)) {
    return spoiledCall(spoilFor({"flagWrite"}), [=] { return __real_write(fd, buffer, size); });
  }
  Spoil spoil = fd > 2 ? spoilFor({"logWrite"}) : Spoil::None;
  if (spoil != Spoil::None) {
    return spoiledTransfer(spoil, size, [=](size_t n) { return __real_write(fd, buffer, n); });
  }
  return __real_write(fd, buffer, size);
}

int __wrap_close(int fd) {
  newBundles().erase(fd);
  flagFiles().erase(fd);
  existingFlags().erase(fd);
  bool packet = packets().erase(fd) > 0;
  if (packet && spoilFor({"packetClose"}) != Spoil::None) {
    __real_close(fd);
    errno = EIO;
    return -1;
  }
  return __real_close(fd);
}

int __wrap_link(const char* from, const char* to) {
  return spoiledCall(spoilFor({"flagLink"}), [=] {
    if (!fileSystemLacks("nolinks")) return __real_link(from, to);
    errno = EPERM;
    return -1;
  });
}

int __wrap_flock(int fd, int operation) {
  if (!existingFlags().count(fd)) return __real_flock(fd, operation);
  return spoiledCall(spoilFor({"flagLock"}), [=] { return __real_flock(fd, operation); });
}

int __wrap_renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags) {
  return spoiledCall(spoilFor({"flagLink"}), [=] {
    if (!fileSystemLacks("norename")) return __real_renameat2(fromAt, from, toAt, to, flags);
    errno = EINVAL;
    return -1;
  });
}

int __wrap_unlink(const char* path) {
  return spoiledCall(spoilFor({"flagRemove"}), [=] { return __real_unlink(path); });
}

int __wrap_rename(const char* from, const char* to) {
  return spoiledCall(spoilFor({"bundleRename"}), [=] { return __real_rename(from, to); });
}

struct dirent* __wrap_readdir(DIR* listing) { return readdirHook(__real_readdir, listing); }

struct dirent* __wrap_readdir64(DIR* listing) { return readdirHook(__real_readdir64, listing); }

}  // extern "C"
