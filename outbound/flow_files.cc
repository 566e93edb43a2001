#include "outbound/flow_files.h"

#include <cstdint>

#include "base/ascii.h"
#include "base/file_io.h"
#include "base/platform.h"

namespace {

bool isDigitOrLetter(char c) {
  const char upper = asciiToUpper(c);
  return (c >= '0' && c <= '9') || (upper >= 'A' && upper <= 'Z');
}

std::string_view lastComponent(std::string_view path) {
  std::size_t at = path.size();
  while (at > 0 && !isPathSeparator(path[at - 1])) --at;
  return path.substr(at);
}

bool isDayAndCounter(std::string_view end) {
  if (end.size() != 3 || !isDigitOrLetter(end[2])) return false;
  for (const char* known : {"mo", "tu", "we", "th", "fr", "sa", "su"}) {
    if (asciiEqualIgnoringCase(end.substr(0, 2), known)) return true;
  }
  return false;
}

// 8 hexadecimal digits, the node's net and node.
bool isBinkleyStem(std::string_view stem) {
  if (stem.size() != 8) return false;
  for (char c : stem) {
    if (!asciiIsHexDigit(c)) return false;
  }
  return true;
}

// Four decimal numbers joined by dots, zone.net.node.point.
bool isAmigaStem(std::string_view stem) {
  int numbers = 0;
  for (std::size_t at = 0; at <= stem.size(); ++numbers) {
    std::size_t end = stem.find('.', at);
    if (end == std::string_view::npos) end = stem.size();
    if (end == at) return false;
    for (std::size_t i = at; i < end; ++i) {
      if (!asciiIsDigit(stem[i])) return false;
    }
    at = end + 1;
  }
  return numbers == 4;
}

bool isBundleName(std::string_view name) {
  if (name.size() < 4 || name[name.size() - 4] != '.') return false;
  const std::string_view stem = name.substr(0, name.size() - 4);
  return isDayAndCounter(name.substr(name.size() - 3)) &&
         (isBinkleyStem(stem) || isAmigaStem(stem));
}

}  // namespace

bool isPacketFileName(std::string_view name) {
  return name.size() >= 4 && asciiEqualIgnoringCase(name.substr(name.size() - 4), ".pkt");
}

bool isFlowFileName(const std::string& name) {
  const std::size_t n = name.size();
  if (n < 4 || name[n - 4] != '.' || !asciiEqualIgnoringCase(name.substr(n - 2), "lo")) {
    return false;
  }
  const char flavour = asciiToUpper(name[n - 3]);
  return flavour == 'F' || flavour == 'C' || flavour == 'D' || flavour == 'H' || flavour == 'I';
}

std::vector<ListedFile> listedMail(const std::string& content) {
  std::vector<ListedFile> listed;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '~' || line[0] == '!') continue;
    if (line[0] == '#' || line[0] == '^' || line[0] == '-' || line[0] == '@') line.remove_prefix(1);
    // The system would take the path as ending at a NUL: another file.
    if (line.find('\0') != std::string_view::npos) continue;
    const std::string_view name = lastComponent(line);
    if (isBundleName(name)) {
      listed.push_back(ListedFile{std::string(line), ListedKind::Bundle});
    } else if (isPacketFileName(name)) {
      listed.push_back(ListedFile{std::string(line), ListedKind::Packet});
    }
  }
  return listed;
}

bool listedFileCounts(const ListedFile& listed, FileStatus* status) {
  return nameStatus(listed.path, status) && status->regular && status->length > 0;
}

bool readFlowFile(const std::string& path, std::string* content) {
  content->clear();
  FileHandle file = kNoFile;
  if (openFileForReading(path, &file) != OpenOutcome::Opened) return false;
  FileStatus status;
  bool read = fileStatus(file, &status) && status.regular;
  if (read) {
    content->resize(static_cast<std::size_t>(status.length));
    read = readFullyAt(file, 0, &(*content)[0], content->size());
  }
  closeFile(file);
  if (!read) content->clear();
  return read;
}

std::string pathBeside(const std::string& path, const std::string& name) {
  return path.substr(0, path.size() - lastComponent(path).size()) + name;
}
