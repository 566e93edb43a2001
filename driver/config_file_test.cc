#include "driver/config_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct Read {
  RunSettings settings;
  std::string console;
};

Read readConfigText(const std::string& text) {
  std::FILE* file = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), file);
  std::rewind(file);
  Read read;
  testing::internal::CaptureStdout();
  readConfigStatements(file, &read.settings);
  read.console = testing::internal::GetCapturedStdout();
  std::fclose(file);
  return read;
}

std::string outbound(const Read& read) { return read.settings.outboundDir.value_or("<none>"); }
std::string statusLog(const Read& read) { return read.settings.statusLogPath.value_or("<none>"); }

TEST(ConfigFile, KeywordsInAnyCaseSetTheirValues) {
  Read read = readConfigText("outsq /var/out\nSTATUSLOG\tplrn.log\n");
  EXPECT_EQ(outbound(read), "/var/out");
  EXPECT_EQ(statusLog(read), "plrn.log");
  EXPECT_EQ(read.console, "");
}

TEST(ConfigFile, AnythingElseIsReportedByItsFirstWord) {
  Read read = readConfigText("OutSq=/x\nOutSqDir /y\n\x01weird %s word\n");
  EXPECT_EQ(outbound(read), "<none>");
  EXPECT_EQ(read.console,
            "Unknown cfg statement: OutSq=/x\n"
            "Unknown cfg statement: OutSqDir\n"
            "Unknown cfg statement: \x01weird\n");
}

TEST(ConfigFile, CommentsAndExtraWordsAreDropped) {
  Read read = readConfigText(
      "; outbound of the mail processor\n"
      "   OutSq   /a;comment\n"
      "StatusLog log1 ; comment\n"
      "StatusLog ; only a comment, so ignored\n"
      "OutSq /b third words\n"
      "\t \n");
  EXPECT_EQ(outbound(read), "/b");
  EXPECT_EQ(statusLog(read), "log1");
  EXPECT_EQ(read.console, "");
}

TEST(ConfigFile, PackerLinesLaterOnesReplacingEarlier) {
  Read read = readConfigText(
      "Unpack arj 0 60EA arj e -y $a\n"
      "Pack arj arj a -y $a $f\n"
      "unpack lha 2 2d6C68 jlha xifw=$p $a ; LHA\n"
      "Unpack arj 0 60ea arj x $a\n"
      "Unpack any 3 ??1A?? x $a\n"
      "PackerTimeLimit 30\n"
      "Unpack bad 0 6G x $a\nUnpack odd 0 60E x $a\nUnpack none 0 60EA\nUnpack far x 60EA x\n"
      "Pack alone\nPackerTimeLimit 0\nPackerTimeLimit 86401\n");
  const Packers& packers = read.settings.packers;
  ASSERT_EQ(packers.packers.size(), 3u);
  const Packer& arj = packers.packers[0];
  EXPECT_EQ(arj.name, "arj");
  EXPECT_EQ(arj.signature, (std::vector<int>{0x60, 0xEA}));
  EXPECT_EQ(arj.unpack, (std::vector<std::string>{"arj", "x", "$a"}));
  EXPECT_EQ(arj.pack, (std::vector<std::string>{"arj", "a", "-y", "$a", "$f"}));
  EXPECT_EQ(packers.packers[1].offset, 2);
  EXPECT_EQ(packers.packers[1].signature, (std::vector<int>{0x2D, 0x6C, 0x68}));
  EXPECT_TRUE(packers.packers[1].pack.empty());
  EXPECT_EQ(packers.packers[2].signature, (std::vector<int>{-1, 0x1A, -1}));
  EXPECT_EQ(packers.timeLimitSeconds, 30u);
  std::string incomplete;
  for (const char* word : {"Unpack", "Unpack", "Unpack", "Unpack", "Pack", "PackerTimeLimit",
                           "PackerTimeLimit"}) {
    incomplete += std::string("Incomplete cfg statement: ") + word + "\n";
  }
  EXPECT_EQ(read.console, incomplete);
}

TEST(ConfigFile, EmptyOrCommentOnlyFilesSetNothing) {
  for (const char* text : {"", ";a\n;b", "\n\n", "\x1AOutSq /x\n"}) {
    Read read = readConfigText(text);
    EXPECT_EQ(outbound(read), "<none>");
    EXPECT_EQ(read.console, "");
  }
}

TEST(ConfigFile, LongLinesAreReadInPiecesOf199Characters) {
  // 199 characters of the first statement, then the rest as a line of its own.
  std::string first = "OutSq " + std::string(193, 'p');
  Read read = readConfigText(first + "StatusLog " + std::string(41, 'q') + "\n");
  EXPECT_EQ(outbound(read), std::string(193, 'p'));
  EXPECT_EQ(statusLog(read), std::string(41, 'q'));
  Read split = readConfigText(std::string(199, 'x') + "abc def\n");
  EXPECT_EQ(split.console, "Unknown cfg statement: " + std::string(199, 'x') +
                               "\nUnknown cfg statement: abc\n");
}

TEST(ConfigFile, DosLineEndsAreDecodedTheSameOnEveryPlatform) {
  EXPECT_EQ(outbound(readConfigText("OutSq /crlf\r\nStatusLog l\r\n")), "/crlf");
  // A lone CR swallows the character after it.
  EXPECT_EQ(outbound(readConfigText("OutSq /a\rb\n")), "/ab");
  // Of two CRs only the first is dropped; the second stays in the word.
  EXPECT_EQ(outbound(readConfigText("OutSq /a\r\r\n")), "/a\r");
  // A Ctrl-Z right after a CR is an ordinary character.
  EXPECT_EQ(outbound(readConfigText("OutSq /a\r\x1A" "b\n")), "/a\x1A" "b");
  EXPECT_EQ(statusLog(readConfigText("StatusLog last-line-without-feed")), "last-line-without-feed");
}

TEST(ConfigFile, CtrlZEndsItsLineAndTheFile) {
  Read read = readConfigText("OutSq /before\x1A junk\nStatusLog never\n");
  EXPECT_EQ(outbound(read), "/before");
  EXPECT_EQ(statusLog(read), "<none>");
  Read atStart = readConfigText("OutSq /x\n\x1AStatusLog never\n");
  EXPECT_EQ(outbound(atStart), "/x");
  EXPECT_EQ(statusLog(atStart), "<none>");
}

TEST(ConfigFile, WordsSplitAtBlanksAndTabsOnly) {
  EXPECT_EQ(configWords(" \tOutSq\t\t/x\v y ;z"),
            (std::vector<std::string>{"OutSq", "/x\v", "y"}));
  EXPECT_TRUE(configWords(";OutSq /x").empty());
}

}  // namespace
