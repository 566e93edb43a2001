// Busy flags on disk: small files whose mere names keep other programs off
// some files, taken and given up the same way on every file system.
//
// The flags this process takes are held: no other process can take the lock
// on a held flag (POSIX) or open it for writing (Windows), so a
// flag that nobody holds was left by a process that died. A flag this
// process created is removed when the process is interrupted (SIGINT,
// SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break or a closed console) or
// calls exit; a process killed outright (kill -9, TerminateProcess) leaves
// it in place, unheld, on every system. A flag this process took over from
// a dead process (adoptFlag), or let go with abandonFlag, stays in place in
// all these cases, as the dead process left it: only releaseFlag removes it.
//
// A call that fails for another reason than a name taken notes the
// system's words for it (failure.h).
//
// No call here opens what it has not first seen to be a regular file, and
// none waits: a FIFO named like a flag is never opened, so a writer blocked
// on it stays blocked and loses nothing.
#pragma once

#include <functional>
#include <string>

#include "base/platform.h"

struct HeldFlag {
  FileHandle file = kNoFile;
  std::string path;
};

enum class FlagOutcome {
  Taken,   // created holding exactly the content, and held
  Exists,  // an entry of some kind had the name: left as it was
  Failed,  // not created for another reason; nothing left behind
};

// Creates the flag `path` holding exactly `content`, exclusively, and holds
// it. The content is written whole first, into the file `temporary` in the
// same directory, and the flag is then made a new name of it (a hard link:
// the one file serves every flag of the process and stays until
// dropFlagFile) or, on a file system without hard links, the temporary is
// renamed to the flag without replacing anything (a new temporary for each
// flag). So the flag never exists empty or in part. Only on a file system
// that has neither is the flag created under its own name and written at
// once, and a process killed in that instant leaves it empty. The calls for
// the flags of one directory pass the same temporary (in that directory)
// and content; how a flag gets its name is found anew for each temporary,
// as each directory may lie on a file system of its own.
FlagOutcome createFlag(const std::string& path, const std::string& temporary,
                       const std::string& content, HeldFlag* flag);

// The content of a file, as much of it as a flag could hold.
using FlagContentTest = std::function<bool(const std::string& content)>;

// Accepts whatever a file holds: a temporary file of ours is known by its name.
inline bool anyContent(const std::string&) { return true; }

enum class Adoption {
  Adopted,       // held, unchanged; its content is in `found`
  Vanished,      // nothing has the name
  NotAdoptable,  // anything else: held by a live process, not a regular
                 // file, content refused, put in place of the file looked
                 // at, or not writable by this process
};

// Takes over the flag `path` that a dead process left, without removing or
// changing anything: a regular file that nobody holds, whose content
// `accepts` takes, and that the name still stands for once it is held. Of
// two processes adopting the same flag at once, exactly one gets it.
Adoption adoptFlag(const std::string& path, const FlagContentTest& accepts, HeldFlag* flag,
                   std::string* found);

// Writes `content` over the held flag from its start in one write. It must
// be at least as long as what the flag holds, so that the flag then holds
// `content` alone, and at no moment anything else. False when the write
// failed.
bool rewriteFlag(const HeldFlag& flag, const std::string& content);

// Removes the held flag, unless its name has come to stand for another file,
// and lets it go. False when the name could not be removed.
bool releaseFlag(HeldFlag* flag);

// Lets a held flag go and leaves it where it is, holding what it holds, as a
// dead process would have left it: no handler removes it any more.
void abandonFlag(HeldFlag* flag);

// Removes the file the flags were written in, once no flag is held. False
// when it could not be removed.
bool dropFlagFile(const std::string& temporary);

enum class FlagLook {
  Missing,         // nothing has the name
  NotRegularFile,  // a directory, FIFO, device or link: not opened
  Read,            // a regular file, whose content is in `content`
  Unreadable,      // a regular file that cannot be read
};

// What is under `path`, and the content of a regular file, read without
// taking any lock: nothing another process could see as held.
FlagLook lookAtFlag(const std::string& path, std::string* content);

// Removes `path` when it is a regular file that nobody holds and whose
// content `removable` accepts; anything else is left as it is. True when it
// was removed.
bool removeUnheldFile(const std::string& path, const FlagContentTest& removable);

// Removes every flag this process created and still holds, and the file the
// flags are written in, each only while its name stands for the file held.
// Safe in a signal handler: the handlers of interruptions and of exit call it.
void removeHeldFlags();
