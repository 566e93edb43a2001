#include "driver/config_file.h"

#include "base/ascii.h"
#include "base/directory_listing.h"
#include "base/messages.h"
#include "base/platform.h"

namespace {

constexpr std::size_t kLongestPiece = 199;
constexpr int kCarriageReturn = '\r';
constexpr int kDosEndOfFile = 26;  // Ctrl-Z

// Reads the file as DOS text, byte for byte the same on every platform: a
// carriage return is dropped and the character after it taken unchecked; a
// Ctrl-Z that is not taken that way ends the file.
class DosTextReader {
 public:
  explicit DosTextReader(std::FILE* file) : file_(file) {}

  // The next piece of a line: up to and including a line feed, or
  // kLongestPiece characters. False at the end of the file with nothing read.
  bool nextPiece(std::string* piece) {
    piece->clear();
    while (!ended_ && piece->size() < kLongestPiece) {
      int c = std::fgetc(file_);
      if (c == kCarriageReturn) {
        c = std::fgetc(file_);
      } else if (c == kDosEndOfFile) {
        ended_ = true;
        break;
      }
      if (c == EOF) {
        ended_ = true;
        break;
      }
      piece->push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    return !piece->empty();
  }

 private:
  std::FILE* file_;
  bool ended_ = false;
};

bool isBlankOrTab(char c) { return c == ' ' || c == '\t'; }

void applyStatement(const std::vector<std::string>& words, RunSettings* settings) {
  switch (readPackerStatement(words, &settings->packers)) {
    case PackerStatement::Read: return;
    case PackerStatement::Incomplete:
      consoleMessage("Incomplete cfg statement: %s\n", words[0].c_str());
      return;
    case PackerStatement::NotOne: break;
  }
  std::optional<std::string>* setting = nullptr;
  if (asciiEqualIgnoringCase(words[0], "OutSq")) {
    setting = &settings->outboundDir;
  } else if (asciiEqualIgnoringCase(words[0], "StatusLog")) {
    setting = &settings->statusLogPath;
  } else {
    consoleMessage("Unknown cfg statement: %s\n", words[0].c_str());
    return;
  }
  if (words.size() >= 2) *setting = words[1];
}

// The name to open: "Pelorin.Cfg" itself when present, otherwise the first
// file or link of the directory whose name equals it ignoring ASCII case (a
// file carried over from a case-insensitive system). Empty when none.
std::string findConfigFile(const std::string& directory) {
  std::string exact = joinPath(directory, kConfigFileName);
  if (pathExists(exact)) return exact;
  std::vector<std::string> names;
  listNames(
      directory,
      [](const DirectoryEntry& entry) {
        const bool fileOrLink =
            entry.kind == EntryKind::RegularFile || entry.kind == EntryKind::SymbolicLink;
        return fileOrLink && asciiEqualIgnoringCase(entry.name, kConfigFileName);
      },
      &names);
  return names.empty() ? std::string() : joinPath(directory, names.front());
}

}  // namespace

std::vector<std::string> configWords(const std::string& piece) {
  // A NUL ends the text as it would end a C string.
  std::size_t cut = piece.find_first_of(std::string(";\n\0", 3));
  std::string text = piece.substr(0, cut);
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isBlankOrTab(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !isBlankOrTab(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

void readConfigStatements(std::FILE* file, RunSettings* settings) {
  DosTextReader reader(file);
  std::string piece;
  while (reader.nextPiece(&piece)) {
    std::vector<std::string> words = configWords(piece);
    if (!words.empty()) applyStatement(words, settings);
  }
}

void readConfigFile(RunSettings* settings) {
  std::string path = findConfigFile(".");
  if (path.empty()) return;
  std::FILE* file = openConfigFile(path);
  if (file == nullptr) return;
  readConfigStatements(file, settings);
  std::fclose(file);
}
