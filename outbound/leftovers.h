// The files and directories a run makes for a while and removes again, and
// how a later run tells a dead run's from a live one's: each is held as a
// busy flag is held (flag_file.h), a directory through a lock file beside
// it, "<directory>.held", made before the directory and removed after it.
// All are named ".pelorin-<pid>" and a suffix.
#pragma once

#include <string>

#include "base/platform.h"

// True for the name of a file of ours that may be a dead run's leftover:
// the file our flags are written in, a new bundle before it replaces the
// old one, the lock file of a private directory.
bool isOwnLeftoverName(const std::string& name);

// Removes the leftover `path` (a name isOwnLeftoverName takes) when no live
// run holds it; for a directory's lock file, the directory goes first,
// with all it holds. Silent: what cannot be removed stays for a later run.
void removeIfDead(const std::string& path);

// The name of the file our flags are written in, of a new bundle beside
// the old one, and of the private directory `purpose` names ("pack",
// "unpack", "check").
std::string flagFileName(unsigned long processId);
std::string bundleTemporaryName(unsigned long processId);
std::string privateDirectoryName(unsigned long processId, const std::string& purpose);

struct PrivateDirectory {
  std::string path;
  FileHandle lock = kNoFile;
};

// Makes the private directory `name` in `parent`, held. A dead run's of
// the same name goes first. False when it cannot be made.
bool makePrivateDirectory(const std::string& parent, const std::string& name,
                          PrivateDirectory* directory);

// Removes the directory with all it holds, then its lock file; false when
// anything of it is left.
bool removePrivateDirectory(PrivateDirectory* directory);

// Removes the dead runs' leftovers among the entries of `directory`.
void removeDeadLeftoversIn(const std::string& directory);
