#include "base/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/flag_file.h"
#include "base/posix_support.h"

static_assert(sizeof(off_t) == 8, "packets, listings and stat need 64-bit file offsets");
static_assert(sizeof(time_t) == 8, "status-log time stamps need a time_t that outlives 2038");

namespace {

void openNullInPlaceOf(int closed) {
  if (fcntl(closed, F_GETFD) != -1 || errno != EBADF) return;
  // open() takes the lowest free number, which is the closed one.
  int opened = open("/dev/null", O_RDWR);
  if (opened != closed && opened >= 0) close(opened);
}

bool isRegularFile(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

EntryKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::RegularFile;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::SymbolicLink;
  return EntryKind::Other;
}

EntryKind entryKind(int dirFd, const dirent* entry) {
  switch (entry->d_type) {
    case DT_REG: return EntryKind::RegularFile;
    case DT_DIR: return EntryKind::Directory;
    case DT_LNK: return EntryKind::SymbolicLink;
    case DT_UNKNOWN: break;
    default: return EntryKind::Other;
  }
  // Some file systems leave the type open in the listing.
  struct stat status;
  if (fstatat(dirFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
  return kindOf(status.st_mode);
}

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// ---- Interruptions: a held flag goes first.

volatile sig_atomic_t deferringInterruptions = 0;
volatile sig_atomic_t pendingInterruption = 0;

void endByInterruption(int signalNumber) {
  endRunningCommand();
  removeHeldFlags();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

void onInterruption(int signalNumber) {
  if (deferringInterruptions) {
    pendingInterruption = signalNumber;
    return;
  }
  endByInterruption(signalNumber);
}

void catchInterruption(int signalNumber) {
  struct sigaction current;
  // An interruption the parent chose to ignore (nohup) stays ignored.
  if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = onInterruption;
  sigemptyset(&action.sa_mask);
  for (int blocked : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, blocked);
  action.sa_flags = SA_RESTART;
  sigaction(signalNumber, &action, nullptr);
}

// The file was opened without waiting, so that a FIFO could not block the
// open; from here on reads and writes wait as usual.
void clearNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

}  // namespace

bool lockNewFile(int fd) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    usleep(1000);
  }
  return false;
}

bool namesFile(const char* path, int fd) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && sameFile(opened, named);
}

void prepareProcess() {
  for (int standard = 0; standard <= 2; ++standard) openNullInPlaceOf(standard);
  // A reader that goes away (`| head`, a pager quit early) must not kill the
  // run half way through the outbound: the write fails with EPIPE instead.
  signal(SIGPIPE, SIG_IGN);
  for (int interruption : {SIGINT, SIGTERM, SIGHUP}) catchInterruption(interruption);
  std::atexit(removeHeldFlags);
}

char pathSeparator() { return '/'; }

std::string joinPath(const std::string& dir, const std::string& name) {
  return dir + '/' + name;
}

bool isPathSeparator(char c) { return c == '/'; }

std::size_t rootLength(const std::string& path) { return !path.empty() && path[0] == '/' ? 1 : 0; }

bool pathExists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

bool nameExists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

bool nameStandsFor(const std::string& path, FileHandle file) {
  return namesFile(path.c_str(), descriptor(file));
}

std::string systemErrorText() { return std::strerror(errno); }

const char* textLineEnd() { return "\n"; }

ListingOutcome listDirectory(const std::string& dir, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  // O_NONBLOCK: a FIFO given as the directory must not make the open wait.
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOTDIR || errno == ENOENT) return ListingOutcome::NotADirectory;
    noteSystemFailure();
    return ListingOutcome::Failed;
  }
  DIR* listing = fdopendir(fd);
  if (!checked(listing != nullptr)) {
    close(fd);
    return ListingOutcome::Failed;
  }
  ListingOutcome outcome = ListingOutcome::Listed;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      if (!checked(errno == 0)) outcome = ListingOutcome::Failed;
      break;
    }
    if (isDotOrDotDot(entry->d_name)) continue;
    entries->push_back(DirectoryEntry{entry->d_name, entryKind(fd, entry)});
  }
  closedir(listing);
  return outcome;
}

