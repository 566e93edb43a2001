#include "outbound/busy_flags.h"

#include "base/ascii.h"
#include "outbound/leftovers.h"

namespace {

const char kProgramMark[] = " pelorin";
// Longer than any line of ours, padding included.
constexpr std::size_t kLongestOwnLine = 64;

std::string asciiLowerCase(std::string text) {
  for (char& c : text) c = asciiToLower(c);
  return text;
}

std::string asciiUpperCase(std::string text) {
  for (char& c : text) c = asciiToUpper(c);
  return text;
}

// The length of the run of digits at `from`.
std::size_t digitsAt(const std::string& text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && asciiIsDigit(text[end])) ++end;
  return end - from;
}

std::string baseSpellingOf(const std::string& name) { return name.substr(0, name.rfind('.')); }

std::string flagPath(const BusyFlags& flags, const std::string& base, const char* extension) {
  return joinPath(flags.directory, base + extension);
}

std::string ownFlagPath(const BusyFlags& flags, const std::string& base) {
  return flagPath(flags, base, ".bsy");
}

// Every name another program may flag the node under, but our own: .bsy
// and .csy, in lower and upper case, after the base as the name spells it
// and in lower and in upper case.
std::vector<std::string> otherFlagPaths(const BusyFlags& flags, const std::string& name) {
  const std::string spelled = baseSpellingOf(name);
  const std::string lower = asciiLowerCase(spelled);
  std::set<std::string> bases = {spelled, lower, asciiUpperCase(spelled)};
  std::vector<std::string> paths;
  for (const std::string& base : bases) {
    for (const char* extension : {".bsy", ".BSY", ".csy", ".CSY"}) {
      if (base == lower && std::string(extension) == ".bsy") continue;
      paths.push_back(flagPath(flags, base, extension));
    }
  }
  return paths;
}

// True when the file under the name holds a line of ours, which `line`
// receives; no lock is taken.
bool readOwnLineAt(const std::string& path, OwnFlagLine* line) {
  std::string content;
  return lookAtFlag(path, &content) == FlagLook::Read && readOwnFlagLine(content, line);
}

bool holdsOwnLine(const std::string& path) {
  OwnFlagLine line;
  return readOwnLineAt(path, &line);
}

bool isOwnLineOfThisWork(const BusyFlags& flags, const std::string& content) {
  OwnFlagLine found;
  return readOwnFlagLine(content, &found) &&
         (!found.hasOrigin || sameNodeAddress(found.origin, flags.origin));
}

enum class Adopted { Held, Vanished, Busy, Failed };

// Takes over our spelling of the node's flag from a dead run that was
// doing the same work as this run (or of an earlier version, which named
// no origin), with our line in it.
Adopted adoptSameWork(BusyFlags* flags, const std::string& path) {
  std::string found;
  switch (adoptFlag(path, [&](const std::string& c) { return isOwnLineOfThisWork(*flags, c); },
                    &flags->held, &found)) {
    case Adoption::Adopted: break;
    case Adoption::Vanished: return Adopted::Vanished;
    case Adoption::NotAdoptable: return Adopted::Busy;
  }
  if (rewriteFlag(flags->held, fittedFlagLine(flags->ownLine, found.size()))) return Adopted::Held;
  abandonFlag(&flags->held);
  return Adopted::Failed;
}

// Our flag of the node, created or taken over from a dead run.
NodeFlag takeOwnFlag(BusyFlags* flags, const std::string& base) {
  const std::string path = ownFlagPath(*flags, base);
  // A flag that goes between the create and the take-over is tried once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    switch (createFlag(path, flags->temporary, flags->ownLine, &flags->held)) {
      case FlagOutcome::Taken: flags->heldAdopted = false; return NodeFlag::Held;
      case FlagOutcome::Failed: return NodeFlag::Failed;
      case FlagOutcome::Exists: break;
    }
    switch (adoptSameWork(flags, path)) {
      case Adopted::Held: flags->heldAdopted = true; return NodeFlag::Held;
      case Adopted::Busy: return NodeFlag::Busy;
      case Adopted::Failed: return NodeFlag::Failed;
      case Adopted::Vanished: break;
    }
  }
  return NodeFlag::Busy;
}

