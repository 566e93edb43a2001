#include "outbound/packers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

// The packer the Unpack lines' signatures find for a file's bytes.
std::string packerFor(const Packers& packers, const std::string& bytes) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("packers-" + std::to_string(getpid()))).string();
  std::ofstream(path, std::ios::binary) << bytes;
  FileHandle file = kNoFile;
  EXPECT_EQ(openFileForReading(path, &file), OpenOutcome::Opened);
  const Packer* packer = packerOf(packers, file);
  closeFile(file);
  std::filesystem::remove(path);
  return packer != nullptr ? packer->name : "none";
}

TEST(Packers, TheFirstUnpackLineWhoseSignatureMatchesDecides) {
  Packers packers;
  packers.packers = {{"pack-only", 0, {0x60}, {}, {"p"}},
                     {"arj", 0, {0x60, 0xEA}, {"u"}, {"p"}},
                     {"lha", 2, {'-', 'l', 'h'}, {"u"}, {}},
                     {"any", 0, {-1, 0xEA}, {"u"}, {}}};
  const std::pair<std::string, std::string> rows[] = {
      {"\x60\xEA rest", "arj"}, {"xx-lh5-", "lha"}, {"\x61\xEA", "any"},
      {"\x60", "none"},  // shorter than the signature
      {"-lh", "none"},   {"", "none"},
  };
  for (const auto& [bytes, name] : rows) EXPECT_EQ(packerFor(packers, bytes), name) << bytes;
}

TEST(Packers, CommandWordsTakeTheArchiveTheDirectoryAndTheFiles) {
  EXPECT_EQ(commandWords({"7z", "e", "-y", "-o$p", "$a", "$f", "x$f", "$$a"}, "/o/b.mo0",
                         "/t/$a", {"./a.pkt", "./b.txt"}),
            (std::vector<std::string>{"7z", "e", "-y", "-o/t/$a", "/o/b.mo0", "./a.pkt",
                                      "./b.txt", "x$f", "$/o/b.mo0"}));
}

TEST(Packers, AFailedCommandSaysWhyInALine) {
  const std::pair<CommandResult, std::string> rows[] = {
      {{CommandEnd::Exited, 0, "all well\n"}, ""},
      {{CommandEnd::Exited, 2, "Adding a\r\nError: disk\x07 full\r\n\n"}, "Error: disk  full, exit status 2"},
      {{CommandEnd::Exited, 1, ""}, "exit status 1"},
      {{CommandEnd::Signalled, 9, "x\n"}, "x, ended by signal 9"},
      {{CommandEnd::CannotStart, 0, "cannot start arj: No such file or directory"},
       "cannot start arj: No such file or directory"},
      {{CommandEnd::TimedOut, 0, "Truncate (y/n)? Truncate (y/n)?"}, "ended after 5 s"},
  };
  for (const auto& [result, reason] : rows) EXPECT_EQ(commandFailure(result, 5), reason);
}

}  // namespace
