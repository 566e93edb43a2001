#include "outbound/leftovers.h"

#include <vector>

#include "base/ascii.h"
#include "base/flag_file.h"

namespace {

const char kPrefix[] = ".pelorin-";
const char kLockSuffix[] = ".held";
const char* const kSuffixes[] = {".tmp", "-bundle.tmp", "-pack.held", "-unpack.held",
                                 "-check.held"};

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ownName(unsigned long processId, const std::string& suffix) {
  return kPrefix + std::to_string(processId) + suffix;
}

}  // namespace

bool isOwnLeftoverName(const std::string& name) {
  const std::size_t prefix = sizeof kPrefix - 1;
  if (name.compare(0, prefix, kPrefix) != 0) return false;
  std::size_t end = prefix;
  while (end < name.size() && asciiIsDigit(name[end])) ++end;
  if (end == prefix) return false;
  for (const char* suffix : kSuffixes) {
    if (name.compare(end, std::string::npos, suffix) == 0) return true;
  }
  return false;
}

void removeIfDead(const std::string& path) {
  if (!endsWith(path, kLockSuffix)) {
    removeUnheldFile(path, anyContent);
    return;
  }
  // Held while the directory goes, so that no other run takes it for a
  // dead one's half removed.
  HeldFlag lock;
  std::string found;
  if (adoptFlag(path, anyContent, &lock, &found) != Adoption::Adopted) return;
  if (removeTree(path.substr(0, path.size() - (sizeof kLockSuffix - 1)))) {
    releaseFlag(&lock);
  } else {
    abandonFlag(&lock);
  }
}

std::string flagFileName(unsigned long processId) { return ownName(processId, ".tmp"); }

std::string bundleTemporaryName(unsigned long processId) {
  return ownName(processId, "-bundle.tmp");
}

std::string privateDirectoryName(unsigned long processId, const std::string& purpose) {
  return ownName(processId, "-" + purpose);
}

bool makePrivateDirectory(const std::string& parent, const std::string& name,
                          PrivateDirectory* directory) {
  directory->path = joinPath(parent, name);
  const std::string lockPath = directory->path + kLockSuffix;
  removeIfDead(lockPath);
  directory->lock = createHeldFile(lockPath);
  if (directory->lock == kNoFile) return false;
  if (makeDirectory(directory->path)) return true;
  removeHeldFile(directory->lock, lockPath);
  directory->lock = kNoFile;
  return false;
}

bool removePrivateDirectory(PrivateDirectory* directory) {
  if (directory->lock == kNoFile) return true;
  const bool removed = removeTree(directory->path) &&
                       removeHeldFile(directory->lock, directory->path + kLockSuffix);
  if (!removed) closeFile(directory->lock);
  directory->lock = kNoFile;
  return removed;
}

void removeDeadLeftoversIn(const std::string& directory) {
  std::vector<DirectoryEntry> entries;
  if (listDirectory(directory, &entries) != ListingOutcome::Listed) return;
  for (const DirectoryEntry& entry : entries) {
    if (isOwnLeftoverName(entry.name)) removeIfDead(joinPath(directory, entry.name));
  }
}