FileHandle openDirectory(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

OpenOutcome openPacketFile(FileHandle directory, const std::string& name,
                           const std::string& path, FileHandle* file) {
  // No fstat here: most packets are only read, and a file that is not
  // regular fails that read; the status is asked before any write.
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = directory == kNoFile ? open(path.c_str(), flags)
                                : openat(descriptor(directory), name.c_str(), flags);
  *file = fd < 0 ? kNoFile : fd;
  if (fd >= 0) return OpenOutcome::Opened;
  // ELOOP: the name is a symbolic link. ENXIO: a socket, or a device
  // without its hardware. EISDIR: a directory.
  if (errno == ELOOP || errno == ENXIO || errno == EISDIR) return OpenOutcome::NotRegularFile;
  if (errno == ENOENT) return OpenOutcome::Vanished;
  noteSystemFailure();
  return OpenOutcome::Failed;
}

FileHandle openStatusLogFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                0666);
  if (!checked(fd >= 0)) return kNoFile;
  // Stands in for the deny-write share mode of Windows: a second run on the
  // same log must fail at once rather than interleave its lines with ours.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    errno == EWOULDBLOCK ? noteFailure("held by another run") : noteSystemFailure();
    close(fd);
    return kNoFile;
  }
  clearNonBlocking(fd);
  return fd;
}

std::FILE* openConfigFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!isRegularFile(fd)) {
    close(fd);
    return nullptr;
  }
  clearNonBlocking(fd);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

namespace {

std::int64_t movedOrNoted(std::int64_t moved) {
  checked(moved >= 0);
  return moved;
}

}  // namespace

std::int64_t readFileBytesAt(FileHandle file, std::int64_t offset, void* buffer,
                             std::size_t size) {
  return movedOrNoted(retriedWhileInterrupted(
      [&] { return pread(descriptor(file), buffer, size, static_cast<off_t>(offset)); }));
}

std::int64_t writeFileBytesAt(FileHandle file, std::int64_t offset, const void* buffer,
                              std::size_t size) {
  return movedOrNoted(retriedWhileInterrupted(
      [&] { return pwrite(descriptor(file), buffer, size, static_cast<off_t>(offset)); }));
}

std::int64_t writeFileBytes(FileHandle file, const void* buffer, std::size_t size) {
  return movedOrNoted(
      retriedWhileInterrupted([&] { return write(descriptor(file), buffer, size); }));
}

namespace {

FileStatus statusOf(const struct stat& now) {
  FileStatus status;
  status.length = static_cast<std::int64_t>(now.st_size);
  status.modified = static_cast<std::int64_t>(now.st_mtim.tv_sec) * 1000000000 + now.st_mtim.tv_nsec;
  status.regular = S_ISREG(now.st_mode);
  status.names = static_cast<std::uint64_t>(now.st_nlink);
  status.identity = {static_cast<std::uint64_t>(now.st_dev), static_cast<std::uint64_t>(now.st_ino)};
  return status;
}

}  // namespace

bool fileStatus(FileHandle file, FileStatus* status) {
  struct stat now;
  if (!checked(fstat(descriptor(file), &now) == 0)) return false;
  *status = statusOf(now);
  return true;
}

bool nameStatus(const std::string& path, FileStatus* status) {
  struct stat now;
  if (lstat(path.c_str(), &now) != 0) return false;
  *status = statusOf(now);
  return true;
}

OpenOutcome openFileForReading(const std::string& path, FileHandle* file) {
  *file = kNoFile;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENXIO || errno == EISDIR) return OpenOutcome::NotRegularFile;
    if (errno == ENOENT || errno == ENOTDIR) return OpenOutcome::Vanished;
    noteSystemFailure();
    return OpenOutcome::Failed;
  }
  if (!isRegularFile(fd)) {
    close(fd);
    return OpenOutcome::NotRegularFile;
  }
  clearNonBlocking(fd);
  *file = fd;
  return OpenOutcome::Opened;
}

FileHandle createHeldFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
  if (!checked(fd >= 0)) return kNoFile;
  if (!checked(lockNewFile(fd))) {
    unlink(path.c_str());
    close(fd);
    return kNoFile;
  }
  return fd;
}

bool makeDirectory(const std::string& path) { return checked(mkdir(path.c_str(), 0700) == 0); }

bool removeTree(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return errno == ENOENT;
  if (S_ISDIR(status.st_mode)) {
    std::vector<DirectoryEntry> entries;
    if (listDirectory(path, &entries) != ListingOutcome::Listed) return false;
    bool removed = true;
    for (const DirectoryEntry& entry : entries) {
      removed = removeTree(joinPath(path, entry.name)) && removed;
    }
    return checked(rmdir(path.c_str()) == 0) && removed;
  }
  return checked(unlink(path.c_str()) == 0 || errno == ENOENT);
}

