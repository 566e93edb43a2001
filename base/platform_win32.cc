// One rule for names: every narrow string the program holds (arguments,
// names from the listing, paths in messages) is in the ANSI code page, as the
// C runtime hands over the arguments. This file turns a path into UTF-16 with
// MultiByteToWideChar(CP_ACP) right before each system call (systemPath),
// turns listed names back with WideCharToMultiByte(CP_ACP), and calls only
// the wide functions of Win32 and the C runtime, so that a path too long for
// MAX_PATH can take their extended-length form.
#include "base/platform.h"

#include <windows.h>

#include <aclapi.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "base/failure.h"
#include "base/flag_file.h"
#include "base/win32_support.h"

// The C runtime would otherwise expand wildcards in the arguments, and an
// asterisk in the destination list must reach the program as it was typed.
extern "C" int _dowildcard;
int _dowildcard = 0;

namespace {

// The most one ReadFile or WriteFile call is asked to move.
constexpr std::size_t kLargestTransfer = 1u << 30;

// Longer paths take the extended-length form. MAX_PATH less the 12
// characters of an 8.3 name is the limit for a directory, the tighter one.
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;

// False when the name has a character the ANSI code page cannot hold: such
// a name could not be opened again under its narrow form.
bool narrowName(const wchar_t* name, std::string* narrow) {
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr,
                                   &lossy);
  if (length <= 0 || lossy) return false;
  narrow->assign(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, &(*narrow)[0], length, nullptr,
                      nullptr);
  narrow->pop_back();  // the terminating NUL
  return true;
}

DWORD transferSize(std::size_t size) {
  return static_cast<DWORD>(size < kLargestTransfer ? size : kLargestTransfer);
}

bool isDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// True when the open that just failed met a file that a program has
// deleted while another still holds it open: the system keeps its name
// until the last handle goes, but it is gone for every purpose of ours.
bool metDeletePending() {
  constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
  using LastStatus = LONG(WINAPI*)();
  // Asked of ntdll at run time, which every Windows has, so that the
  // program needs no import library beyond the usual ones.
  static const LastStatus lastStatus = reinterpret_cast<LastStatus>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
  return lastStatus != nullptr && lastStatus() == kStatusDeletePending;
}

// Opens the plain disk file at `path`, never a link, directory or device.
OpenOutcome openExistingFile(const std::string& path, DWORD access, DWORD sharing,
                             FileHandle* file) {
  *file = kNoFile;
  HANDLE handle = CreateFileW(systemPath(path).c_str(), access, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        (error == ERROR_ACCESS_DENIED && metDeletePending())) {
      return OpenOutcome::Vanished;
    }
    if (error == ERROR_SHARING_VIOLATION) return OpenOutcome::InUse;
    noteSystemFailure();
    return isDirectory(path) ? OpenOutcome::NotRegularFile : OpenOutcome::Failed;
  }
  if (!isPlainDiskFile(handle)) {
    CloseHandle(handle);
    return OpenOutcome::NotRegularFile;
  }
  *file = fileOf(handle);
  return OpenOutcome::Opened;
}

// ---- Interruptions

// Held by the main thread while interruptions wait.
CRITICAL_SECTION interruptionsDeferred;

BOOL WINAPI onConsoleEvent(DWORD) {
  // Waits for the work in hand, removes the flag the process holds; the
  // default handler then ends the process.
  EnterCriticalSection(&interruptionsDeferred);
  removeHeldFlags();
  return FALSE;
}

}  // namespace

std::wstring widePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  int size = static_cast<int>(path.size());
  int length = MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), size, &wide[0], length);
  return wide;
}

std::wstring fullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return std::wstring();
  full.resize(length);
  return full;
}

// A full path as the wide functions take it: a long one gets the prefix
// \\?\ (\\?\UNC\ for a network path), which lifts the MAX_PATH limit.
std::wstring extendedWhenLong(const std::wstring& full) {
  if (full.size() < kLongestPlainPath) return full;
  if (full.compare(0, 4, L"\\\\?\\") == 0) return full;  // written in that form
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The path as the wide functions take it. A long one is made absolute and
// extended; that form is taken literally, so GetFullPathNameW first turns
// slashes into backslashes and resolves "." and "..".
std::wstring systemPath(const std::string& path) {
  std::wstring wide = widePath(path);
  if (wide.size() < kLongestPlainPath) return wide;
  std::wstring full = fullPath(wide);
  return full.empty() ? wide : extendedWhenLong(full);
}

OVERLAPPED at(std::int64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return position;
}

// Reparse points (symbolic links, junctions and their kind) are passed over
// like links on POSIX: they could lead out of the outbound.
EntryKind kindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::SymbolicLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
  return EntryKind::RegularFile;
}

bool isPlainDiskFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileType(handle) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(handle, &information) &&
         kindOf(information.dwFileAttributes) == EntryKind::RegularFile;
}

bool deleteByHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// The new name must be absolute: a bare one would be taken relative to the
// current directory.
bool renameByHandle(HANDLE handle, const std::string& path, bool replace) {
  std::wstring name = extendedWhenLong(fullPath(widePath(path)));
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), rename->FileName);
  rename->FileName[name.size()] = L'\0';
  return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()));
}

