#include "outbound/bundles.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/file_io.h"
#include "base/messages.h"
#include "base/platform.h"
#include "outbound/flow_files.h"
#include "outbound/leftovers.h"
#include "outbound/packed_bundles.h"
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
  FileStatus status;  // as it was when its directory was read
  ZipArchive archive;
  std::vector<Judged> judged;  // for each member, from its header
  const Packer* packer = nullptr;
};

bool isPacketMember(const ZipMember& member) { return isPacketFileName(member.name); }

std::string memberPath(const Bundle& bundle, const ZipMember& member) {
  return bundle.path + ":" + member.name;
}

enum class Opening {
  Judged,
  OtherFormat,  // no ZIP, but a packer's signature matches: Bundle::packer
  Left,
  Failed,
};

void closeBundle(Bundle* bundle) {
  if (bundle->file != kNoFile) closeFile(bundle->file);
  bundle->file = kNoFile;
}

// Ends the look at the bundle: closed, with its outcome.
Opening leave(Bundle* bundle, Opening outcome) {
  closeBundle(bundle);
  return outcome;
}

// A bundle that cannot be judged, or would be left, while another program
// has a flag of its node is that program's work in progress, a packer's
// half-written archive say: it is busy, whatever its bytes.
bool leftBusy(Bundle* bundle, Scan* scan) {
  if (!anotherProgramFlagsNode(scan->flags, bundle->flowName)) return false;
  reportBusyPacket(bundle->path, scan);
  closeBundle(bundle);
  return true;
}

Opening failUnlessBusy(Bundle* bundle, Scan* scan, const char* format) PELORIN_PRINTF(3, 0);
Opening failUnlessBusy(Bundle* bundle, Scan* scan, const char* format) {
  if (leftBusy(bundle, scan)) return Opening::Left;
  reportFailure(format, bundle->path.c_str());
  return leave(bundle, Opening::Failed);
}

Opening leaveUnlessBusy(Bundle* bundle, Scan* scan, const char* why) {
  if (leftBusy(bundle, scan)) return Opening::Left;
  reportLeftAsItIs(bundle->path, why, scan);
  return leave(bundle, Opening::Left);
}

bool cannotBeJudged(const Judged& judged) {
  return judged.verdict == MemberVerdict::Short || judged.verdict == MemberVerdict::Damaged;
}

// Judges each packet member from its header, read alone, up to the first
// that cannot be judged: the rest are never reached.
Opening judgeMembers(Bundle* bundle, const Work& work, Scan* scan) {
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
      case MemberReading::Damaged: judged.verdict = MemberVerdict::Damaged; break;
      case MemberReading::Failed: return failUnlessBusy(bundle, scan, "Error: cannot read %s\n");
    }
    if (judged.verdict == MemberVerdict::Damaged) break;
    switch (judgePacket(work, judged.header)) {
      case Verdict::Unlisted: judged.verdict = MemberVerdict::Unlisted; break;
      case Verdict::AlreadyFrom: judged.verdict = MemberVerdict::AlreadyFrom; break;
      case Verdict::Rewrite: judged.verdict = MemberVerdict::Rewrite; break;
    }
  }
  // Reported when its turn comes, unless the node is busy.
  const bool judgedWhole = std::none_of(bundle->judged.begin(), bundle->judged.end(), cannotBeJudged);
  return judgedWhole || !leftBusy(bundle, scan) ? Opening::Judged : Opening::Left;
}

bool packetsUseOtherMethods(const ZipArchive& archive) {
  return std::any_of(archive.members.begin(), archive.members.end(), [](const ZipMember& m) {
    return isPacketMember(m) && m.method != kZipStored && m.method != kZipDeflated;
  });
}

// Opens the bundle, reads its directory and judges its packets.
Opening openBundle(Bundle* bundle, const Work& work, Scan* scan) {
  switch (openFileForReading(bundle->path, &bundle->file)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return Opening::Left;
    case OpenOutcome::InUse: reportBusyPacket(bundle->path, scan); return Opening::Left;
    case OpenOutcome::Failed: return failUnlessBusy(bundle, scan, "Error: cannot open %s\n");
  }
  if (!fileStatus(bundle->file, &bundle->status)) {
    return failUnlessBusy(bundle, scan, "Error: cannot read %s\n");
  }
  // Sent already: the mailer truncates what it has sent.
  if (bundle->status.length == 0) return leave(bundle, Opening::Left);
  switch (readZipArchive(bundle->file, bundle->status.length, &bundle->archive)) {
    case ZipReading::Read: break;
    case ZipReading::NotZip:
      bundle->packer = packerOf(*scan->run->packers, bundle->file);
      if (bundle->packer != nullptr) return leave(bundle, Opening::OtherFormat);
      return leaveUnlessBusy(bundle, scan, "is no ZIP archive");
    case ZipReading::Unsupported:
      return leaveUnlessBusy(bundle, scan, "uses a ZIP feature not handled here");
    case ZipReading::Damaged: return failUnlessBusy(bundle, scan, "Error in %s\n");
    case ZipReading::Failed: return failUnlessBusy(bundle, scan, "Error: cannot read %s\n");
  }
  if (packetsUseOtherMethods(bundle->archive)) {
    return leaveUnlessBusy(bundle, scan, "uses a ZIP feature not handled here");
  }
  return judgeMembers(bundle, work, scan);
}

