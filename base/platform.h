// The few operating-system services that differ between POSIX and Windows.
// Each platform implements all of them in one file of its own
// (platform_posix.cc, platform_win32.cc); nothing else in the program
// asks which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Makes the process safe to start from any parent: the standard streams are
// open (on POSIX a closed descriptor 0, 1 or 2 gets /dev/null, so that no
// file the program opens can take its number and receive console text), a
// write to a pipe or FIFO whose reader has gone fails instead of killing the
// process, and an interruption removes a held flag first (see Busy flags).
// Called before anything else.
void prepareProcess();

// The separator the platform writes between a directory and a name.
char pathSeparator();

// The directory and a name as one path: normally dir, separator, name.
std::string joinPath(const std::string& dir, const std::string& name);

// How many leading characters of the path name a root of the file system
// ("/"; on Windows "\", "X:\" or the drive's current directory "X:"), 0
// when it begins with none. A trailing separator inside the root belongs to it.
std::size_t rootLength(const std::string& path);

// True when anything exists under the path; a dangling link does not.
bool pathExists(const std::string& path);

// True when the name itself exists, whatever it is: a file, a directory, a
// FIFO, or a symbolic link even when it leads nowhere.
bool nameExists(const std::string& path);

// The line end of text files and the console: "\n", or "\r\n" on Windows.
const char* textLineEnd();

// ---- Directory listing

enum class EntryKind { RegularFile, SymbolicLink, Other };

struct DirectoryEntry {
  std::string name;
  EntryKind kind = EntryKind::Other;  // of the entry itself, links not followed
};

enum class ListingOutcome {
  Listed,         // every entry delivered (none for an empty directory)
  NotADirectory,  // the path names something else, or nothing
  Failed,         // a directory that cannot be listed completely
};

// The entries of a directory in no particular order, "." and ".." left out.
// An entry whose name the platform cannot give in the program's narrow
// character set is left out too.
ListingOutcome listDirectory(const std::string& dir, std::vector<DirectoryEntry>* entries);

// ---- Files

// An open file: a descriptor on POSIX, a handle on Windows.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

enum class OpenOutcome {
  Opened,
  NotRegularFile,  // a link or a directory (on Windows anything but a disk file): not opened
  Vanished,        // nothing has the name any more
  Failed,
};

// Opens a directory so that files can be opened in it by name (POSIX), or
// kNoFile, which makes openPacketFile use the path (Windows).
FileHandle openDirectory(const std::string& path);

// Opens an existing packet for reading and writing, untranslated, with full
// sharing, never creating it, never following a symbolic link in its last
// component and never waiting: the packet `name` in the open `directory`,
// or at `path` when that is kNoFile. On POSIX what the name stands for is
// not looked at (a FIFO put in its place opens and then cannot be read; ask
// fileStatus before writing); on Windows only a plain disk file opens.
OpenOutcome openPacketFile(FileHandle directory, const std::string& name,
                           const std::string& path, FileHandle* file);

// Opens the status log for appending, creating it when missing, without
// waiting: a FIFO without a reader cannot be opened. While it stays open no
// other process may write to it (POSIX: an exclusive advisory lock taken
// without waiting; Windows: a deny-write share mode). Returns kNoFile when it
// cannot be opened or is held by another run.
FileHandle openStatusLogFile(const std::string& path);

// Opens an existing regular file for reading, untranslated, without waiting;
// other processes may read it but not write it while it is open. Returns
// null on any failure, and for anything but a regular file.
std::FILE* openConfigFile(const std::string& path);

// One read or write of at most `size` bytes: the number of bytes moved (0 at
// the end of the file), or -1 on failure. The positioned forms work at an
// absolute offset; writeFileBytes writes where the file is (at its end for
// the status log).
std::int64_t readFileBytesAt(FileHandle file, std::int64_t offset, void* buffer,
                             std::size_t size);
std::int64_t writeFileBytesAt(FileHandle file, std::int64_t offset, const void* buffer,
                              std::size_t size);
std::int64_t writeFileBytes(FileHandle file, const void* buffer, std::size_t size);

struct FileStatus {
  std::int64_t length = 0;  // in bytes
  bool removed = false;     // every name of the file is gone since it was opened
  bool regular = false;     // a plain file, not a FIFO, device or directory
};

// What an open file is now; false when that cannot be learned.
bool fileStatus(FileHandle file, FileStatus* status);

bool closeFile(FileHandle file);

// The size of the pages in which the system moves file data. A write that
// stays inside one page reaches the file whole or not at all when the
// process is killed during it.
std::size_t filePageSize();

// ---- Busy flags
//
// A flag is a small file whose mere name keeps other programs off some files.
// The flags this process takes are held: no other process can take the lock
// on a held flag (POSIX) or delete it (Windows), and a flag nobody holds is
// known to be left by a process that died. A held flag is removed when the
// process is interrupted (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break or a closed console) or calls exit; a process killed outright
// leaves it unheld (POSIX), or the system removes it (Windows).

struct HeldFlag {
  FileHandle file = kNoFile;
  std::string path;
};

enum class FlagOutcome {
  Taken,   // created holding exactly the content, and held
  Exists,  // an entry of some kind had the name: left as it was
  Failed,  // not created for another reason; nothing left behind
};

// The content of a file, as much of it as a flag could hold.
using FlagContentTest = std::function<bool(const std::string& content)>;

// Accepts whatever a file holds: a temporary file of ours is known by its name.
inline bool anyContent(const std::string&) { return true; }

// Creates the flag `path` holding exactly `content`, atomically and
// exclusively, and holds it. The flag never exists empty or in part: the
// content is written whole first, into the file `temporary` in the same
// directory, and the flag is made a new name of it (on POSIX the one file
// serves every flag of the process, and stays until dropFlagFile; where the
// file system has no hard links, the flag is written right after its
// create instead). An existing entry of any kind under the name is left
// alone, unless it is a regular file that nobody holds and whose content
// `replaceable` accepts: that one is replaced by the new flag. Every call of
// a process passes the same temporary and content.
FlagOutcome takeFlag(const std::string& path, const std::string& temporary,
                     const std::string& content, const FlagContentTest& replaceable,
                     HeldFlag* flag);

// Removes the held flag, unless its name has come to stand for another file,
// and lets it go. False when the name could not be removed.
bool releaseFlag(HeldFlag* flag);

// Removes the file the flags were written in, once no flag is held. False
// when it could not be removed.
bool dropFlagFile(const std::string& temporary);

// Removes `path` when it is a regular file that nobody holds and whose
// content `removable` accepts; anything else is left as it is. True when it
// was removed.
bool removeUnheldFile(const std::string& path, const FlagContentTest& removable);

// True when `path` is a regular file that nobody holds and whose content
// `accepts` takes, as removeUnheldFile would find it; nothing is changed.
bool isUnheldFile(const std::string& path, const FlagContentTest& accepts);

// The process's id, as flags name it.
unsigned long processId();

// From deferInterruptions to allowInterruptions an interruption waits, so
// that work in hand is finished first; allowInterruptions then acts on it.
void deferInterruptions();
void allowInterruptions();

// ---- Memory

// Memory taken from the system in whole pages and given back to it as soon
// as it is released, so that a large buffer replaced by a larger one leaves
// no hole in the heap behind it. Throws std::bad_alloc when the memory
// cannot be had.
unsigned char* allocatePages(std::size_t size);
void releasePages(unsigned char* pages, std::size_t size);

// ---- Time

// The local broken-down time of a moment.
std::tm localTime(std::time_t moment);
