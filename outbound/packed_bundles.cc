#include "outbound/packed_bundles.h"

#include <algorithm>
#include <vector>

#include "base/ascii.h"
#include "base/failure.h"
#include "base/file_io.h"
#include "base/messages.h"
#include "outbound/bundles.h"
#include "outbound/flow_files.h"
#include "outbound/leftovers.h"

namespace {

struct PackedBundle {
  std::string path;      // as the flow file writes it
  std::string flowName;  // whose node it belongs to
  const Packer* packer = nullptr;
  FileHandle file = kNoFile;
  FileStatus status;  // as it was unpacked, under the flag
  PrivateDirectory unpacked, checked, pack;
};

enum class Step { Done, Left, Failed };

void reportLeftWithReason(const PackedBundle& bundle, const char* why, const std::string& reason,
                          Scan* scan) {
  reportLeftAsItIs(bundle.path, why, scan);
  reportMessage("  %s\n", reason.c_str());
}

unsigned timeLimitOf(const Scan& scan) { return scan.run->packers->timeLimitSeconds; }

// Runs one of the packer's commands in `directory`; the reason of its
// failure, or empty.
std::string runPacker(const std::vector<std::string>& words, const std::string& archive,
                      const std::string& directory, const std::vector<std::string>& files,
                      const Scan& scan) {
  Command command;
  command.words = commandWords(words, absolutePath(archive), absolutePath(directory), files);
  command.directory = absolutePath(directory);
  command.timeLimitSeconds = timeLimitOf(scan);
  return commandFailure(runCommand(command), command.timeLimitSeconds);
}

// The names of the files an unpack left, in byte order; the reason when it
// left anything but plain files.
std::string unpackedNames(const std::string& directory, std::vector<std::string>* names) {
  std::vector<DirectoryEntry> entries;
  names->clear();
  if (listDirectory(directory, &entries) != ListingOutcome::Listed) {
    return "its files cannot be listed: " + takeFailureReason();
  }
  for (const DirectoryEntry& entry : entries) {
    if (entry.kind != EntryKind::RegularFile) {
      return "the unpack left " + entry.name + ", which is no plain file";
    }
    names->push_back(entry.name);
  }
  std::sort(names->begin(), names->end());
  return std::string();
}

// True when the two files hold the same bytes.
bool sameContent(const std::string& a, const std::string& b) {
  FileHandle one = kNoFile, other = kNoFile;
  FileStatus first, second;
  bool same = openFileForReading(a, &one) == OpenOutcome::Opened &&
              openFileForReading(b, &other) == OpenOutcome::Opened && fileStatus(one, &first) &&
              fileStatus(other, &second) && first.length == second.length;
  std::vector<unsigned char> x(64 * 1024), y(64 * 1024);
  for (std::int64_t at = 0; same && at < first.length;) {
    const std::size_t part =
        static_cast<std::size_t>(std::min<std::int64_t>(first.length - at, 64 * 1024));
    same = readFullyAt(one, at, x.data(), part) && readFullyAt(other, at, y.data(), part) &&
           std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(part), y.begin());
    at += static_cast<std::int64_t>(part);
  }
  if (one != kNoFile) closeFile(one);
  if (other != kNoFile) closeFile(other);
  return same;
}

// The first name the unpack of the new archive does not give back as it
// was packed; empty when it gives every one, and nothing more.
std::string firstDifference(const PackedBundle& bundle, const std::vector<std::string>& packed,
                            const std::vector<std::string>& unpacked) {
  for (const std::string& name : packed) {
    const auto back = std::find_if(unpacked.begin(), unpacked.end(), [&](const std::string& n) {
      return asciiEqualIgnoringCase(n, name);
    });
    if (back == unpacked.end() ||
        !sameContent(joinPath(bundle.unpacked.path, name), joinPath(bundle.checked.path, *back))) {
      return name;
    }
  }
  if (unpacked.size() == packed.size()) return std::string();
  for (const std::string& name : unpacked) {
    const bool packedToo = std::any_of(packed.begin(), packed.end(), [&](const std::string& n) {
      return asciiEqualIgnoringCase(n, name);
    });
    if (!packedToo) return name;
  }
  return std::string();
}

