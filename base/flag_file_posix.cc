// Busy flags on POSIX. A flag is held by an exclusive flock on its file,
// which the system lets go when the process dies. Every flag the process
// creates is written once, into its temporary file (the flag file), and
// named from it: by a hard link where the file system has them, so a flag
// costs a link and an unlink; otherwise by an exclusive rename, which
// consumes the file, so each flag gets a new one. The handlers of
// interruptions and of exit remove what the process created, so the names
// live where they can reach them; everything they call is safe in a signal
// handler.
#include "base/flag_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>

#include "base/failure.h"
#include "base/posix_support.h"

namespace {

struct HeldName {
  std::atomic<int> file{-1};
  std::atomic<const char*> name{nullptr};
  std::string storage;
};
HeldName heldFlagFile;
HeldName heldFlag;

// How the file system lets a written file take a flag's name, found for
// the temporary named here: each directory may lie on a file system of its
// own.
enum class Naming { HardLink, ExclusiveRename, InPlace };
Naming naming = Naming::HardLink;
std::string namingFoundFor;

int flagFile = -1;  // open and locked from its create to its naming or drop
struct stat flagFileIdentity;

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

constexpr std::size_t kLongestFlagRead = 128;

std::string firstBytes(int fd) {
  char bytes[kLongestFlagRead];
  ssize_t got = retriedWhileInterrupted([&] { return pread(fd, bytes, sizeof bytes, 0); });
  return got > 0 ? std::string(bytes, static_cast<std::size_t>(got)) : std::string();
}

enum class Opening { Opened, Missing, NotRegularFile, Failed };

// Opens the regular file under the name, looked at first so that nothing
// else (a FIFO above all) is ever opened, and checked again once open.
Opening openRegularFile(const std::string& path, int access, int* fd) {
  struct stat named;
  if (lstat(path.c_str(), &named) != 0) return errno == ENOENT ? Opening::Missing : Opening::Failed;
  if (!S_ISREG(named.st_mode)) return Opening::NotRegularFile;
  *fd = open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (*fd < 0) return errno == ENOENT ? Opening::Missing : Opening::Failed;
  struct stat opened;
  if (fstat(*fd, &opened) == 0 && sameFile(opened, named)) return Opening::Opened;
  close(*fd);
  return Opening::Failed;
}

// The file under the name, opened with `access`, locked and checked: a
// regular file that nobody else holds, whose content `accepts` takes, and
// that the name still stands for once the lock is ours (another process
// may have taken and removed it in between).
Adoption openUnheld(const std::string& path, int access, const FlagContentTest& accepts,
                    int* fd, std::string* found) {
  switch (openRegularFile(path, access, fd)) {
    case Opening::Opened: break;
    case Opening::Missing: return Adoption::Vanished;
    case Opening::NotRegularFile:
    case Opening::Failed: return Adoption::NotAdoptable;
  }
  if (flock(*fd, LOCK_EX | LOCK_NB) == 0) {
    *found = firstBytes(*fd);
    if (accepts(*found) && namesFile(path.c_str(), *fd)) return Adoption::Adopted;
  }
  close(*fd);
  return Adoption::NotAdoptable;
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

bool writeWhole(int fd, const std::string& content) {
  return retriedWhileInterrupted([&] { return write(fd, content.data(), content.size()); }) ==
         static_cast<ssize_t>(content.size());
}

bool lockAndWrite(int fd, const std::string& content) {
  return lockNewFile(fd) && writeWhole(fd, content);
}

// Creates the temporary file, locked and still under its name: between the
// create and the lock another run may take it for a dead run's and remove
// it, and then a new one is made.
int createFlagFile(const std::string& temporary) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = createExclusively(temporary);
    // Left by a dead process that had the same id.
    if (fd < 0 && errno == EEXIST && removeUnheldFile(temporary, anyContent)) {
      fd = createExclusively(temporary);
    }
    if (!checked(fd >= 0)) return -1;
    hold(&heldFlagFile, fd, temporary);
    if (!checked(lockNewFile(fd))) {
      giveUp(&heldFlagFile, fd);
      return -1;
    }
    if (namesFile(temporary.c_str(), fd)) return fd;
    unhold(&heldFlagFile);
    close(fd);
  }
  noteFailure("another run kept removing the flags' temporary file");
  return -1;
}

bool writeFlagFile(const std::string& temporary, const std::string& content) {
  int fd = createFlagFile(temporary);
  if (fd < 0) return false;
  if (!checked(writeWhole(fd, content) && fstat(fd, &flagFileIdentity) == 0)) {
    giveUp(&heldFlagFile, fd);
    return false;
  }
  flagFile = fd;
  return true;
}

bool refusesHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV;
}