bool needsRewrite(const Bundle& bundle) {
  return std::any_of(bundle.judged.begin(), bundle.judged.end(),
                     [](const Judged& j) { return j.verdict == MemberVerdict::Rewrite; });
}

// Opens and judges the bundle; one to be replaced must have no other names.
Opening judgeBundle(Bundle* bundle, const Work& work, Scan* scan) {
  Opening opening = openBundle(bundle, work, scan);
  if (opening == Opening::Judged && needsRewrite(*bundle) && bundle->status.names > 1) {
    return leaveUnlessBusy(bundle, scan, "has other names");
  }
  return opening;
}

// Judges the bundle; when a packet of it is to change and the run did not
// hold its node's flag already, takes the flag and judges the bundle again
// under it, whatever its name stands for now: a packer may have grown it in
// place meanwhile (zip -g), or renamed a new archive over it.
Opening openUnderFlag(Bundle* bundle, const Work& work, Scan* scan) {
  Opening opening = judgeBundle(bundle, work, scan);
  if (opening != Opening::Judged || !needsRewrite(*bundle) ||
      holdsNodeFlag(scan->flags, bundle->flowName)) {
    return opening;
  }
  switch (takeNodeOf(bundle->flowName, bundle->path, scan)) {
    case NodeTaking::Held: break;
    case NodeTaking::Busy: return leave(bundle, Opening::Left);
    case NodeTaking::Failed: return leave(bundle, Opening::Failed);
  }
  if (scan->run->preview) return Opening::Judged;
  closeBundle(bundle);
  return judgeBundle(bundle, work, scan);
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

// ---- The new bundle

struct NewBundle {
  std::string temporary;
  ZipWriter writer;
};

void reportCannotWrite(const Bundle& bundle) {
  reportFailure("Error: cannot write %s\n", bundle.path.c_str());
}

// From here to finishNewBundle or dropNewBundle an interruption waits, so
// that no temporary file is left behind.
bool startNewBundle(const Bundle& bundle, Scan* scan, NewBundle* fresh) {
  removeDeadLeftoversBeside(bundle.path, scan->run);
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

// The new archive, whole, takes the old one's place (replaceBundleWith),
// or is removed.
bool finishNewBundle(Bundle* bundle, NewBundle* fresh, Scan* scan) {
  Replacing replacing = Replacing::Failed;
  if (finishZip(&fresh->writer, bundle->archive)) {
    replacing = replaceBundleWith(bundle->path, &bundle->file, bundle->status, fresh->writer.file,
                                  fresh->temporary, scan);
  } else {
    reportCannotWrite(*bundle);
    closeBundle(bundle);
  }
  if (replacing == Replacing::Replaced) {
    allowInterruptions();
    return true;
  }
  return dropNewBundle(fresh) && replacing == Replacing::Left;
}

// ---- Members

// The line of a failed copy into the new archive; true when it was written.
bool copiedOrReported(ZipWrite outcome, const Bundle& bundle) {
  switch (outcome) {
    case ZipWrite::Written: return true;
    case ZipWrite::ReadFailed: reportFailure("Error: cannot read %s\n", bundle.path.c_str()); break;
    case ZipWrite::WriteFailed: reportCannotWrite(bundle); break;
  }
  return false;
}

bool rewritePacketMember(Bundle* bundle, const ZipMember& member, const Work& work, Scan* scan,
                         ZipWriter* writer) {
  const std::string path = memberPath(*bundle, member);
  PacketHeader header;
  MessageArea* area = &scan->run->area;
  resizeMessageArea(area, member.size - kPacketHeaderSize);
  switch (readMember(bundle->archive, member,
                     {{header.bytes, kPacketHeaderSize}, {area->bytes.get(), area->length}}, true)) {
    case MemberReading::Read: break;
    case MemberReading::Damaged: reportFailure("Error in %s\n", bundle->path.c_str()); return false;
    case MemberReading::Failed:
      reportFailure("Error: cannot read %s\n", bundle->path.c_str());
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
    reportFailure("Error in %s\n", path.c_str());
    return false;
  }
  setHeaderOrigin(&header, work.origin);
  if (writer != nullptr &&
      !copiedOrReported(rewriteMember(writer, bundle->archive, member,
                                      {{header.bytes, kPacketHeaderSize},
                                       {area->bytes.get(), area->length}}),
                        *bundle)) {
    return false;
  }
  reportChangedMessages(walk.changedCount, scan);
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
      if (work.destinations != nullptr) {
        reportAlreadyFrom(memberPath(*bundle, member), judged.header, scan);
      }
      break;
    case MemberVerdict::NoPacket:
    case MemberVerdict::Unlisted: break;
    case MemberVerdict::Rewrite:
      reportFrom(memberPath(*bundle, member), judged.header);
      return rewritePacketMember(bundle, member, work, scan, writer);
    case MemberVerdict::Short:
      noteShorterThanAHeader(member.size);
      reportFailure("Error: cannot read %s\n", memberPath(*bundle, member).c_str());
      return false;
    case MemberVerdict::Damaged: reportFailure("Error in %s\n", bundle->path.c_str()); return false;
  }
  return writer == nullptr || copiedOrReported(copyMember(writer, bundle->archive, member), *bundle);
}

bool workOnMembers(Bundle* bundle, const Work& work, Scan* scan, ZipWriter* writer) {
  for (std::size_t i = 0; i < bundle->archive.members.size(); ++i) {
    if (!workOnMember(bundle, i, work, scan, writer)) return false;
  }
  return true;
}

// The bundle judged under the flag, written anew.
bool rewriteBundle(Bundle* bundle, const Work& work, Scan* scan) {
  reserveForRewrites(*bundle, &scan->run->area);
  NewBundle fresh;
  if (!startNewBundle(*bundle, scan, &fresh)) {
    reportCannotWrite(*bundle);
    closeBundle(bundle);
    return false;
  }
  if (workOnMembers(bundle, work, scan, &fresh.writer)) return finishNewBundle(bundle, &fresh, scan);
  dropNewBundle(&fresh);
  closeBundle(bundle);
  return false;
}

}  // namespace

