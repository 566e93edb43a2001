#include "packet/outbound_scan.h"

#include <utility>

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/messages.h"
#include "base/platform.h"
#include "packet/interrupted_runs.h"
#include "packet/packet_handling.h"

namespace {

bool isPacketEntry(const DirectoryEntry& entry) {
  // A link named like a packet could lead to any file of the system.
  return entry.kind == EntryKind::RegularFile && isPacketName(entry.name);
}

// The packets' names, sorted, and the flags of the outbound. The listing
// itself is let go before the packets are handled. False when the directory
// cannot be listed completely; a path that is no directory has neither.
bool listOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                  std::vector<std::string>* names, BusyFlags* flags) {
  std::vector<DirectoryEntry> entries;
  if (listDirectory(outboundDir, &entries) == ListingOutcome::Failed) return false;
  *flags = busyFlagsOf(outboundDir, entries, newOrigin);
  *names = sortedNames(std::move(entries), isPacketEntry);
  return true;
}

bool processPackets(const std::vector<std::string>& names, const Work& work, Scan* scan) {
  for (const std::string& name : names) {
    // A node's flag goes before the packets of the next node are looked at.
    if (!holdsNodeFlag(scan->flags, name) && !releaseNodeFlagOf(scan)) return false;
    if (!processPacket(name, work, scan)) return false;
  }
  return true;
}

// Every flag of the run goes, and the file they were written in.
bool releaseFlagsOf(Scan* scan) {
  if (!releaseNodeFlagOf(scan)) return false;
  if (dropFlagFile(scan->flags)) return true;
  reportNotRemoved(scan->flags.temporary);
  return false;
}

}  // namespace

bool isPacketName(const std::string& name) {
  std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.') return false;
  if (!asciiEqualIgnoringCase(std::string_view(name).substr(n - 2), "ut")) return false;
  char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'O';
}

ScanOutcome scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                         const DestinationList& destinations, ScanMode mode, MessageArea* area) {
  Scan scan;
  scan.area = area;
  std::vector<std::string> names;
  if (!listOutbound(outboundDir, newOrigin, &names, &scan.flags)) {
    reportMessage("Error: cannot read %s\n", outboundDir.c_str());
    return ScanOutcome::Failed;
  }
  scan.directoryPath = outboundDir;
  scan.preview = mode == ScanMode::Preview;
  scan.directory = openDirectory(outboundDir);
  if (!scan.preview) removeDeadTemporaries(scan.flags);
  Work work;
  work.origin = newOrigin;
  work.destinations = &destinations;
  bool completed =
      finishInterruptedRuns(names, &scan) && processPackets(names, work, &scan);
  if (scan.directory != kNoFile) closeFile(scan.directory);
  // Also after a failure: no flag of ours that the run made outlives it.
  if (!releaseFlagsOf(&scan) || !completed) return ScanOutcome::Failed;
  return scan.busyNodeLeft ? ScanOutcome::BusyNodeLeft : ScanOutcome::Completed;
}
