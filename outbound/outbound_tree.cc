#include "outbound/outbound_tree.h"

#include <vector>

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/messages.h"

namespace {

bool areHexDigits(std::string_view text) {
  for (char c : text) {
    if (!asciiIsHexDigit(c)) return false;
  }
  return true;
}

std::string withoutTrailingSeparators(std::string path) {
  const std::size_t root = rootLength(path);
  while (path.size() > root && isPathSeparator(path.back())) path.pop_back();
  return path;
}

// Where the last component of a path without trailing separators begins.
std::size_t lastComponentAt(const std::string& path) {
  const std::size_t root = rootLength(path);
  std::size_t at = path.size();
  while (at > root && !isPathSeparator(path[at - 1])) --at;
  return at;
}

// An outbound named by a root, "." or ".." has no name of its own for zone
// outbounds to carry.
bool hasZoneOutbounds(const std::string& outboundName) {
  return !outboundName.empty() && outboundName != "." && outboundName != "..";
}

// The names of the directory's subdirectories that `wanted` accepts, in the
// order packets are taken in; false after reporting that it cannot be
// listed. Something that is no directory (any more) has none.
bool listSubdirectories(const std::string& directory, const EntryFilter& wanted,
                        std::vector<std::string>* names) {
  if (listNames(directory, wanted, names) != ListingOutcome::Failed) return true;
  reportFailure("Error: cannot read %s\n", directory.c_str());
  return false;
}

// A directory of packets and then those of its points.
bool addWithPoints(const std::string& directory, std::vector<std::string>* directories) {
  directories->push_back(directory);
  std::vector<std::string> points;
  if (!listSubdirectories(directory, isPointDirectoryEntry, &points)) return false;
  for (const std::string& point : points) directories->push_back(joinPath(directory, point));
  return true;
}

// Every directory of the tree, in the order of the walk.
bool listTree(const std::string& outboundDir, std::vector<std::string>* directories) {
  if (!addWithPoints(outboundDir, directories)) return false;
  const std::string outboundName = outboundNameOf(outboundDir);
  std::vector<std::string> zones;
  if (hasZoneOutbounds(outboundName) &&
      !listSubdirectories(
          holdingDirectoryOf(outboundDir),
          [&](const DirectoryEntry& entry) { return isZoneOutboundEntry(entry, outboundName); },
          &zones)) {
    return false;
  }
  for (const std::string& zone : zones) {
    if (!addWithPoints(zoneOutboundPath(outboundDir, zone), directories)) return false;
  }
  return true;
}

}  // namespace

bool isPointDirectoryEntry(const DirectoryEntry& entry) {
  const std::string_view name = entry.name;
  return entry.kind == EntryKind::Directory && name.size() == 12 &&
         areHexDigits(name.substr(0, 8)) && asciiEqualIgnoringCase(name.substr(8), ".pnt");
}

bool isZoneOutboundEntry(const DirectoryEntry& entry, const std::string& outboundName) {
  if (!hasZoneOutbounds(outboundName)) return false;
  const std::string_view name = entry.name;
  const std::size_t n = outboundName.size();
  return entry.kind == EntryKind::Directory && name.size() == n + 4 &&
         name.substr(0, n) == outboundName && name[n] == '.' && areHexDigits(name.substr(n + 1));
}

std::string outboundNameOf(const std::string& outboundDir) {
  const std::string path = withoutTrailingSeparators(outboundDir);
  return path.substr(lastComponentAt(path));
}

std::string holdingDirectoryOf(const std::string& outboundDir) {
  const std::string path = withoutTrailingSeparators(outboundDir);
  std::size_t end = lastComponentAt(path);
  if (end == 0) return ".";
  const std::size_t root = rootLength(path);
  while (end > root && isPathSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::string zoneOutboundPath(const std::string& outboundDir, const std::string& zoneName) {
  return withoutTrailingSeparators(outboundDir) + zoneName.substr(zoneName.size() - 4);
}

ScanOutcome scanOutboundTree(const std::string& outboundDir, const NodeAddress& newOrigin,
                             const DestinationList& destinations, ScanRun* run) {
  std::vector<std::string> directories;
  if (!listTree(outboundDir, &directories)) return ScanOutcome::Failed;
  // What interrupted runs left anywhere in the tree is finished before any
  // directory's own packets, so that no failure on the way keeps it.
  std::vector<OutboundDirectory> listed(directories.size());
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (!listOutboundDirectory(directories[i], newOrigin, run, &listed[i]) ||
        finishInterruptedWork(&listed[i]) == ScanOutcome::Failed) {
      return ScanOutcome::Failed;
    }
  }
  for (OutboundDirectory& directory : listed) {
    if (handlePackets(&directory, destinations) == ScanOutcome::Failed) return ScanOutcome::Failed;
  }
  return ScanOutcome::Completed;
}
