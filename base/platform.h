// The few operating-system services that differ between POSIX and Windows.
// Each platform implements all of them in one file of its own
// (platform_posix.cc, platform_win32.cc); nothing else in the program
// asks which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// Makes the process safe to start from any parent: the standard streams are
// open (on POSIX a closed descriptor 0, 1 or 2 gets /dev/null, so that no
// file the program opens can take its number and receive console text), a
// write to a pipe or FIFO whose reader has gone fails instead of killing the
// process, and an interruption removes a held flag first (see flag_file.h).
// Called before anything else.
void prepareProcess();

// The separator the platform writes between a directory and a name.
char pathSeparator();

// True for a character that separates the names of a path: '/', and on
// Windows '\' as well.
bool isPathSeparator(char c);

// The directory and a name as one path: normally dir, separator, name.
std::string joinPath(const std::string& dir, const std::string& name);

// How many leading characters of the path name a root of the file system
// ("/"; on Windows "\", "X:\", the drive's current directory "X:" or a
// network share "\\server\share\"), 0 when it begins with none. A trailing
// separator inside the root belongs to it.
std::size_t rootLength(const std::string& path);

// True when anything exists under the path; a dangling link does not.
bool pathExists(const std::string& path);

// True when the name itself exists, whatever it is: a file, a directory, a
// FIFO, or a symbolic link even when it leads nowhere.
bool nameExists(const std::string& path);

// The system's own words for its last error, as it gives them ("No such
// file or directory"), without a full stop or line end at the end. Every
// function here that fails notes them (failure.h) before it returns.
std::string systemErrorText();

// The line end of text files and the console: "\n", or "\r\n" on Windows.
const char* textLineEnd();

// ---- Directory listing

enum class EntryKind { RegularFile, Directory, SymbolicLink, Other };

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
  Vanished,        // nothing has the name any more (on Windows also a file a
                   // program has deleted while another still holds it open)
  InUse,           // another program holds it open denying what was asked
                   // (Windows only: POSIX locks are advisory)
  Failed,
};

// Opens a directory so that files can be opened in it by name (POSIX), or
// kNoFile, which makes openPacketFile use the path (Windows).
FileHandle openDirectory(const std::string& path);

// Opens an existing packet for reading and writing, untranslated, sharing
// reading, writing and deletion with other programs, never creating it, never following a symbolic link in its last
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

// Which file a name or handle stands for, the same for every name of it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator<(const FileIdentity& other) const {
    return device != other.device ? device < other.device : file < other.file;
  }
};

struct FileStatus {
  std::int64_t length = 0;  // in bytes
  std::int64_t modified = 0;  // the time of the last write, in the system's finest unit
  bool regular = false;     // a plain file, not a FIFO, device, directory or link
  std::uint64_t names = 1;  // how many names (hard links) the file has
  FileIdentity identity;
};

// What an open file is now; false when that cannot be learned.
bool fileStatus(FileHandle file, FileStatus* status);

// What the name itself stands for, a link not followed, learned without
// opening it for reading or writing; false when nothing has the name or it
// cannot be learned.
bool nameStatus(const std::string& path, FileStatus* status);

// Opens an existing regular file for reading only, untranslated, sharing
// reading, writing and deletion, never following a symbolic link in its last component and never
// waiting.
OpenOutcome openFileForReading(const std::string& path, FileHandle* file);

// Creates the file `path` for writing, exclusively, and holds it as this
// process holds its busy flags (flag_file.h), so that another process can
// tell it from what a dead process left (removeUnheldFile); others may
// still read, rename or remove it. kNoFile when the name exists or the
// file cannot be created.
FileHandle createHeldFile(const std::string& path);

// A new directory that only this user may enter. False when it cannot be
// made (the name exists, among other reasons).
bool makeDirectory(const std::string& path);

// Removes what has the name and, for a directory, everything in it, links
// removed as links, never followed. True when nothing is left.
bool removeTree(const std::string& path);

// The directory for temporary files: $TMPDIR or /tmp; on Windows the
// user's temporary folder.
std::string temporaryDirectory();

// The path from the root, for a program started elsewhere to find it: a
// relative one taken from the current directory.
std::string absolutePath(const std::string& path);

// Opens an existing regular file that is to take another's place (an
// archive another program made) for replaceWithFile: to store it, give it
// access and rename it. kNoFile when it cannot be.
FileHandle openToReplaceWith(const std::string& path);

// Has the system store what was written to the file on its device.
bool flushToStorage(FileHandle file);

// Gives the new file what decides who may read, change and remove `model`,
// in this order: its owner and group, its mode, its access control list,
// then its other extended attributes (POSIX: the POSIX ACL and the "user."
// attributes); on Windows its access control list, and its owner and group
// where this process may set them. False when any of these cannot be given
// (the new file must then not take the old one's place).
bool copyOwnerAndPermissions(FileHandle model, FileHandle file);

// Renames the held file `from` (open as `file`) to `to`, replacing what has
// that name in one step, so that a reader opens the old file or the new
// one, never a mix; then closes it. On failure the file stays open.
bool replaceWithFile(FileHandle file, const std::string& from, const std::string& to);

// Removes the held file `path` (open as `file`) and closes it; false when
// it could not be removed.
bool removeHeldFile(FileHandle file, const std::string& path);

bool closeFile(FileHandle file);

// True when the name, a link not followed, stands for the open file itself:
// it has been neither removed nor replaced since the file was opened. On a
// file system that ignores letter case, every spelling of the name does.
bool nameStandsFor(const std::string& path, FileHandle file);

// The size of the pages in which the system moves file data. A write that
// stays inside one page reaches the file whole or not at all when the
// process is killed during it.
std::size_t filePageSize();

// ---- Processes

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
