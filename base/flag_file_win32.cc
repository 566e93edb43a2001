// Busy flags on Windows. A flag the process creates is a temporary file
// shared for reading and deletion only, written whole and then renamed onto
// the flag's name without replacing anything: nobody else can open it for
// writing while it is held, which is how a live process's flag is told
// from a dead one's. The process removes its flag itself, by handle; its
// console handler and exit do so too, but a process ended outright
// (TerminateProcess) leaves it, as a kill leaves it on POSIX, so that the
// next run finishes the node. A flag taken over from a dead process is held
// the same way.
#include "base/flag_file.h"

#include <atomic>

#include "base/failure.h"
#include "base/win32_support.h"

namespace {

constexpr DWORD kLongestFlagRead = 128;

// The flag (or the temporary file on its way to be one) that this process
// created and holds, for the handlers to remove. The console handler runs
// on a thread of its own, so the handle is only touched under the lock,
// and nothing under the lock allocates: exit may run the handlers anywhere.
SRWLOCK createdLock = SRWLOCK_INIT;
HANDLE created = INVALID_HANDLE_VALUE;

void registerCreated(HANDLE handle) {
  AcquireSRWLockExclusive(&createdLock);
  created = handle;
  ReleaseSRWLockExclusive(&createdLock);
}

std::string firstBytes(HANDLE handle) {
  char bytes[kLongestFlagRead];
  DWORD got = 0;
  OVERLAPPED start = at(0);
  if (!ReadFile(handle, bytes, sizeof bytes, &got, &start)) return std::string();
  return std::string(bytes, got);
}

bool isMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

enum class Opening { Opened, Missing, NotRegularFile, Failed };

// Opens the plain disk file under the name, looked at first so that
// nothing else is ever opened, and checked again once open.
Opening openPlainFile(const std::string& path, DWORD access, DWORD sharing, HANDLE* handle) {
  const std::wstring name = systemPath(path);
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return isMissing(GetLastError()) ? Opening::Missing : Opening::Failed;
  }
  if (kindOf(attributes) != EntryKind::RegularFile) return Opening::NotRegularFile;
  *handle = CreateFileW(name.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (*handle == INVALID_HANDLE_VALUE) {
    return isMissing(GetLastError()) ? Opening::Missing : Opening::Failed;
  }
  if (isPlainDiskFile(*handle)) return Opening::Opened;
  CloseHandle(*handle);
  return Opening::Failed;
}

// The file under the name, opened with `access` and shared for reading
// only, which fails while another process holds it for writing, as a held
// flag is held; a regular file whose content `accepts` takes. The name
// cannot be taken from it while it is open. What it holds is read first
// with every kind of sharing, so that a file another program owns (a
// mailer's flag, which it may rewrite or remove at any moment) is never
// opened in a way that could refuse that program for an instant.
Adoption openUnheld(const std::string& path, DWORD access, const FlagContentTest& accepts,
                    HANDLE* handle, std::string* found) {
  switch (lookAtFlag(path, found)) {
    case FlagLook::Read: break;
    case FlagLook::Missing: return Adoption::Vanished;
    case FlagLook::NotRegularFile:
    case FlagLook::Unreadable: return Adoption::NotAdoptable;
  }
  if (!accepts(*found)) return Adoption::NotAdoptable;
  switch (openPlainFile(path, access, FILE_SHARE_READ, handle)) {
    case Opening::Opened: break;
    case Opening::Missing: return Adoption::Vanished;
    case Opening::NotRegularFile:
    case Opening::Failed: return Adoption::NotAdoptable;
  }
  *found = firstBytes(*handle);
  if (accepts(*found)) return Adoption::Adopted;
  CloseHandle(*handle);
  return Adoption::NotAdoptable;
}

// Removes the file by its handle and closes the handle, under the lock;
// the handlers forget it if it was theirs.
bool removeAndClose(HANDLE handle) {
  AcquireSRWLockExclusive(&createdLock);
  if (created == handle) created = INVALID_HANDLE_VALUE;
  bool removed = checked(deleteByHandle(handle));
  bool closed = checked(CloseHandle(handle) != 0);
  ReleaseSRWLockExclusive(&createdLock);
  return removed && closed;
}

HANDLE createTemporary(const std::string& temporary) {
  auto create = [&] {
    return CreateFileW(systemPath(temporary).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE handle = create();
  // Left by a process with the same id that was ended outright.
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS &&
      removeUnheldFile(temporary, anyContent)) {
    handle = create();
  }
  if (checked(handle != INVALID_HANDLE_VALUE)) registerCreated(handle);
  return handle;
}

bool writeAt(HANDLE handle, const std::string& content) {
  DWORD put = 0;
  OVERLAPPED start = at(0);
  return WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &put, &start) &&
         put == content.size();
}

}  // namespace