// The private directory `purpose` under the temporary directory; a dead
// run's leftovers there go first, once a run.
bool makeTemporaryDirectory(const std::string& purpose, PrivateDirectory* directory,
                            Scan* scan) {
  if (!scan->run->temporaryCleaned) {
    removeDeadLeftoversIn(temporaryDirectory());
    scan->run->temporaryCleaned = true;
  }
  if (makePrivateDirectory(temporaryDirectory(), privateDirectoryName(processId(), purpose),
                           directory)) {
    return true;
  }
  reportFailure("Error: cannot write %s\n",
                joinPath(temporaryDirectory(), privateDirectoryName(processId(), purpose)).c_str());
  return false;
}

// Unpacks the bundle into its private directory and gives the names of its
// files.
Step unpack(PackedBundle* bundle, std::vector<std::string>* names, Scan* scan) {
  if (!makeTemporaryDirectory("unpack", &bundle->unpacked, scan)) return Step::Failed;
  std::string reason =
      runPacker(bundle->packer->unpack, bundle->path, bundle->unpacked.path, {}, *scan);
  if (reason.empty()) reason = unpackedNames(bundle->unpacked.path, names);
  if (reason.empty()) return Step::Done;
  reportLeftWithReason(*bundle, "could not be unpacked", reason, scan);
  return Step::Left;
}

// Each packet among the files, judged and rewritten in place; `changed`
// when any got the origin.
Step workOnPackets(const PackedBundle& bundle, const std::vector<std::string>& names,
                   const Work& work, Scan* scan, bool* changed) {
  *changed = false;
  for (const std::string& name : names) {
    if (!isPacketFileName(name)) continue;
    bool rewritten = false;
    if (!processUnpackedPacket(joinPath(bundle.unpacked.path, name), bundle.path + ":" + name,
                               bundle.flowName, work, scan, &rewritten)) {
      return Step::Failed;
    }
    *changed = *changed || rewritten;
  }
  return Step::Done;
}

// Packs the files anew beside the bundle, and unpacks what was packed once
// more to see that it gives them back; the new archive's path.
Step packAgain(PackedBundle* bundle, const std::vector<std::string>& names, Scan* scan,
               std::string* archive) {
  removeDeadLeftoversBeside(bundle->path, scan->run);
  const std::string beside = pathBeside(bundle->path, "");
  if (!makePrivateDirectory(beside.empty() ? "." : beside, privateDirectoryName(processId(), "pack"),
                            &bundle->pack)) {
    reportFailure("Error: cannot write %s\n", bundle->path.c_str());
    return Step::Failed;
  }
  *archive = joinPath(bundle->pack.path, "pack." + bundle->path.substr(bundle->path.size() - 3));
  std::vector<std::string> files;
  for (const std::string& file : names) files.push_back("./" + file);
  std::string reason = runPacker(bundle->packer->pack, *archive, bundle->unpacked.path, files, *scan);
  FileStatus made;
  if (reason.empty() && !(nameStatus(*archive, &made) && made.regular)) {
    reason = "no archive was made";
  }
  std::vector<std::string> back;
  if (reason.empty()) {
    if (!makeTemporaryDirectory("check", &bundle->checked, scan)) return Step::Failed;
    reason = runPacker(bundle->packer->unpack, *archive, bundle->checked.path, {}, *scan);
  }
  if (reason.empty()) reason = unpackedNames(bundle->checked.path, &back);
  if (reason.empty()) {
    const std::string different = firstDifference(*bundle, names, back);
    if (!different.empty()) {
      reason = "the new archive does not unpack to what was packed: " + different;
    }
  }
  if (reason.empty()) return Step::Done;
  reportLeftWithReason(*bundle, "could not be packed again", reason, scan);
  return Step::Left;
}