// True when a flag of the node exists now, in the spellings otherFlagPaths
// names, that is not the flag the run holds nor a flag of ours.
bool aFlagBesidesOursExists(const BusyFlags& flags, const std::string& name) {
  for (const std::string& path : otherFlagPaths(flags, name)) {
    if (!nameExists(path)) continue;
    // On a file system that ignores letter case, another spelling of our
    // flag's name is our flag. Where such a file system gives each spelling
    // an identity of its own (FAT through FUSE), our flag is known by its
    // line: a run only ever writes our own spelling.
    if (flags.held.file != kNoFile && nameStandsFor(path, flags.held.file)) continue;
    if (!holdsOwnLine(path)) return true;
  }
  return false;
}

// The same, our own spelling included: a flag of ours that the run does
// not hold counts as a dead run's.
bool aFlagNotOursExists(const BusyFlags& flags, const std::string& packetName) {
  const std::string own = ownFlagPath(flags, nodeBaseOf(packetName));
  return (nameExists(own) && !holdsOwnLine(own)) || aFlagBesidesOursExists(flags, packetName);
}

}  // namespace

std::string nodeBaseOf(const std::string& name) { return asciiLowerCase(baseSpellingOf(name)); }

BusyFlags busyFlagsOf(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                      const NodeAddress& origin) {
  BusyFlags flags;
  flags.directory = directory;
  const unsigned long pid = processId();
  flags.temporary = joinPath(directory, flagFileName(pid));
  flags.origin = origin;
  flags.ownLine = ownFlagLine(pid, origin);
  for (const DirectoryEntry& entry : entries) {
    if (isOwnLeftoverName(entry.name)) {
      flags.temporaries.push_back(entry.name);
      continue;
    }
    const std::string_view name = entry.name;
    if (name.size() < 4) continue;
    const std::string_view extension = name.substr(name.size() - 4);
    const bool bsy = asciiEqualIgnoringCase(extension, ".bsy");
    if (!bsy && !asciiEqualIgnoringCase(extension, ".csy")) continue;
    const std::string lower = asciiLowerCase(entry.name);
    const std::string base = lower.substr(0, lower.size() - 4);
    flags.flaggedInListing.insert(base);
    if (bsy && entry.name == lower) {
      // Our own spelling: the exclusive create decides whether it is busy.
      flags.ownSpellingFlags.push_back(entry.name);
    } else {
      flags.busyInListing.insert(base);
    }
  }
  return flags;
}

bool holdsNodeFlag(const BusyFlags& flags, const std::string& packetName) {
  return (flags.held.file != kNoFile || flags.heldInPreview) &&
         flags.heldBase == nodeBaseOf(packetName);
}

void holdInPreview(BusyFlags* flags, const std::string& name) {
  flags->heldBase = nodeBaseOf(name);
  flags->heldInPreview = true;
}

NodeFlag takeNodeFlag(BusyFlags* flags, const std::string& packetName) {
  const std::string base = nodeBaseOf(packetName);
  if (flags->busyInListing.count(base) != 0) return NodeFlag::Busy;
  NodeFlag taken = takeOwnFlag(flags, base);
  if (taken != NodeFlag::Held) return taken;
  flags->heldBase = base;
  // A program that passed its own look at our spelling just before our
  // create, or that spells its flags otherwise, is at work now.
  if (!aFlagBesidesOursExists(*flags, packetName)) return NodeFlag::Held;
  if (flags->heldAdopted) {
    leaveNodeFlag(flags);
    return NodeFlag::Busy;
  }
  return releaseNodeFlag(flags) ? NodeFlag::Busy : NodeFlag::NotRemoved;
}

