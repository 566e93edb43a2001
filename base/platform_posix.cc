#include "base/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

static_assert(sizeof(off_t) == 8, "packets, listings and stat need 64-bit file offsets");
static_assert(sizeof(time_t) == 8, "status-log time stamps need a time_t that outlives 2038");

namespace {

int descriptor(FileHandle file) { return static_cast<int>(file); }

void openNullInPlaceOf(int closed) {
  if (fcntl(closed, F_GETFD) != -1 || errno != EBADF) return;
  // open() takes the lowest free number, which is the closed one.
  int opened = open("/dev/null", O_RDWR);
  if (opened != closed && opened >= 0) close(opened);
}

// The file was opened without waiting, so that a FIFO could not block the
// open; from here on reads and writes wait as usual.
void clearNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

bool isRegularFile(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

EntryKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::RegularFile;
  if (S_ISLNK(mode)) return EntryKind::SymbolicLink;
  return EntryKind::Other;
}

EntryKind entryKind(int dirFd, const dirent* entry) {
  switch (entry->d_type) {
    case DT_REG: return EntryKind::RegularFile;
    case DT_LNK: return EntryKind::SymbolicLink;
    case DT_UNKNOWN: break;
    default: return EntryKind::Other;
  }
  // Some file systems leave the type open in the listing.
  struct stat status;
  if (fstatat(dirFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
  return kindOf(status.st_mode);
}

// A read or write that a signal interrupted before it moved anything is
// made again.
template <typename Transfer>
std::int64_t retriedWhileInterrupted(Transfer transfer) {
  ssize_t moved;
  do {
    moved = transfer();
  } while (moved < 0 && errno == EINTR);
  return moved;
}

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool namesFile(const char* path, int fd) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && sameFile(opened, named);
}

// ---- Held flags. Every flag of the process is a name of one file, written
// and locked once (the flag file): a flag costs a link and an unlink. The
// handlers of interruptions and of exit remove what the process holds, so
// the names live where they can reach them; everything they call is safe in
// a signal handler.

struct HeldName {
  std::atomic<int> file{-1};
  std::atomic<const char*> name{nullptr};
  std::string storage;
};
HeldName heldFlagFile;
HeldName heldFlag;

int flagFile = -1;  // open and locked from the first flag to dropFlagFile
struct stat flagFileIdentity;
bool noHardLinks = false;

volatile sig_atomic_t deferringInterruptions = 0;
volatile sig_atomic_t pendingInterruption = 0;

void hold(HeldName* held, int fd, const std::string& path) {
  held->name.store(nullptr);
  held->file.store(fd);
  held->storage = path;
  held->name.store(held->storage.c_str());
}

void unhold(HeldName* held) {
  held->name.store(nullptr);
  held->file.store(-1);
}

// Removes the name unless it has come to stand for another file than
// `opened`. False when unlink failed.
bool removeNameIfItStandsFor(const char* path, const struct stat& opened) {
  struct stat named;
  if (lstat(path, &named) != 0) return errno == ENOENT;
  if (!sameFile(opened, named)) return true;
  return unlink(path) == 0 || errno == ENOENT;
}

bool removeNameOf(const char* path, int fd) {
  struct stat opened;
  return fstat(fd, &opened) == 0 && removeNameIfItStandsFor(path, opened);
}

void removeHeld(const HeldName& held) {
  int fd = held.file.load();
  const char* name = held.name.load();
  if (fd >= 0 && name != nullptr) removeNameOf(name, fd);
}

void removeHeldNames() {
  removeHeld(heldFlag);
  removeHeld(heldFlagFile);
}

void endByInterruption(int signalNumber) {
  removeHeldNames();
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

constexpr std::size_t kLongestFlagRead = 128;

std::string firstBytes(int fd) {
  char bytes[kLongestFlagRead];
  ssize_t got = retriedWhileInterrupted([&] { return pread(fd, bytes, sizeof bytes, 0); });
  return got > 0 ? std::string(bytes, static_cast<std::size_t>(got)) : std::string();
}

// The file under the name, opened, locked and checked: a regular file that
// nobody else holds, whose content `accepts` takes, and that the name still
// stands for once the lock is ours. -1 for anything else.
int openUnheld(const std::string& path, const FlagContentTest& accepts) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (isRegularFile(fd) && accepts(firstBytes(fd)) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      namesFile(path.c_str(), fd)) {
    return fd;
  }
  close(fd);
  return -1;
}

int createExclusively(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
}

// Removes a file this process created but could not complete, and lets it go.
void giveUp(HeldName* held, int fd) {
  removeNameOf(held->storage.c_str(), fd);
  unhold(held);
  close(fd);
}

bool lockAndWrite(int fd, const std::string& content) {
  return flock(fd, LOCK_EX | LOCK_NB) == 0 &&
         retriedWhileInterrupted([&] { return write(fd, content.data(), content.size()); }) ==
             static_cast<ssize_t>(content.size());
}

bool writeFlagFile(const std::string& temporary, const std::string& content) {
  int fd = createExclusively(temporary);
  // Left by a dead process that had the same id.
  if (fd < 0 && errno == EEXIST && removeUnheldFile(temporary, anyContent)) {
    fd = createExclusively(temporary);
  }
  if (fd < 0) return false;
  hold(&heldFlagFile, fd, temporary);
  if (!lockAndWrite(fd, content) || fstat(fd, &flagFileIdentity) != 0) {
    giveUp(&heldFlagFile, fd);
    return false;
  }
  flagFile = fd;
  return true;
}

enum class Placement { Placed, NameTaken, NoHardLinks, Failed };

// Gives the flag file the flag's name: a hard link, which fails when the
// name exists. A flag that nobody holds and that `replaceable` accepts is
// removed first, while its lock is ours.
Placement linkFlag(const std::string& temporary, const std::string& path,
                   const FlagContentTest& replaceable) {
  if (link(temporary.c_str(), path.c_str()) == 0) return Placement::Placed;
  if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) return Placement::NoHardLinks;
  if (errno != EEXIST) return Placement::Failed;
  if (!removeUnheldFile(path, replaceable)) return Placement::NameTaken;
  if (link(temporary.c_str(), path.c_str()) == 0) return Placement::Placed;
  return errno == EEXIST ? Placement::NameTaken : Placement::Failed;
}

// Where the file system has no hard links: each flag is a file of its own,
// created under its name and written at once.
FlagOutcome createInPlace(const std::string& path, const std::string& content,
                          const FlagContentTest& replaceable, HeldFlag* flag) {
  int fd = createExclusively(path);
  bool exists = fd < 0 && errno == EEXIST;
  if (exists && removeUnheldFile(path, replaceable)) {
    fd = createExclusively(path);
    exists = fd < 0 && errno == EEXIST;
  }
  if (fd < 0) return exists ? FlagOutcome::Exists : FlagOutcome::Failed;
  hold(&heldFlag, fd, path);
  if (!lockAndWrite(fd, content)) {
    giveUp(&heldFlag, fd);
    return FlagOutcome::Failed;
  }
  *flag = HeldFlag{fd, path};
  return FlagOutcome::Taken;
}

}  // namespace

