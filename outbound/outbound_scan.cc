#include "outbound/outbound_scan.h"

#include <utility>

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/messages.h"
#include "base/platform.h"
#include "outbound/bundles.h"
#include "outbound/flow_files.h"
#include "outbound/interrupted_runs.h"

namespace {

bool isPacketEntry(const DirectoryEntry& entry) {
  // A link named like a packet could lead to any file of the system.
  return entry.kind == EntryKind::RegularFile && isPacketName(entry.name);
}

bool isFlowFileEntry(const DirectoryEntry& entry) {
  return entry.kind == EntryKind::RegularFile && isFlowFileName(entry.name);
}

// Reported busy already, while a dead run's work on the node was finished.
bool reportedBusy(const Scan& scan, const std::string& name) {
  return scan.busyWhileFinishing.count(nodeBaseOf(name)) != 0;
}

// A node's flag goes before the files of the next node are looked at.
bool moveToNodeOf(const std::string& name, Scan* scan) {
  return holdsNodeFlag(scan->flags, name) || releaseNodeFlagOf(scan);
}

bool processPackets(const std::vector<std::string>& names, const Work& work, Scan* scan) {
  for (const std::string& name : names) {
    if (reportedBusy(*scan, name)) continue;
    if (!moveToNodeOf(name, scan) || !processPacket(name, work, scan)) return false;
  }
  return true;
}

// A file the line lists that counts, and has not been handled yet. One
// that is not there at all, in a node no other program is at, is reported:
// a path relative to another directory than the run's, say.
bool takesListed(const ListedFile& listed, const std::string& flowName, Scan* scan) {
  FileStatus status;
  if (listedFileCounts(listed, &status)) {
    return scan->run->listedFilesHandled.insert(status.identity).second;
  }
  if (!nameExists(listed.path) && !anotherProgramFlagsNode(scan->flags, flowName)) {
    reportMessage("%s lists %s, which is not there\n",
                  joinPath(scan->directoryPath, flowName).c_str(), listed.path.c_str());
  }
  return false;
}

bool processListedMail(const std::vector<std::string>& flowNames, const Work& work, Scan* scan) {
  for (const std::string& flowName : flowNames) {
    std::string content;
    if (!readFlowFile(joinPath(scan->directoryPath, flowName), &content)) continue;
    for (const ListedFile& listed : listedMail(content)) {
      const bool packet = listed.kind == ListedKind::Packet;
      if ((packet && reportedBusy(*scan, flowName)) || !takesListed(listed, flowName, scan)) {
        continue;
      }
      if (!moveToNodeOf(flowName, scan)) return false;
      if (!(packet ? processAttachedPacket(listed.path, flowName, work, scan)
                   : processBundle(listed.path, flowName, work, scan))) {
        return false;
      }
      // A new bundle is a new file under the same name, handled all the
      // same; an attached packet is rewritten in place.
      FileStatus now;
      if (!packet && nameStatus(listed.path, &now)) {
        scan->run->listedFilesHandled.insert(now.identity);
      }
    }
  }
  return true;
}

// True when a flow file of the directory lists mail that a run with flow
// files would take.
bool listsMail(const std::vector<std::string>& flowNames, const Scan& scan) {
  for (const std::string& flowName : flowNames) {
    std::string content;
    if (!readFlowFile(joinPath(scan.directoryPath, flowName), &content)) continue;
    for (const ListedFile& listed : listedMail(content)) {
      FileStatus status;
      if (listedFileCounts(listed, &status)) return true;
    }
  }
  return false;
}

// Every flag of the run goes, and the file they were written in.
bool releaseFlagsOf(Scan* scan) {
  if (!releaseNodeFlagOf(scan)) return false;
  if (dropFlagFile(scan->flags)) return true;
  reportNotRemoved(scan->flags.temporary);
  return false;
}

// The directory is open, to open packets in, for the length of one step.
void openScanDirectory(Scan* scan) { scan->directory = openDirectory(scan->directoryPath); }

// Ends a step: also after a failure, no flag of ours that the run made
// outlives it.
ScanOutcome endStep(Scan* scan, bool completed) {
  if (scan->directory != kNoFile) closeFile(scan->directory);
  scan->directory = kNoFile;
  return releaseFlagsOf(scan) && completed ? ScanOutcome::Completed : ScanOutcome::Failed;
}

}  // namespace

bool isPacketName(const std::string& name) {
  std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.') return false;
  if (!asciiEqualIgnoringCase(std::string_view(name).substr(n - 2), "ut")) return false;
  char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'O';
}

bool listOutboundDirectory(const std::string& directory, const NodeAddress& newOrigin,
                           ScanRun* run, OutboundDirectory* listed) {
  // The listing itself is let go before any packet is handled.
  std::vector<DirectoryEntry> entries;
  if (listDirectory(directory, &entries) == ListingOutcome::Failed) {
    reportFailure("Error: cannot read %s\n", directory.c_str());
    return false;
  }
  Scan& scan = listed->scan;
  scan.flags = busyFlagsOf(directory, entries, newOrigin);
  scan.flags.preview = run->preview;
  scan.directoryPath = directory;
  scan.run = run;
  listed->flowNames = sortedNames(entries, isFlowFileEntry);
  listed->packetNames = sortedNames(std::move(entries), isPacketEntry);
  return true;
}

ScanOutcome finishInterruptedWork(OutboundDirectory* listed) {
  Scan* scan = &listed->scan;
  openScanDirectory(scan);
  if (!scan->run->preview) removeDeadTemporaries(scan->flags);
  return endStep(scan, finishInterruptedRuns(listed->packetNames, listed->flowNames, scan));
}

ScanOutcome handlePackets(OutboundDirectory* listed, const DestinationList& destinations) {
  Scan* scan = &listed->scan;
  openScanDirectory(scan);
  Work work;
  work.origin = scan->flags.origin;
  work.destinations = &destinations;
  ScanRun* run = scan->run;
  // Once a run has seen such mail, it has said what it needs to.
  if (!run->flowFiles && !run->listedMailSeen) {
    run->listedMailSeen = listsMail(listed->flowNames, *scan);
  }
  return endStep(scan, processPackets(listed->packetNames, work, scan) &&
                           (!run->flowFiles || processListedMail(listed->flowNames, work, scan)));
}

ScanOutcome scanOutbound(const std::string& outboundDir, const NodeAddress& newOrigin,
                         const DestinationList& destinations, ScanRun* run) {
  OutboundDirectory listed;
  if (!listOutboundDirectory(outboundDir, newOrigin, run, &listed) ||
      finishInterruptedWork(&listed) == ScanOutcome::Failed) {
    return ScanOutcome::Failed;
  }
  return handlePackets(&listed, destinations);
}