bool refusesExclusiveRename(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

enum class Placement { Placed, NameTaken, Refused, Failed };

Placement placementAfter(int result) {
  if (result == 0) return Placement::Placed;
  if (errno == EEXIST) return Placement::NameTaken;
  const bool refused =
      naming == Naming::HardLink ? refusesHardLinks(errno) : refusesExclusiveRename(errno);
  return refused ? Placement::Refused : Placement::Failed;
}

// Gives the flag file the flag's name, as the file system allows.
Placement nameFlagFile(const std::string& temporary, const std::string& path) {
  // Held under the name before it is made, so that no moment is left
  // uncovered: the handlers remove a name only while it stands for our file.
  hold(&heldFlag, flagFile, path);
  Placement placement =
      naming == Naming::HardLink
          ? placementAfter(link(temporary.c_str(), path.c_str()))
          : placementAfter(renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(),
                                     RENAME_NOREPLACE));
  if (placement != Placement::Placed) unhold(&heldFlag);
  return placement;
}

FlagOutcome createInPlace(const std::string& path, const std::string& content, HeldFlag* flag) {
  int fd = createExclusively(path);
  if (fd < 0 && errno == EEXIST) return FlagOutcome::Exists;
  if (!checked(fd >= 0)) return FlagOutcome::Failed;
  hold(&heldFlag, fd, path);
  if (!checked(lockAndWrite(fd, content))) {
    giveUp(&heldFlag, fd);
    return FlagOutcome::Failed;
  }
  *flag = HeldFlag{fd, path};
  return FlagOutcome::Taken;
}

}  // namespace

FlagOutcome createFlag(const std::string& path, const std::string& temporary,
                       const std::string& content, HeldFlag* flag) {
  if (temporary != namingFoundFor) {
    naming = Naming::HardLink;
    namingFoundFor = temporary;
  }
  while (naming != Naming::InPlace) {
    if (flagFile < 0 && !writeFlagFile(temporary, content)) return FlagOutcome::Failed;
    switch (nameFlagFile(temporary, path)) {
      case Placement::Placed:
        *flag = HeldFlag{flagFile, path};
        if (naming == Naming::ExclusiveRename) {
          // The file is the flag now, no longer the temporary.
          unhold(&heldFlagFile);
          flagFile = -1;
        }
        return FlagOutcome::Taken;
      case Placement::NameTaken: return FlagOutcome::Exists;
      case Placement::Failed: noteSystemFailure(); return FlagOutcome::Failed;
      case Placement::Refused: break;
    }
    if (naming == Naming::HardLink) {
      naming = Naming::ExclusiveRename;
    } else {
      naming = Naming::InPlace;
      if (!dropFlagFile(temporary)) return FlagOutcome::Failed;
    }
  }
  return createInPlace(path, content, flag);
}

Adoption adoptFlag(const std::string& path, const FlagContentTest& accepts, HeldFlag* flag,
                   std::string* found) {
  int fd = -1;
  Adoption adoption = openUnheld(path, O_RDWR, accepts, &fd, found);
  // Not registered with the handlers: an adopted flag stays when the
  // process ends in any other way than releaseFlag.
  if (adoption == Adoption::Adopted) *flag = HeldFlag{fd, path};
  return adoption;
}

bool rewriteFlag(const HeldFlag& flag, const std::string& content) {
  return checked(retriedWhileInterrupted([&] {
                   return pwrite(descriptor(flag.file), content.data(), content.size(), 0);
                 }) == static_cast<ssize_t>(content.size()));
}

bool releaseFlag(HeldFlag* flag) {
  if (flag->file == kNoFile) return true;
  int fd = descriptor(flag->file);
  // The name goes while the lock is still ours, so that no other run can
  // mistake the flag for a dead one in between.
  bool removed = checked(fd == flagFile
                             ? removeNameIfItStandsFor(flag->path.c_str(), flagFileIdentity)
                             : removeNameOf(flag->path.c_str(), fd));
  unhold(&heldFlag);
  if (fd != flagFile) close(fd);
  flag->file = kNoFile;
  return removed;
}

void abandonFlag(HeldFlag* flag) {
  if (flag->file == kNoFile) return;
  int fd = descriptor(flag->file);
  // A flag this process created is no longer the handlers' to remove.
  if (heldFlag.file.load() == fd) unhold(&heldFlag);
  if (fd != flagFile) close(fd);
  flag->file = kNoFile;
}

bool dropFlagFile(const std::string& temporary) {
  if (flagFile < 0) return true;
  bool removed = checked(removeNameOf(temporary.c_str(), flagFile));
  unhold(&heldFlagFile);
  close(flagFile);
  flagFile = -1;
  return removed;
}

FlagLook lookAtFlag(const std::string& path, std::string* content) {
  int fd = -1;
  switch (openRegularFile(path, O_RDONLY, &fd)) {
    case Opening::Opened: break;
    case Opening::Missing: return FlagLook::Missing;
    case Opening::NotRegularFile: return FlagLook::NotRegularFile;
    case Opening::Failed: return FlagLook::Unreadable;
  }
  *content = firstBytes(fd);
  close(fd);
  return FlagLook::Read;
}

bool removeUnheldFile(const std::string& path, const FlagContentTest& removable) {
  int fd = -1;
  std::string found;
  if (openUnheld(path, O_RDONLY, removable, &fd, &found) != Adoption::Adopted) return false;
  bool removed = unlink(path.c_str()) == 0;
  close(fd);
  return removed;
}

void removeHeldFlags() {
  removeHeld(heldFlag);
  removeHeld(heldFlagFile);
}
