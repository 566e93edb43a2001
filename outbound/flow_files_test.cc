#include "outbound/flow_files.h"

#include <gtest/gtest.h>

namespace {

TEST(FlowFiles, LinesListBundlesAndPacketsOnly) {
  const char content[] =
      "^/var/spool/ftn/out/00000fa0.mo0\n"  // sent, then removed
      "#out/0000FA0B.TU9\r\n"                // sent, then truncated
      "-pkt/1a2b3c4d.PKT\n"
      "@pkt/x.pkt\n"
      "out/00000fa0.su0\n"                   // left as it is
      "~out/00000fa0.mo1\n"                  // sent already
      "!out/00000fa0.mo2\n"                  // a comment
      "\n"
      "^^out/00000fa0.mo3\n"                 // one mark is dropped: "^out/..." is the path
      "out/00000fa0.mo\n"
      "out/0000fa0.mo0\n"
      "out/00000fa0.mx0\n"
      "out/00000fa0.mo0/\n"
      "out/readme.txt\n"
      "/etc/passwd\0/x.pkt\n"                // the system would open /etc/passwd
      "out/2.5020.1.0.MO0\n"
      "out/2.5020.1.mo0\nout/2.5020.1.0.0.mo0\nout/2..1.0.mo0\nout/2.5020.1.x.mo0\n"
      "out/00000fa0.fr_";
  const std::vector<ListedFile> listed = listedMail(std::string(content, sizeof content - 1));
  const std::vector<std::pair<std::string, ListedKind>> expected = {
      {"/var/spool/ftn/out/00000fa0.mo0", ListedKind::Bundle},
      {"out/0000FA0B.TU9", ListedKind::Bundle},
      {"pkt/1a2b3c4d.PKT", ListedKind::Packet},
      {"pkt/x.pkt", ListedKind::Packet},
      {"out/00000fa0.su0", ListedKind::Bundle},
      {"^out/00000fa0.mo3", ListedKind::Bundle},
      {"out/2.5020.1.0.MO0", ListedKind::Bundle},
  };
  ASSERT_EQ(listed.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(listed[i].path, expected[i].first);
    EXPECT_EQ(listed[i].kind, expected[i].second) << listed[i].path;
  }
  for (const char* name : {"139c0001.flo", "139C0001.CLO", "x.Dlo", "x.hlo", "x.ILO"}) {
    EXPECT_TRUE(isFlowFileName(name)) << name;
  }
  for (const char* name : {"139c0001.out", "x.plo", "x.flo.bak", "flo", "x.fl"}) {
    EXPECT_FALSE(isFlowFileName(name)) << name;
  }
}

}  // namespace
