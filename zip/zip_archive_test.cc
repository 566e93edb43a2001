#include "zip/zip_archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "test_files.h"

namespace {

namespace fs = std::filesystem;

// Archives made by Info-ZIP of a packet and a text, read from files.
class ZipArchives : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() / ("zip-test-" + std::to_string(getpid()))).string();
    fs::create_directories(dir_);
    std::ofstream(dir_ + "/a.pkt", std::ios::binary) << packet_;
    std::ofstream(dir_ + "/b.txt", std::ios::binary) << text_;
    if (infoZip(dir_, "", "a.pkt").empty()) GTEST_SKIP() << "no Info-ZIP (Debian: zip, unzip)";
  }
  void TearDown() override {
    if (file_ != kNoFile) closeFile(file_);
    fs::remove_all(dir_);
  }
  ZipReading read(const std::string& bytes, ZipArchive* archive) {
    if (file_ != kNoFile) closeFile(file_);
    std::ofstream(dir_ + "/read.zip", std::ios::binary) << bytes;
    EXPECT_EQ(openFileForReading(dir_ + "/read.zip", &file_), OpenOutcome::Opened);
    return readZipArchive(file_, static_cast<std::int64_t>(bytes.size()), archive);
  }
  std::string content(const ZipArchive& archive, const ZipMember& member) {
    std::string bytes(member.size, '\0');
    unsigned char* at = reinterpret_cast<unsigned char*>(&bytes[0]);
    return readMember(archive, member, {{at, bytes.size()}}, true) == MemberReading::Read
               ? bytes
               : "<damaged>";
  }
  const std::string packet_ = std::string(58, 'h') + "AREA:x" + std::string(300, 'm');
  const std::string text_ = std::string(5000, 't');
  std::string dir_;
  FileHandle file_ = kNoFile;
};

TEST_F(ZipArchives, WhatInfoZipWritesIsReadOrToldApart) {
  const std::pair<const char*, ZipReading> rows[] = {
      {"-9", ZipReading::Read},
      {"-0", ZipReading::Read},                // stored
      {"-1 -fd", ZipReading::Read},            // data descriptors
      {"-z -c", ZipReading::Read},             // comments on the archive and each member
      {"-fz", ZipReading::Unsupported},        // ZIP64
      {"-P secret", ZipReading::Unsupported},  // encrypted
  };
  for (const auto& [options, outcome] : rows) {
    ZipArchive archive;
    ASSERT_EQ(read(infoZip(dir_, options, "a.pkt b.txt", "one\ntwo\nthree\n"), &archive), outcome)
        << options;
    if (outcome != ZipReading::Read) continue;
    ASSERT_EQ(archive.members.size(), 2u) << options;
    EXPECT_EQ(archive.members[0].name, "a.pkt");
    EXPECT_EQ(content(archive, archive.members[0]), packet_) << options;
    EXPECT_EQ(content(archive, archive.members[1]), text_) << options;
  }
}

TEST_F(ZipArchives, DamagedArchivesAreErrorsAndOthersNoZip) {
  const std::string good = infoZip(dir_, "-9 -z", "a.pkt b.txt", "comment\n");
  const std::string described = infoZip(dir_, "-9 -fd", "a.pkt b.txt");
  auto changed = [](std::string bytes, std::size_t at, char value) {
    bytes.at(at) = value;
    return bytes;
  };
  const std::size_t directoryAt = good.size() - 22 - 8 + 16;  // the end record's offset field
  const std::pair<std::string, ZipReading> rows[] = {
      {"\x1a\x08" + good, ZipReading::NotZip},           // an ARC archive, say
      {"PK\x07\x08" + good.substr(4), ZipReading::Unsupported},  // split
      {good.substr(0, good.size() - 1), ZipReading::Damaged},    // the end record cut
      {good.substr(100), ZipReading::NotZip},
      {changed(good, directoryAt, static_cast<char>(good[directoryAt] + 1)), ZipReading::Damaged},
      {changed(described, 14, 'x'), ZipReading::Read},  // a descriptor's local CRC is not read
      {good + "\x1a\x1a\x1a", ZipReading::Read},             // padded by a DOS packer
      // A ZIP64 field in a local header only (the first member's first extra field).
      {std::string(good).replace(30 + 5, 2, std::string("\x01\0", 2)), ZipReading::Unsupported},
      {std::string("PK\x05\x06", 4) + std::string(18, '\0'), ZipReading::Read},  // empty
  };
  for (const auto& [bytes, outcome] : rows) {
    ZipArchive archive;
    EXPECT_EQ(read(bytes, &archive), outcome) << bytes.substr(0, 8);
  }
  // A member whose data does not match its CRC reads as damaged, whole.
  ZipArchive archive;
  std::string corrupt = good;
  const ZipMember first = (read(good, &archive), archive.members[0]);
  corrupt[static_cast<std::size_t>(first.dataAt) + 3] ^= 0x55;
  ASSERT_EQ(read(corrupt, &archive), ZipReading::Read);
  EXPECT_EQ(content(archive, archive.members[0]), "<damaged>");
}

TEST_F(ZipArchives, RewrittenArchiveChangesOneMemberAndKeepsTheRest) {
  const std::pair<const char*, const char*> rows[] = {{"-9 -z -c", ""}, {"-0 -fd", "\x1a\x1a"}};
  for (const auto& [options, padding] : rows) {
    ZipArchive old;
    ASSERT_EQ(read(infoZip(dir_, options, "a.pkt b.txt", "c1\nc2\nc3\n") + padding, &old),
              ZipReading::Read);
    std::string fresh = packet_;
    fresh[0] = 'X';
    ZipWriter writer;
    writer.file = createHeldFile(dir_ + "/new.zip");
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&fresh[0]);
    ASSERT_EQ(rewriteMember(&writer, old, old.members[0], {{bytes, 10}, {bytes + 10, fresh.size() - 10}}),
              ZipWrite::Written);
    ASSERT_EQ(copyMember(&writer, old, old.members[1]), ZipWrite::Written);
    ASSERT_TRUE(finishZip(&writer, old));
    closeFile(writer.file);
    EXPECT_TRUE(infoUnzipFindsWhole(dir_ + "/new.zip")) << options;
    ZipArchive now;
    ASSERT_EQ(read(readWholeFile(dir_ + "/new.zip"), &now), ZipReading::Read);
    EXPECT_EQ(content(now, now.members[0]), fresh) << options;
    EXPECT_EQ(now.members[0].method, old.members[0].method) << options;
    EXPECT_EQ(content(now, now.members[1]), text_) << options;
    EXPECT_EQ(now.members[1].central.substr(46), old.members[1].central.substr(46)) << options;
    // The archive's comment, and the bytes after it.
    EXPECT_EQ(now.end.substr(20), old.end.substr(20)) << options;
    fs::remove(dir_ + "/new.zip");
  }
}

}  // namespace