FlagOutcome createFlag(const std::string& path, const std::string& temporary,
                       const std::string& content, HeldFlag* flag) {
  HANDLE handle = createTemporary(temporary);
  if (handle == INVALID_HANDLE_VALUE) return FlagOutcome::Failed;
  FlagOutcome outcome = FlagOutcome::Failed;
  if (checked(writeAt(handle, content))) {
    if (renameByHandle(handle, path, false)) {
      outcome = FlagOutcome::Taken;
    } else {
      const DWORD error = GetLastError();
      if (nameExists(path)) {
        outcome = FlagOutcome::Exists;
      } else {
        SetLastError(error);
        noteSystemFailure();
      }
    }
  }
  if (outcome != FlagOutcome::Taken) {
    removeAndClose(handle);
    return outcome;
  }
  *flag = HeldFlag{fileOf(handle), path};
  return outcome;
}

Adoption adoptFlag(const std::string& path, const FlagContentTest& accepts, HeldFlag* flag,
                   std::string* found) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Adoption adoption =
      openUnheld(path, GENERIC_READ | GENERIC_WRITE | DELETE, accepts, &handle, found);
  if (adoption == Adoption::Adopted) *flag = HeldFlag{fileOf(handle), path};
  return adoption;
}

bool rewriteFlag(const HeldFlag& flag, const std::string& content) {
  return checked(writeAt(handleOf(flag.file), content));
}

bool releaseFlag(HeldFlag* flag) {
  if (flag->file == kNoFile) return true;
  bool removed = removeAndClose(handleOf(flag->file));
  flag->file = kNoFile;
  return removed;
}

void abandonFlag(HeldFlag* flag) {
  if (flag->file == kNoFile) return;
  AcquireSRWLockExclusive(&createdLock);
  if (created == handleOf(flag->file)) created = INVALID_HANDLE_VALUE;
  CloseHandle(handleOf(flag->file));
  ReleaseSRWLockExclusive(&createdLock);
  flag->file = kNoFile;
}

// Each flag has a temporary file of its own, which becomes the flag.
bool dropFlagFile(const std::string&) { return true; }

FlagLook lookAtFlag(const std::string& path, std::string* content) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  switch (openPlainFile(path, GENERIC_READ, kFullSharing, &handle)) {
    case Opening::Opened: break;
    case Opening::Missing: return FlagLook::Missing;
    case Opening::NotRegularFile: return FlagLook::NotRegularFile;
    case Opening::Failed: return FlagLook::Unreadable;
  }
  *content = firstBytes(handle);
  CloseHandle(handle);
  return FlagLook::Read;
}

bool removeUnheldFile(const std::string& path, const FlagContentTest& removable) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string found;
  if (openUnheld(path, GENERIC_READ | DELETE, removable, &handle, &found) != Adoption::Adopted) {
    return false;
  }
  bool removed = deleteByHandle(handle);
  CloseHandle(handle);
  return removed;
}

void removeHeldFlags() {
  // Once only: the console handler and exit may both come here, and the
  // lock, which is not re-entrant, is kept by the first. The process is
  // ending, and from here on the main thread may neither take nor let go a
  // flag.
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) return;
  AcquireSRWLockExclusive(&createdLock);
  if (created == INVALID_HANDLE_VALUE) return;
  deleteByHandle(created);
  CloseHandle(created);
  created = INVALID_HANDLE_VALUE;
}