void prepareProcess() {
  for (int standard = 0; standard <= 2; ++standard) openNullInPlaceOf(standard);
  // A reader that goes away (`| head`, a pager quit early) must not kill the
  // run half way through the outbound: the write fails with EPIPE instead.
  signal(SIGPIPE, SIG_IGN);
  for (int interruption : {SIGINT, SIGTERM, SIGHUP}) catchInterruption(interruption);
  std::atexit(removeHeldNames);
}

char pathSeparator() { return '/'; }

std::string joinPath(const std::string& dir, const std::string& name) {
  return dir + '/' + name;
}

std::size_t rootLength(const std::string& path) { return path == "/" ? 1 : 0; }

bool pathExists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

bool nameExists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

const char* textLineEnd() { return "\n"; }

ListingOutcome listDirectory(const std::string& dir, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  // O_NONBLOCK: a FIFO given as the directory must not make the open wait.
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOTDIR || errno == ENOENT ? ListingOutcome::NotADirectory
                                               : ListingOutcome::Failed;
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    return ListingOutcome::Failed;
  }
  ListingOutcome outcome = ListingOutcome::Listed;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      if (errno != 0) outcome = ListingOutcome::Failed;
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
  return errno == ENOENT ? OpenOutcome::Vanished : OpenOutcome::Failed;
}

