#include "outbound/packers.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/file_io.h"

namespace {

constexpr unsigned kLongestTimeLimit = 86400;

int hexValue(char c) {
  const char upper = asciiToUpper(c);
  if (asciiIsDigit(c)) return c - '0';
  return upper >= 'A' && upper <= 'F' ? upper - 'A' + 10 : -1;
}

bool readSignature(const std::string& text, std::vector<int>* signature) {
  if (text.empty() || text.size() % 2 != 0) return false;
  signature->clear();
  for (std::size_t at = 0; at < text.size(); at += 2) {
    if (text[at] == '?' && text[at + 1] == '?') {
      signature->push_back(-1);
      continue;
    }
    const int high = hexValue(text[at]), low = hexValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    signature->push_back(high * 16 + low);
  }
  return true;
}

// Decimal digits, at most `largest`.
bool readNumber(const std::string& text, std::uint64_t largest, std::uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  *value = 0;
  for (char c : text) {
    if (!asciiIsDigit(c)) return false;
    *value = *value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return *value <= largest;
}

// The packer of that name, made at the end when there is none yet.
Packer* packerNamed(Packers* packers, const std::string& name) {
  for (Packer& packer : packers->packers) {
    if (packer.name == name) return &packer;
  }
  packers->packers.push_back(Packer{});
  packers->packers.back().name = name;
  return &packers->packers.back();
}

PackerStatement readUnpack(const std::vector<std::string>& words, Packers* packers) {
  std::uint64_t offset = 0;
  std::vector<int> signature;
  if (words.size() < 5 || !readNumber(words[2], 1u << 30, &offset) ||
      !readSignature(words[3], &signature)) {
    return PackerStatement::Incomplete;
  }
  Packer* packer = packerNamed(packers, words[1]);
  packer->offset = static_cast<std::int64_t>(offset);
  packer->signature = signature;
  packer->unpack.assign(words.begin() + 4, words.end());
  return PackerStatement::Read;
}

PackerStatement readPack(const std::vector<std::string>& words, Packers* packers) {
  if (words.size() < 3) return PackerStatement::Incomplete;
  packerNamed(packers, words[1])->pack.assign(words.begin() + 2, words.end());
  return PackerStatement::Read;
}

PackerStatement readTimeLimit(const std::vector<std::string>& words, Packers* packers) {
  std::uint64_t seconds = 0;
  if (words.size() < 2 || !readNumber(words[1], kLongestTimeLimit, &seconds) || seconds == 0) {
    return PackerStatement::Incomplete;
  }
  packers->timeLimitSeconds = static_cast<unsigned>(seconds);
  return PackerStatement::Read;
}

bool matches(const Packer& packer, FileHandle file) {
  std::vector<unsigned char> bytes(packer.signature.size());
  if (!readFullyAt(file, packer.offset, bytes.data(), bytes.size())) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (packer.signature[i] >= 0 && packer.signature[i] != bytes[i]) return false;
  }
  return true;
}

// One pass, so that a path given for one mark is never read for another.
std::string withPaths(const std::string& word, const std::string& archive,
                      const std::string& directory) {
  std::string given;
  for (std::size_t at = 0; at < word.size(); ++at) {
    const char next = at + 1 < word.size() ? word[at + 1] : '\0';
    if (word[at] == '$' && (next == 'a' || next == 'p')) {
      given += next == 'a' ? archive : directory;
      ++at;
    } else {
      given += word[at];
    }
  }
  return given;
}

std::string lastLine(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  std::size_t start = output.find_last_of("\r\n");
  std::string line = output.substr(start == std::string::npos ? 0 : start + 1);
  // What a program writes is shown in the run's lines: no control bytes.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return line;
}

}  // namespace

PackerStatement readPackerStatement(const std::vector<std::string>& words, Packers* packers) {
  if (words.empty()) return PackerStatement::NotOne;
  if (asciiEqualIgnoringCase(words[0], "Unpack")) return readUnpack(words, packers);
  if (asciiEqualIgnoringCase(words[0], "Pack")) return readPack(words, packers);
  if (asciiEqualIgnoringCase(words[0], "PackerTimeLimit")) return readTimeLimit(words, packers);
  return PackerStatement::NotOne;
}

const Packer* packerOf(const Packers& packers, FileHandle file) {
  for (const Packer& packer : packers.packers) {
    if (!packer.unpack.empty() && matches(packer, file)) return &packer;
  }
  return nullptr;
}

std::vector<std::string> commandWords(const std::vector<std::string>& words,
                                      const std::string& archive, const std::string& directory,
                                      const std::vector<std::string>& files) {
  std::vector<std::string> given;
  for (const std::string& word : words) {
    if (word == "$f") {
      given.insert(given.end(), files.begin(), files.end());
    } else {
      given.push_back(withPaths(word, archive, directory));
    }
  }
  return given;
}

std::string commandFailure(const CommandResult& result, unsigned timeLimitSeconds) {
  const std::string line = lastLine(result.output);
  const std::string said = line.empty() ? "" : line + ", ";
  switch (result.end) {
    case CommandEnd::CannotStart: return line;
    case CommandEnd::TimedOut: return "ended after " + std::to_string(timeLimitSeconds) + " s";
    case CommandEnd::Signalled: return said + "ended by signal " + std::to_string(result.status);
    case CommandEnd::Exited: break;
  }
  return result.status == 0 ? "" : said + "exit status " + std::to_string(result.status);
}
