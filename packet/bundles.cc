#include "packet/bundles.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/messages.h"
#include "base/platform.h"
#include "packet/flow_files.h"
#include "zip/zip_archive.h"

namespace {

enum class MemberVerdict { NoPacket, Unlisted, AlreadyFrom, Rewrite, Short, Damaged };

struct Judged {
  MemberVerdict verdict = MemberVerdict::NoPacket;
  PacketHeader header;
};

struct Bundle {
  std::string path;      // as the flow file writes it
  std::string flowName;  // whose node it belongs to
  FileHandle file = kNoFile;
  FileStatus status;
  ZipArchive archive;
  std::vector<Judged> judged;  // for each member, from its header
};

bool isPacketMember(const ZipMember& member) {
  const std::string_view name = member.name;
  return name.size() >= 4 && asciiEqualIgnoringCase(name.substr(name.size() - 4), ".pkt");
}

std::string memberPath(const Bundle& bundle, const ZipMember& member) {
  return bundle.path + ":" + member.name;
}

enum class Opening { Judged, Left, Failed };

void closeBundle(Bundle* bundle) {
  if (bundle->file != kNoFile) closeFile(bundle->file);
  bundle->file = kNoFile;
}

// Ends the look at the bundle: closed, with its outcome.
Opening leave(Bundle* bundle, Opening outcome) {
  closeBundle(bundle);
  return outcome;
}

Opening reportLeft(Bundle* bundle, const char* format) {
  reportMessage(format, bundle->path.c_str());
  return leave(bundle, Opening::Left);
}

Opening reportFailed(Bundle* bundle, const char* format) {
  reportMessage(format, bundle->path.c_str());
  return leave(bundle, Opening::Failed);
}

// Judges each packet member from its header, read alone, up to the first
// that cannot be judged: the rest are never reached.
Opening judgeMembers(Bundle* bundle, const Work& work) {
  bundle->judged.assign(bundle->archive.members.size(), Judged{});
  for (std::size_t i = 0; i < bundle->judged.size(); ++i) {
    const ZipMember& member = bundle->archive.members[i];
    Judged& judged = bundle->judged[i];
    if (!isPacketMember(member)) continue;
    if (member.size < kPacketHeaderSize) {
      judged.verdict = MemberVerdict::Short;
      break;
    }
    switch (readMember(bundle->archive, member, {{judged.header.bytes, kPacketHeaderSize}}, false)) {
      case MemberReading::Read: break;
      case MemberReading::Damaged: judged.verdict = MemberVerdict::Damaged; return Opening::Judged;
      case MemberReading::Failed: return reportFailed(bundle, "Error: cannot read %s\n");
    }
    switch (judgePacket(work, judged.header)) {
      case Verdict::Unlisted: judged.verdict = MemberVerdict::Unlisted; break;
      case Verdict::AlreadyFrom: judged.verdict = MemberVerdict::AlreadyFrom; break;
      case Verdict::Rewrite: judged.verdict = MemberVerdict::Rewrite; break;
    }
  }
  return Opening::Judged;
}

bool packetsUseOtherMethods(const ZipArchive& archive) {
  return std::any_of(archive.members.begin(), archive.members.end(), [](const ZipMember& m) {
    return isPacketMember(m) && m.method != kZipStored && m.method != kZipDeflated;
  });
}

// Opens the bundle, reads its directory and judges its packets.
Opening openBundle(Bundle* bundle, const Work& work) {
  switch (openFileForReading(bundle->path, &bundle->file)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return Opening::Left;
    case OpenOutcome::Failed:
      reportMessage("Error: cannot open %s\n", bundle->path.c_str());
      return Opening::Failed;
  }
  if (!fileStatus(bundle->file, &bundle->status)) {
    return reportFailed(bundle, "Error: cannot read %s\n");
  }
  // Sent already: the mailer truncates what it has sent.
  if (bundle->status.length == 0) return leave(bundle, Opening::Left);
  switch (readZipArchive(bundle->file, bundle->status.length, &bundle->archive)) {
    case ZipReading::Read: break;
    case ZipReading::NotZip: return reportLeft(bundle, "%s is no ZIP archive, left as it is\n");
    case ZipReading::Unsupported:
      return reportLeft(bundle, "%s uses a ZIP feature not handled here, left as it is\n");
    case ZipReading::Damaged: return reportFailed(bundle, "Error in %s\n");
    case ZipReading::Failed: return reportFailed(bundle, "Error: cannot read %s\n");
  }
  if (packetsUseOtherMethods(bundle->archive)) {
    return reportLeft(bundle, "%s uses a ZIP feature not handled here, left as it is\n");
  }
  return judgeMembers(bundle, work);
}

bool needsRewrite(const Bundle& bundle) {
  return std::any_of(bundle.judged.begin(), bundle.judged.end(),
                     [](const Judged& j) { return j.verdict == MemberVerdict::Rewrite; });
}

// Grows the run's area to the largest packet of the bundle that changes, so
// that no allocation fails once the new bundle is begun.
void reserveForRewrites(const Bundle& bundle, MessageArea* area) {
  std::uint32_t largest = kPacketHeaderSize;
  for (std::size_t i = 0; i < bundle.judged.size(); ++i) {
    if (bundle.judged[i].verdict == MemberVerdict::Rewrite) {
      largest = std::max(largest, bundle.archive.members[i].size);
    }
  }
  resizeMessageArea(area, largest - kPacketHeaderSize);
}

// Opens and judges the bundle; when a packet of it is to change, takes its
// node's flag and judges it again under it, as its name has it then.
Opening openUnderFlag(Bundle* bundle, const Work& work, Scan* scan) {
  Opening opening = openBundle(bundle, work);
  if (opening != Opening::Judged || !needsRewrite(*bundle)) return opening;
  if (bundle->status.names > 1) return reportLeft(bundle, "%s has other names, left as it is\n");
  if (holdsNodeFlag(scan->flags, bundle->flowName)) return Opening::Judged;
  switch (takeNodeOf(bundle->flowName, bundle->path, scan)) {
    case NodeTaking::Held: break;
    case NodeTaking::Busy: return leave(bundle, Opening::Left);
    case NodeTaking::Failed: return leave(bundle, Opening::Failed);
  }
  if (scan->run->preview || nameStandsFor(bundle->path, bundle->file)) return Opening::Judged;
  // A packer adds to a bundle by writing a new archive under its name: the
  // bundle is judged again as it is now, under the flag.
  closeBundle(bundle);
  return openUnderFlag(bundle, work, scan);
}

// ---- The new bundle

struct NewBundle {
  std::string temporary;
  ZipWriter writer;
};

// Dead runs' temporary files beside the bundle go first, once a run for
// each directory.
void removeDeadTemporariesBeside(const std::string& bundlePath, ScanRun* run) {
  std::string directory = pathBeside(bundlePath, "");
  if (!run->directoriesCleaned.insert(directory).second) return;
  std::vector<DirectoryEntry> entries;
  if (listDirectory(directory.empty() ? "." : directory, &entries) != ListingOutcome::Listed) return;
  for (const DirectoryEntry& entry : entries) {
    if (isOwnTemporaryName(entry.name)) removeUnheldFile(pathBeside(bundlePath, entry.name), anyContent);
  }
}

// From here to finishNewBundle or dropNewBundle an interruption waits, so
// that no temporary file is left behind.
bool startNewBundle(const Bundle& bundle, Scan* scan, NewBundle* fresh) {
  removeDeadTemporariesBeside(bundle.path, scan->run);
  fresh->temporary = pathBeside(bundle.path, bundleTemporaryName(processId()));
  deferInterruptions();
  fresh->writer.file = createHeldFile(fresh->temporary);
  if (fresh->writer.file != kNoFile) return true;
  allowInterruptions();
  return false;
}

bool dropNewBundle(NewBundle* fresh) {
  const bool removed = removeHeldFile(fresh->writer.file, fresh->temporary);
  allowInterruptions();
  if (!removed) reportNotRemoved(fresh->temporary);
  return removed;
}

// The new archive, whole and stored on the device, takes the old one's
// place; the old one is closed first, which Windows needs to replace it.
bool finishNewBundle(Bundle* bundle, NewBundle* fresh) {
  bool replaced = finishZip(&fresh->writer, bundle->archive) && flushToStorage(fresh->writer.file);
  if (replaced) copyOwnerAndMode(bundle->file, fresh->writer.file);
  closeBundle(bundle);
  replaced = replaced && replaceWithFile(fresh->writer.file, fresh->temporary, bundle->path);
  if (replaced) {
    allowInterruptions();
    return true;
  }
  reportMessage("Error in %s\n", bundle->path.c_str());
  dropNewBundle(fresh);
  return false;
}

// ---- Members

bool rewritePacketMember(Bundle* bundle, const ZipMember& member, const Work& work, Scan* scan,
                         ZipWriter* writer) {
  const std::string path = memberPath(*bundle, member);
  PacketHeader header;
  MessageArea* area = &scan->run->area;
  resizeMessageArea(area, member.size - kPacketHeaderSize);
  switch (readMember(bundle->archive, member,
                     {{header.bytes, kPacketHeaderSize}, {area->bytes.get(), area->length}}, true)) {
    case MemberReading::Read: break;
    case MemberReading::Damaged: reportMessage("Error in %s\n", bundle->path.c_str()); return false;
    case MemberReading::Failed:
      reportMessage("Error: cannot read %s\n", bundle->path.c_str());
      return false;
  }
  const NodeAddress oldOrigin = headerOrigin(header);
  MessageWalk walk;
  // A packet with nothing after its header has no message area: malformed.
  if (area->length > 0 && scan->run->preview) {
    walk.ok = countMessagesToRewrite(area, oldOrigin, &walk.changedCount);
  } else if (area->length > 0) {
    walk = rewriteMessageArea(area, oldOrigin, work.origin);
  }
  if (!walk.ok) {
    reportMessage("Error in %s\n", path.c_str());
    return false;
  }
  setHeaderOrigin(&header, work.origin);
  if (writer != nullptr &&
      !rewriteMember(writer, bundle->archive, member,
                     {{header.bytes, kPacketHeaderSize}, {area->bytes.get(), area->length}})) {
    reportMessage("Error in %s\n", bundle->path.c_str());
    return false;
  }
  reportMessage("Changed Messages: %d\n", walk.changedCount);
  return true;
}

// One member: its lines, and its record in the new archive when one is
// written.
bool workOnMember(Bundle* bundle, std::size_t index, const Work& work, Scan* scan,
                  ZipWriter* writer) {
  const ZipMember& member = bundle->archive.members[index];
  const Judged& judged = bundle->judged[index];
  switch (judged.verdict) {
    case MemberVerdict::AlreadyFrom:
      if (work.destinations != nullptr) reportAlreadyFrom(memberPath(*bundle, member), judged.header);
      break;
    case MemberVerdict::NoPacket:
    case MemberVerdict::Unlisted: break;
    case MemberVerdict::Rewrite:
      reportFrom(memberPath(*bundle, member), judged.header);
      return rewritePacketMember(bundle, member, work, scan, writer);
    case MemberVerdict::Short:
      reportMessage("Error: cannot read %s\n", memberPath(*bundle, member).c_str());
      return false;
    case MemberVerdict::Damaged: reportMessage("Error in %s\n", bundle->path.c_str()); return false;
  }
  if (writer != nullptr && !copyMember(writer, bundle->archive, member)) {
    reportMessage("Error in %s\n", bundle->path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool processBundle(const std::string& path, const std::string& flowName, const Work& work,
                   Scan* scan) {
  Bundle bundle;
  bundle.path = path;
  bundle.flowName = flowName;
  switch (openUnderFlag(&bundle, work, scan)) {
    case Opening::Judged: break;
    case Opening::Left: return true;
    case Opening::Failed: return false;
  }
  NewBundle fresh;
  const bool writing = !scan->run->preview && needsRewrite(bundle);
  if (writing) reserveForRewrites(bundle, &scan->run->area);
  if (writing && !startNewBundle(bundle, scan, &fresh)) {
    reportMessage("Error in %s\n", bundle.path.c_str());
    closeBundle(&bundle);
    return false;
  }
  bool worked = true;
  for (std::size_t i = 0; worked && i < bundle.archive.members.size(); ++i) {
    worked = workOnMember(&bundle, i, work, scan, writing ? &fresh.writer : nullptr);
  }
  if (writing && worked) return finishNewBundle(&bundle, &fresh);
  if (writing) dropNewBundle(&fresh);
  closeBundle(&bundle);
  return worked;
}