std::string temporaryDirectory() {
  const char* set = std::getenv("TMPDIR");
  return set != nullptr && *set != '\0' ? set : "/tmp";
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> here(4096);
  while (getcwd(here.data(), here.size()) == nullptr) {
    if (errno != ERANGE) return path;
    here.resize(here.size() * 2);
  }
  return joinPath(here.data(), path);
}

FileHandle openToReplaceWith(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (!checked(fd >= 0)) return kNoFile;
  if (!isRegularFile(fd)) {
    close(fd);
    noteFailure("it is no plain file");
    return kNoFile;
  }
  clearNonBlocking(fd);
  return fd;
}

bool flushToStorage(FileHandle file) { return checked(fsync(descriptor(file)) == 0); }

namespace {

const char kAccessAcl[] = "system.posix_acl_access";

// What an extended-attribute call gives: asked first for its size, then
// for the bytes, again when they grew in between (ERANGE).
template <typename Call>
bool readSized(Call call, std::string* value) {
  for (;;) {
    ssize_t size = call(nullptr, 0);
    if (size < 0) return false;
    value->assign(static_cast<std::size_t>(size), '\0');
    ssize_t got = call(&(*value)[0], value->size());
    if (got >= 0) {
      value->resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// The value of the attribute `name` of the open file; false when it has
// none or the file system keeps no such attributes.
bool attributeOf(int fd, const char* name, std::string* value) {
  return readSized([&](char* bytes, std::size_t size) { return fgetxattr(fd, name, bytes, size); },
                   value);
}

bool lacksAttributes(int error) { return error == ENODATA || error == ENOTSUP; }

// The model's ACL, or none: a new file may have had one of the directory's
// default ACL given to it.
bool copyAcl(int model, int file) {
  std::string acl;
  if (attributeOf(model, kAccessAcl, &acl)) {
    return fsetxattr(file, kAccessAcl, acl.data(), acl.size(), 0) == 0;
  }
  if (!lacksAttributes(errno)) return false;
  return fremovexattr(file, kAccessAcl) == 0 || lacksAttributes(errno);
}

// The names of the file's attributes, each ended by a NUL.
bool attributeNames(int fd, std::string* names) {
  return readSized([&](char* bytes, std::size_t size) { return flistxattr(fd, bytes, size); },
                   names) ||
         lacksAttributes(errno);
}

bool copyUserAttributes(int model, int file) {
  std::string names;
  if (!attributeNames(model, &names)) return false;
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    const char* name = names.c_str() + at;
    if (std::string(name).compare(0, 5, "user.") != 0) continue;
    std::string value;
    if (!attributeOf(model, name, &value) ||
        fsetxattr(file, name, value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool copyOwnerAndPermissions(FileHandle model, FileHandle file) {
  const int from = descriptor(model), to = descriptor(file);
  struct stat wanted, now;
  if (fstat(from, &wanted) != 0) return false;
  // Refused to anyone but root unless the owner stays and the group is one
  // of ours; then it is enough that the new file has them already.
  if (fchown(to, wanted.st_uid, wanted.st_gid) != 0 &&
      (fstat(to, &now) != 0 || now.st_uid != wanted.st_uid || now.st_gid != wanted.st_gid)) {
    return false;
  }
  // After the owner, whose change clears the set-id bits; before the ACL,
  // whose mask becomes the group's bits.
  return fchmod(to, wanted.st_mode & 07777) == 0 && copyAcl(from, to) &&
         copyUserAttributes(from, to);
}

bool replaceWithFile(FileHandle file, const std::string& from, const std::string& to) {
  if (!checked(rename(from.c_str(), to.c_str()) == 0)) return false;
  close(descriptor(file));
  return true;
}

bool removeHeldFile(FileHandle file, const std::string& path) {
  bool removed = unlink(path.c_str()) == 0 || errno == ENOENT;
  checked(removed);
  close(descriptor(file));
  return removed;
}

bool closeFile(FileHandle file) { return checked(close(descriptor(file)) == 0); }

std::size_t filePageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

unsigned long processId() {
  // Asked once: the process never forks.
  static const unsigned long id = static_cast<unsigned long>(getpid());
  return id;
}

void deferInterruptions() { deferringInterruptions = 1; }

void allowInterruptions() {
  deferringInterruptions = 0;
  if (pendingInterruption != 0) endByInterruption(pendingInterruption);
}

unsigned char* allocatePages(std::size_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  return static_cast<unsigned char*>(pages);
}

void releasePages(unsigned char* pages, std::size_t size) { munmap(pages, size); }

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_r(&moment, &broken);
  return broken;
}