void prepareProcess() {
  // Files are opened as handles, never as C runtime descriptors, so a
  // missing standard stream cannot lend its number to one of them.
  InitializeCriticalSection(&interruptionsDeferred);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  std::atexit(removeHeldFlags);
}

char pathSeparator() { return '\\'; }

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string joinPath(const std::string& dir, const std::string& name) {
  // "X:" alone is the drive's current directory, which "X:\name" would leave.
  if (dir.size() == 2 && rootLength(dir) == 2) return dir + name;
  return dir + '\\' + name;
}

std::size_t rootLength(const std::string& path) {
  if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':') {
    return path.size() >= 3 && isPathSeparator(path[2]) ? 3 : 2;
  }
  if (path.size() >= 2 && isPathSeparator(path[0]) && isPathSeparator(path[1])) {
    // \\server\share\ of a network path, which cannot be left upwards.
    std::size_t end = 2;
    for (int name = 0; name < 2; ++name) {
      while (end < path.size() && !isPathSeparator(path[end])) ++end;
      if (end < path.size()) ++end;  // its separator belongs to the root
    }
    return end;
  }
  return !path.empty() && isPathSeparator(path[0]) ? 1 : 0;
}

bool pathExists(const std::string& path) {
  return GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// GetFileAttributesW does not follow a reparse point at the end of the path.
bool nameExists(const std::string& path) { return pathExists(path); }

bool nameStandsFor(const std::string& path, FileHandle file) {
  // No access asked for, so that no sharing mode can refuse the open.
  HANDLE named = CreateFileW(systemPath(path).c_str(), 0, kFullSharing, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  bool same = GetFileInformationByHandle(named, &a) &&
              GetFileInformationByHandle(handleOf(file), &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

std::string systemErrorText() {
  const DWORD error = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  LocalFree(text);
  while (!words.empty() && (words.back() == '\r' || words.back() == '\n' ||
                            words.back() == ' ' || words.back() == '.')) {
    words.pop_back();
  }
  return words;
}

const char* textLineEnd() { return "\r\n"; }

ListingOutcome listDirectory(const std::string& dir, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(systemPath(joinPath(dir, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (!isDirectory(dir)) return ListingOutcome::NotADirectory;
    // Only a drive's empty root has not even "." and "..".
    if (error == ERROR_FILE_NOT_FOUND) return ListingOutcome::Listed;
    SetLastError(error);
    noteSystemFailure();
    return ListingOutcome::Failed;
  }
  do {
    std::string name;
    if (!isDotOrDotDot(found.cFileName) && narrowName(found.cFileName, &name)) {
      entries->push_back(DirectoryEntry{name, kindOf(found.dwFileAttributes)});
    }
  } while (FindNextFileW(search, &found));
  bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  checked(complete);
  FindClose(search);
  return complete ? ListingOutcome::Listed : ListingOutcome::Failed;
}

// Files are opened by their full path.
FileHandle openDirectory(const std::string&) { return kNoFile; }

OpenOutcome openPacketFile(FileHandle, const std::string&, const std::string& path,
                           FileHandle* file) {
  // A mailer may remove a packet it has sent at any moment, also while
  // the run has it open.
  return openExistingFile(path, GENERIC_READ | GENERIC_WRITE, kFullSharing, file);
}

FileHandle openStatusLogFile(const std::string& path) {
  // Appending only: every write goes to the end of the file.
  HANDLE handle = CreateFileW(systemPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return fileOf(handle);
  if (GetLastError() == ERROR_SHARING_VIOLATION) {
    noteFailure("held by another run");
  } else {
    noteSystemFailure();
  }
  return kNoFile;
}

std::FILE* openConfigFile(const std::string& path) {
  std::FILE* file = _wfsopen(systemPath(path).c_str(), L"rb", _SH_DENYWR);
  if (file == nullptr) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (!isPlainDiskFile(handle)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

std::int64_t readFileBytesAt(FileHandle file, std::int64_t offset, void* buffer,
                             std::size_t size) {
  OVERLAPPED position = at(offset);
  DWORD got = 0;
  if (ReadFile(handleOf(file), buffer, transferSize(size), &got, &position)) return got;
  if (GetLastError() == ERROR_HANDLE_EOF) return 0;
  noteSystemFailure();
  return -1;
}

std::int64_t writeFileBytesAt(FileHandle file, std::int64_t offset, const void* buffer,
                              std::size_t size) {
  OVERLAPPED position = at(offset);
  DWORD put = 0;
  if (!checked(WriteFile(handleOf(file), buffer, transferSize(size), &put, &position))) return -1;
  return put;
}

std::int64_t writeFileBytes(FileHandle file, const void* buffer, std::size_t size) {
  DWORD put = 0;
  if (!checked(WriteFile(handleOf(file), buffer, transferSize(size), &put, nullptr))) return -1;
  return put;
}

namespace {

bool statusOf(HANDLE handle, FileStatus* status) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!checked(GetFileInformationByHandle(handle, &information))) return false;
  status->length = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
  status->modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
      information.ftLastWriteTime.dwLowDateTime);
  status->regular = GetFileType(handle) == FILE_TYPE_DISK &&
                    kindOf(information.dwFileAttributes) == EntryKind::RegularFile;
  status->names = information.nNumberOfLinks;
  status->identity = {information.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) |
                          information.nFileIndexLow};
  return true;
}

}  // namespace

// A file open without delete sharing can be neither removed nor renamed.
bool fileStatus(FileHandle file, FileStatus* status) { return statusOf(handleOf(file), status); }

bool nameStatus(const std::string& path, FileStatus* status) {
  // No access asked for, so that no sharing mode can refuse the open.
  HANDLE named = CreateFileW(systemPath(path).c_str(), 0, kFullSharing, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  bool known = statusOf(named, status);
  CloseHandle(named);
  return known;
}

OpenOutcome openFileForReading(const std::string& path, FileHandle* file) {
  return openExistingFile(path, GENERIC_READ, kFullSharing, file);
}

FileHandle createHeldFile(const std::string& path) {
  // Not shared for writing, as a held flag is; WRITE_DAC and WRITE_OWNER
  // to give it the access of the file it is to replace.
  HANDLE handle = CreateFileW(systemPath(path).c_str(),
                              GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return checked(handle != INVALID_HANDLE_VALUE) ? fileOf(handle) : kNoFile;
}

bool makeDirectory(const std::string& path) {
  return checked(CreateDirectoryW(systemPath(path).c_str(), nullptr) != 0);
}

bool removeTree(const std::string& path) {
  const std::wstring name = systemPath(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  // A reparse point goes as a link goes, whatever it leads to.
  if (kindOf(attributes) == EntryKind::Directory) {
    std::vector<DirectoryEntry> entries;
    if (listDirectory(path, &entries) != ListingOutcome::Listed) return false;
    bool removed = true;
    for (const DirectoryEntry& entry : entries) {
      removed = removeTree(joinPath(path, entry.name)) && removed;
    }
    return checked(RemoveDirectoryW(name.c_str()) != 0) && removed;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return checked(RemoveDirectoryW(name.c_str()) != 0);
  return checked(DeleteFileW(name.c_str()) != 0);
}

std::string temporaryDirectory() {
  wchar_t wide[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, wide);
  std::string narrow;
  if (length == 0 || length > MAX_PATH || !narrowName(wide, &narrow)) return ".";
  while (narrow.size() > rootLength(narrow) && isPathSeparator(narrow.back())) narrow.pop_back();
  return narrow;
}

std::string absolutePath(const std::string& path) {
  std::string narrow;
  const std::wstring full = fullPath(widePath(path));
  return !full.empty() && narrowName(full.c_str(), &narrow) ? narrow : path;
}

FileHandle openToReplaceWith(const std::string& path) {
  FileHandle file = kNoFile;
  const OpenOutcome outcome = openExistingFile(
      path, GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER, kFullSharing, &file);
  if (outcome == OpenOutcome::Opened) return file;
  if (outcome != OpenOutcome::Failed) noteFailure("it is no plain file");
  return kNoFile;
}

bool flushToStorage(FileHandle file) { return checked(FlushFileBuffers(handleOf(file)) != 0); }

bool copyOwnerAndPermissions(FileHandle model, FileHandle file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr, group = nullptr;
  PACL access = nullptr;
  if (GetSecurityInfo(handleOf(model), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                          DACL_SECURITY_INFORMATION,
                      &owner, &group, &access, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  // What the old file inherits from the directory the new one inherits
  // too; only its own entries are given, and its protection, if any.
  const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED)
                                               ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION;
  const bool given = SetSecurityInfo(handleOf(file), SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                                     access, nullptr) == ERROR_SUCCESS;
  // Who owns a file decides nothing of who may use it once its access
  // list is given, and only a backup operator may give it to another.
  if (given) {
    SetSecurityInfo(handleOf(file), SE_FILE_OBJECT,
                    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner, group, nullptr,
                    nullptr);
  }
  LocalFree(descriptor);
  return given;
}

bool replaceWithFile(FileHandle file, const std::string&, const std::string& to) {
  if (!checked(renameByHandle(handleOf(file), to, true))) return false;
  CloseHandle(handleOf(file));
  return true;
}

bool removeHeldFile(FileHandle file, const std::string&) {
  bool removed = checked(deleteByHandle(handleOf(file)));
  return checked(CloseHandle(handleOf(file))) && removed;
}

bool closeFile(FileHandle file) { return checked(CloseHandle(handleOf(file)) != 0); }

std::size_t filePageSize() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwPageSize;
}

unsigned long processId() { return GetCurrentProcessId(); }

void deferInterruptions() { EnterCriticalSection(&interruptionsDeferred); }

void allowInterruptions() { LeaveCriticalSection(&interruptionsDeferred); }

unsigned char* allocatePages(std::size_t size) {
  void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (pages == nullptr) throw std::bad_alloc();
  return static_cast<unsigned char*>(pages);
}

void releasePages(unsigned char* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

std::tm localTime(std::time_t moment) {
  std::tm broken{};
  localtime_s(&broken, &moment);
  return broken;
}
