#include "packet/busy_flags.h"

#include "base/ascii.h"

namespace {

const char kProgramMark[] = " pelorin\n";
const char kTemporaryPrefix[] = ".pelorin-";
const char kTemporarySuffix[] = ".tmp";

std::string asciiLowerCase(std::string text) {
  for (char& c : text) c = asciiToLower(c);
  return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the run of digits at `from`.
std::size_t digitsAt(const std::string& text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && isDigit(text[end])) ++end;
  return end - from;
}

std::string flagPath(const BusyFlags& flags, const std::string& base, const char* extension) {
  return joinPath(flags.directory, base + extension);
}

}  // namespace

std::string nodeBaseOf(const std::string& packetName) {
  return asciiLowerCase(packetName.substr(0, packetName.rfind('.')));
}

BusyFlags busyFlagsOf(const std::string& directory, const std::vector<DirectoryEntry>& entries) {
  BusyFlags flags;
  flags.directory = directory;
  flags.temporary =
      joinPath(directory, kTemporaryPrefix + std::to_string(processId()) + kTemporarySuffix);
  for (const DirectoryEntry& entry : entries) {
    if (isOwnTemporaryName(entry.name)) {
      flags.possibleLeftovers.push_back(entry.name);
      continue;
    }
    const std::string_view name = entry.name;
    if (name.size() < 4) continue;
    const std::string_view extension = name.substr(name.size() - 4);
    const bool bsy = asciiEqualIgnoringCase(extension, ".bsy");
    if (!bsy && !asciiEqualIgnoringCase(extension, ".csy")) continue;
    const std::string lower = asciiLowerCase(entry.name);
    if (bsy && entry.name == lower) {
      // Our own spelling: the exclusive create decides whether it is busy.
      flags.possibleLeftovers.push_back(entry.name);
    } else {
      flags.busyInListing.insert(lower.substr(0, lower.size() - 4));
    }
  }
  return flags;
}

bool holdsNodeFlag(const BusyFlags& flags, const std::string& packetName) {
  return flags.held.file != kNoFile && flags.heldBase == nodeBaseOf(packetName);
}

NodeFlag takeNodeFlag(BusyFlags* flags, const std::string& packetName) {
  const std::string base = nodeBaseOf(packetName);
  if (flags->busyInListing.count(base) != 0) return NodeFlag::Busy;
  switch (takeFlag(flagPath(*flags, base, ".bsy"), flags->temporary,
                   ownFlagContent(processId()), isOwnFlagContent, &flags->held)) {
    case FlagOutcome::Taken: break;
    case FlagOutcome::Exists: return NodeFlag::Busy;
    case FlagOutcome::Failed: return NodeFlag::Failed;
  }
  flags->heldBase = base;
  // A mailer that passed its own check of the .bsy just before our create
  // is dialling now.
  if (nameExists(flagPath(*flags, base, ".csy"))) {
    return releaseNodeFlag(flags) ? NodeFlag::Busy : NodeFlag::NotRemoved;
  }
  return NodeFlag::Held;
}

bool nodeLooksBusy(const BusyFlags& flags, const std::string& packetName) {
  const std::string base = nodeBaseOf(packetName);
  const std::string ownSpelling = flagPath(flags, base, ".bsy");
  return flags.busyInListing.count(base) != 0 || nameExists(flagPath(flags, base, ".csy")) ||
         (nameExists(ownSpelling) && !isUnheldFile(ownSpelling, isOwnFlagContent));
}

bool releaseNodeFlag(BusyFlags* flags) {
  flags->heldBase.clear();
  return releaseFlag(&flags->held);
}

bool dropFlagFile(const BusyFlags& flags) { return dropFlagFile(flags.temporary); }

void removeDeadRunsFiles(const BusyFlags& flags) {
  for (const std::string& name : flags.possibleLeftovers) {
    const bool temporary = isOwnTemporaryName(name);
    removeUnheldFile(joinPath(flags.directory, name),
                     temporary ? FlagContentTest(anyContent) : FlagContentTest(isOwnFlagContent));
  }
}

std::string ownFlagContent(unsigned long processId) {
  return std::to_string(processId) + kProgramMark;
}

bool isOwnFlagContent(const std::string& content) {
  const std::size_t digits = digitsAt(content, 0);
  return digits > 0 && content.compare(digits, std::string::npos, kProgramMark) == 0;
}

bool isOwnTemporaryName(const std::string& name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  const bool prefixed = name.compare(0, prefix, kTemporaryPrefix) == 0;
  const std::size_t digits = prefixed ? digitsAt(name, prefix) : 0;
  return digits > 0 && name.compare(prefix + digits, std::string::npos, kTemporarySuffix) == 0;
}
