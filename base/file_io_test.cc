#include "base/file_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

// A file read, then changed (or not) by another program before the reader
// would replace it.
TEST(UnchangedSince, TellsAFileWrittenOrReplacedSinceItWasRead) {
  const std::string dir =
      (fs::temp_directory_path() / ("file-io-" + std::to_string(getpid()))).string();
  const std::string path = dir + "/bundle";
  auto write = [&](const std::string& to, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream(to, std::ios::binary | mode) << bytes;
  };
  // A write that a file system with coarse time stamps shows too.
  auto later = [&] { fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2)); };
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"", [] {}},
      {"grown in place", [&] { write(path, "more", std::ios::app); }},
      {"written over in place",
       [&] {
         write(path, "ZIPZIP", std::ios::in | std::ios::out);
         later();
       }},
      {"replaced",
       [&] {
         write(dir + "/new", "ZIPZIP", std::ios::out);
         fs::rename(dir + "/new", path);
       }},
      {"removed", [&] { fs::remove(path); }},
  };
  for (const auto& [change, makeIt] : rows) {
    fs::create_directories(dir);
    write(path, "zipzip", std::ios::out);
    FileHandle file = kNoFile;
    ASSERT_EQ(openFileForReading(path, &file), OpenOutcome::Opened);
    FileStatus read;
    ASSERT_TRUE(fileStatus(file, &read));
    makeIt();
    EXPECT_EQ(unchangedSince(path, file, read), *change == '\0') << change;
    closeFile(file);
    fs::remove_all(dir);
  }
}

}  // namespace