void removeDeadLeftoversBeside(const std::string& bundlePath, ScanRun* run) {
  const std::string directory = pathBeside(bundlePath, "");
  if (run->directoriesCleaned.insert(directory).second) {
    removeDeadLeftoversIn(directory.empty() ? "." : directory);
  }
}

// A new archive lost what a packer added to the old one without the flag:
// the old one must still be what was read under it. The old one is closed
// just before the rename, which Windows needs to replace it.
Replacing replaceBundleWith(const std::string& path, FileHandle* old, const FileStatus& status,
                            FileHandle fresh, const std::string& freshPath, Scan* scan) {
  Replacing replacing = Replacing::Failed;
  if (!flushToStorage(fresh)) {
    reportFailure("Error: cannot write %s\n", path.c_str());
  } else if (!copyOwnerAndPermissions(*old, fresh)) {
    reportLeftAsItIs(path, "cannot keep its owner and permissions", scan);
    replacing = Replacing::Left;
  } else if (!unchangedSince(path, *old, status)) {
    reportChangedWhileRead(path, scan);
    replacing = Replacing::Left;
  } else {
    closeFile(*old);
    *old = kNoFile;
    if (replaceWithFile(fresh, freshPath, path)) return Replacing::Replaced;
    reportFailure("Error: cannot write %s\n", path.c_str());
  }
  if (*old != kNoFile) closeFile(*old);
  *old = kNoFile;
  return replacing;
}

bool processBundle(const std::string& path, const std::string& flowName, const Work& work,
                   Scan* scan) {
  Bundle bundle;
  bundle.path = path;
  bundle.flowName = flowName;
  switch (openUnderFlag(&bundle, work, scan)) {
    case Opening::Judged: break;
    case Opening::OtherFormat:
      return processPackedBundle(path, flowName, *bundle.packer, work, scan);
    case Opening::Left: return true;
    case Opening::Failed: return false;
  }
  if (!scan->run->preview && needsRewrite(bundle)) return rewriteBundle(&bundle, work, scan);
  const bool worked = workOnMembers(&bundle, work, scan, nullptr);
  closeBundle(&bundle);
  return worked;
}
