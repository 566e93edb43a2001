// -b: the packets and ZIP bundles a flow file lists, as a link's tosser
// and packer leave them, get the new origin; bundles made by Info-ZIP.
#include <filesystem>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

const NodeAddress kOtherZone{2, 463, 68, 0};

class Bundles : public EndToEnd {
 protected:
  // Info-ZIP's archive of these files of pkt/, written to `name`.
  void bundle(const std::string& name, const std::string& options, const std::string& members) {
    const std::string bytes = infoZip(path("pkt"), options, members, "a comment\n");
    ASSERT_FALSE(bytes.empty()) << "no Info-ZIP (Debian: zip, unzip)";
    writeFile(name, bytes);
  }
  // The member's content, as Info-ZIP's unzip extracts it.
  std::string member(const std::string& archive, const std::string& name) {
    const std::string to = path("extracted");
    std::system(("unzip -p '" + path(archive) + "' " + name + " > '" + to + "'").c_str());
    std::string bytes = readFile("extracted");
    fs::remove(to);
    return bytes;
  }
};

TEST_F(Bundles, FlowFileBundlesOfEveryKindAndAnAttachedPacket) {
  writeFile("pkt/p1.pkt", echoPacket(kHub));
  writeFile("pkt/p2.pkt", echoPacket(kOtherZone));  // not listed
  writeFile("pkt/p3.pkt", echoPacketRewritten(kHub));
  writeFile("pkt/notes.txt", "not a packet\n");
  writeFile("pkt/attached.pkt", echoPacket(kHub));
  bundle("out/00000001.mo0", "-9", "p1.pkt p2.pkt notes.txt");
  bundle("out/00000001.tu0", "-0 -fd -z -c", "p1.pkt");  // stored, descriptors, comments
  bundle("out/00000001.we0", "-9", "p3.pkt");            // nothing to change
  writeFile("out/00000001.th0", "\x1a\x08 an ARC archive");
  bundle("out/00000001.fr0", "-P secret", "p1.pkt");     // encrypted
  bundle("out/00000001.sa0", "-9", "p1.pkt");
  fs::create_hard_link(path("out/00000001.sa0"), path("out/hardlink.zip"));
  writeFile("out/00000001.su0", "");  // sent and truncated
  bundle("out/00000001.tu1", "-9", "p1.pkt");
  const std::string whole = readFile("out/00000001.tu1");
  writeFile("out/00000001.tu1", whole.substr(0, whole.size() - 1));  // damaged
  const std::string absolute = path("out/00000001.mo0");
  writeFile("out/00000001.flo", "^" + absolute + "\n#out/00000001.tu0\r\n~out/00000001.mo0\n" +
                                    "out/00000001.we0\n!out/00000001.tu1\nout/00000001.th0\n" +
                                    "out/00000001.fr0\n^out/00000001.sa0\nout/00000001.su0\n" +
                                    "out/00000001.mo9\n^pkt/attached.pkt\n-out/00000001.mo0\n" +
                                    "out/00000001.tu1\n");
  const std::string from = " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 1\n";
  const std::string body =
      absolute + ":p1.pkt" + from + "out/00000001.tu0:p1.pkt" + from +
      "out/00000001.we0:p3.pkt to 2:5020/1.0 already from 2:5020/999.0\n"
      "out/00000001.th0 is no ZIP archive, left as it is\n"
      "out/00000001.fr0 uses a ZIP feature not handled here, left as it is\n"
      "out/00000001.sa0 has other names, left as it is\n"
      "pkt/attached.pkt" + from + "Error in out/00000001.tu1\n";
  const auto before = files();
  RunOutput shown = run({"-n", "-B", "-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(shown.status, 2);
  EXPECT_EQ(shown.console, consoleOf("Destination \"2:5020/All\" selects 2:5020/All\n" + body));
  EXPECT_EQ(files(), before);
  RunOutput out = run({"-b", "-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf(body));
  for (const char* written : {"out/00000001.mo0", "out/00000001.tu0"}) {
    EXPECT_TRUE(infoUnzipFindsWhole(path(written))) << written;
    EXPECT_EQ(member(written, "p1.pkt"), echoPacketRewritten(kHub)) << written;
  }
  EXPECT_EQ(member("out/00000001.mo0", "p2.pkt"), echoPacket(kOtherZone));
  EXPECT_EQ(member("out/00000001.mo0", "notes.txt"), "not a packet\n");
  auto expected = before;
  expected["pkt/attached.pkt"] = echoPacketRewritten(kHub);
  expected["out/00000001.mo0"] = readFile("out/00000001.mo0");
  expected["out/00000001.tu0"] = readFile("out/00000001.tu0");
  EXPECT_EQ(files(), expected);
}

}  // namespace