FileHandle openStatusLogFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                0666);
  if (fd < 0) return kNoFile;
  // Stands in for the deny-write share mode of Windows: a second run on the
  // same log must fail at once rather than interleave its lines with ours.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
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

std::int64_t readFileBytesAt(FileHandle file, std::int64_t offset, void* buffer,
                             std::size_t size) {
  return retriedWhileInterrupted(
      [&] { return pread(descriptor(file), buffer, size, static_cast<off_t>(offset)); });
}

std::int64_t writeFileBytesAt(FileHandle file, std::int64_t offset, const void* buffer,
                              std::size_t size) {
  return retriedWhileInterrupted(
      [&] { return pwrite(descriptor(file), buffer, size, static_cast<off_t>(offset)); });
}

std::int64_t writeFileBytes(FileHandle file, const void* buffer, std::size_t size) {
  return retriedWhileInterrupted([&] { return write(descriptor(file), buffer, size); });
}

bool fileStatus(FileHandle file, FileStatus* status) {
  struct stat now;
  if (fstat(descriptor(file), &now) != 0) return false;
  status->length = static_cast<std::int64_t>(now.st_size);
  status->removed = now.st_nlink == 0;
  status->regular = S_ISREG(now.st_mode);
  return true;
}

bool closeFile(FileHandle file) { return close(descriptor(file)) == 0; }

std::size_t filePageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

FlagOutcome takeFlag(const std::string& path, const std::string& temporary,
                     const std::string& content, const FlagContentTest& replaceable,
                     HeldFlag* flag) {
  if (!noHardLinks) {
    if (flagFile < 0 && !writeFlagFile(temporary, content)) return FlagOutcome::Failed;
    // Named before it is linked, so that no moment is left uncovered: the
    // handlers remove a name only while it stands for our file.
    hold(&heldFlag, flagFile, path);
    Placement placement = linkFlag(temporary, path, replaceable);
    if (placement == Placement::Placed) {
      *flag = HeldFlag{flagFile, path};
      return FlagOutcome::Taken;
    }
    unhold(&heldFlag);
    if (placement != Placement::NoHardLinks) {
      return placement == Placement::NameTaken ? FlagOutcome::Exists : FlagOutcome::Failed;
    }
    noHardLinks = true;
    if (!dropFlagFile(temporary)) return FlagOutcome::Failed;
  }
  return createInPlace(path, content, replaceable, flag);
}

bool releaseFlag(HeldFlag* flag) {
  if (flag->file == kNoFile) return true;
  int fd = descriptor(flag->file);
  // The name goes while the lock is still ours, so that no other run can
  // mistake the flag for a dead one in between.
  bool removed = fd == flagFile ? removeNameIfItStandsFor(flag->path.c_str(), flagFileIdentity)
                                : removeNameOf(flag->path.c_str(), fd);
  unhold(&heldFlag);
  if (fd != flagFile) close(fd);
  flag->file = kNoFile;
  return removed;
}

bool dropFlagFile(const std::string& temporary) {
  if (flagFile < 0) return true;
  bool removed = removeNameOf(temporary.c_str(), flagFile);
  unhold(&heldFlagFile);
  close(flagFile);
  flagFile = -1;
  return removed;
}

bool removeUnheldFile(const std::string& path, const FlagContentTest& removable) {
  int fd = openUnheld(path, removable);
  if (fd < 0) return false;
  bool removed = unlink(path.c_str()) == 0;
  close(fd);
  return removed;
}

bool isUnheldFile(const std::string& path, const FlagContentTest& accepts) {
  int fd = openUnheld(path, accepts);
  if (fd < 0) return false;
  close(fd);
  return true;
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

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