bool anotherProgramFlagsNode(const BusyFlags& flags, const std::string& packetName) {
  if (holdsNodeFlag(flags, packetName)) return aFlagBesidesOursExists(flags, packetName);
  const std::set<std::string>& listed = flags.preview ? flags.busyInListing : flags.flaggedInListing;
  return listed.count(nodeBaseOf(packetName)) != 0 || aFlagNotOursExists(flags, packetName);
}

bool releaseNodeFlag(BusyFlags* flags) {
  flags->heldBase.clear();
  flags->heldInPreview = false;
  return releaseFlag(&flags->held);
}

void leaveNodeFlag(BusyFlags* flags) {
  flags->heldBase.clear();
  flags->heldInPreview = false;
  abandonFlag(&flags->held);
}

bool dropFlagFile(const BusyFlags& flags) { return dropFlagFile(flags.temporary); }

void removeDeadTemporaries(const BusyFlags& flags) {
  for (const std::string& name : flags.temporaries) {
    const std::string path = joinPath(flags.directory, name);
    if (path != flags.temporary) removeIfDead(path);
  }
}

LeftFlag takeLeftFlag(BusyFlags* flags, const std::string& name, NodeAddress* origin) {
  const std::string path = joinPath(flags->directory, name);
  OwnFlagLine line;
  std::string found;
  auto isOwnLine = [&](const std::string& content) { return readOwnFlagLine(content, &line); };
  if (adoptFlag(path, isOwnLine, &flags->held, &found) != Adoption::Adopted) {
    return LeftFlag::NotLeft;
  }
  flags->heldBase = nodeBaseOf(name);
  flags->heldAdopted = true;
  // Our line, in the form the dead run wrote, goes in first; it renews the
  // flag's time too, so that no mailer takes it for a stale one and puts a
  // flag of its own in its place before the old form is removed.
  if (!rewriteFlag(flags->held, fittedFlagLine(ownFlagLine(processId(), line), found.size()))) {
    // Left as the dead run left it, for the next run.
    leaveNodeFlag(flags);
    return LeftFlag::NotLeft;
  }
  if (!line.hasOrigin) return releaseNodeFlag(flags) ? LeftFlag::Removed : LeftFlag::NotRemoved;
  *origin = line.origin;
  return LeftFlag::Finishing;
}

bool looksLeftFlag(const BusyFlags& flags, const std::string& name, NodeAddress* origin) {
  OwnFlagLine line;
  if (!readOwnLineAt(joinPath(flags.directory, name), &line) || !line.hasOrigin) return false;
  *origin = line.origin;
  return true;
}

std::string ownFlagLine(unsigned long processId, const NodeAddress& origin) {
  OwnFlagLine line;
  line.hasOrigin = true;
  line.origin = origin;
  return ownFlagLine(processId, line);
}

std::string ownFlagLine(unsigned long processId, const OwnFlagLine& line) {
  const std::string origin = line.hasOrigin ? " " + nodeAddressText(line.origin) : "";
  return std::to_string(processId) + kProgramMark + origin + "\n";
}

bool readOwnFlagLine(const std::string& content, OwnFlagLine* line) {
  const std::size_t digits = digitsAt(content, 0);
  const std::size_t mark = sizeof kProgramMark - 1;
  if (digits == 0 || content.size() > kLongestOwnLine || content.back() != '\n' ||
      content.compare(digits, mark, kProgramMark) != 0) {
    return false;
  }
  std::string rest = content.substr(digits + mark, content.size() - 1 - digits - mark);
  rest.erase(rest.find_last_not_of(' ') + 1);
  *line = OwnFlagLine{};
  if (rest.empty()) return true;
  // Exactly as a run writes it, nothing more.
  if (rest[0] != ' ' || !readNodeAddressText(std::string_view(rest).substr(1), &line->origin)) {
    return false;
  }
  line->hasOrigin = true;
  return true;
}

std::string fittedFlagLine(const std::string& line, std::size_t length) {
  if (line.size() >= length) return line;
  std::string fitted = line;
  fitted.insert(fitted.size() - 1, length - line.size(), ' ');
  return fitted;
}