// The new archive takes the old one's place as a ZIP bundle's does, unless
// the old one is no longer what was unpacked under the flag.
Step replaceBundle(PackedBundle* bundle, const std::string& archive, Scan* scan) {
  const FileHandle fresh = openToReplaceWith(archive);
  if (fresh == kNoFile) {
    reportFailure("Error: cannot write %s\n", bundle->path.c_str());
    return Step::Failed;
  }
  deferInterruptions();
  const Replacing replacing =
      replaceBundleWith(bundle->path, &bundle->file, bundle->status, fresh, archive, scan);
  if (replacing != Replacing::Replaced) closeFile(fresh);
  allowInterruptions();
  switch (replacing) {
    case Replacing::Replaced: return Step::Done;
    case Replacing::Left: return Step::Left;
    case Replacing::Failed: break;
  }
  return Step::Failed;
}

// Opens the bundle under the flag, as it is now.
Step openBundle(PackedBundle* bundle, Scan* scan) {
  switch (openFileForReading(bundle->path, &bundle->file)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::NotRegularFile:
    case OpenOutcome::Vanished: return Step::Left;
    case OpenOutcome::InUse: reportBusyPacket(bundle->path, scan); return Step::Left;
    case OpenOutcome::Failed:
      reportFailure("Error: cannot open %s\n", bundle->path.c_str());
      return Step::Failed;
  }
  if (!fileStatus(bundle->file, &bundle->status)) {
    reportFailure("Error: cannot read %s\n", bundle->path.c_str());
    return Step::Failed;
  }
  // Sent and truncated, or written anew in another format meanwhile.
  if (bundle->status.length == 0) return Step::Left;
  if (packerOf(*scan->run->packers, bundle->file) != bundle->packer) {
    reportChangedWhileRead(bundle->path, scan);
    return Step::Left;
  }
  return Step::Done;
}

// Everything of ours goes, whatever happened.
bool cleanUp(PackedBundle* bundle) {
  if (bundle->file != kNoFile) closeFile(bundle->file);
  bundle->file = kNoFile;
  bool removed = true;
  for (PrivateDirectory* directory : {&bundle->unpacked, &bundle->checked, &bundle->pack}) {
    if (!removePrivateDirectory(directory)) {
      reportNotRemoved(directory->path);
      removed = false;
    }
  }
  return removed;
}

// The work under the flag: unpack, the packets, pack again, replace.
Step workOnBundle(PackedBundle* bundle, const Work& work, Scan* scan) {
  Step step = openBundle(bundle, scan);
  std::vector<std::string> names;
  if (step == Step::Done) step = unpack(bundle, &names, scan);
  bool changed = false;
  if (step == Step::Done) step = workOnPackets(*bundle, names, work, scan, &changed);
  if (step != Step::Done || !changed || scan->run->preview) return step;
  if (bundle->status.names > 1) {
    reportLeftAsItIs(bundle->path, "has other names", scan);
    return Step::Left;
  }
  std::string archive;
  step = packAgain(bundle, names, scan, &archive);
  return step == Step::Done ? replaceBundle(bundle, archive, scan) : step;
}

}  // namespace

bool processPackedBundle(const std::string& path, const std::string& flowName,
                         const Packer& packer, const Work& work, Scan* scan) {
  PackedBundle bundle;
  bundle.path = path;
  bundle.flowName = flowName;
  bundle.packer = &packer;
  if (anotherProgramFlagsNode(scan->flags, flowName)) {
    reportBusyPacket(path, scan);
    return true;
  }
  if (packer.pack.empty()) {
    reportLeftAsItIs(path, "has no Pack line for " + packer.name, scan);
    return true;
  }
  if (!scan->run->preview && !holdsNodeFlag(scan->flags, flowName)) {
    switch (takeNodeOf(flowName, path, scan)) {
      case NodeTaking::Held: break;
      case NodeTaking::Busy: return true;
      case NodeTaking::Failed: return false;
    }
  }
  const Step step = workOnBundle(&bundle, work, scan);
  return cleanUp(&bundle) && step != Step::Failed;
}
