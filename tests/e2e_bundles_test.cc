// -b: the packets and ZIP bundles a flow file lists, as a link's tosser
// and packer leave them, get the new origin; bundles made by Info-ZIP.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

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
    std::system(("unzip -p '" + path(archive) + "' " + name + " > '" + to + "' 2>/dev/null").c_str());
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
  bundle("out/00000001.mo1", "-9", "p1.pkt");
  writeFile("out/00000001.mo1", readFile("out/00000001.mo1") + "\x1a\x1a");  // DOS padding
  bundle("out/00000001.tu1", "-9", "p1.pkt");
  const std::string whole = readFile("out/00000001.tu1");
  writeFile("out/00000001.tu1", whole.substr(0, whole.size() - 1));  // damaged
  // The same, while a packer still writes it under its node's flag.
  writeFile("out/00000000.mo0", whole.substr(0, whole.size() - 1));
  writeFile("out/00000000.flo", "^out/00000000.mo0\n");
  writeFile("out/00000000.bsy", "12345\n");
  const std::string absolute = path("out/00000001.mo0");
  writeFile("out/00000001.flo", "^" + absolute + "\n#out/00000001.tu0\r\n~out/00000001.mo0\n" +
                                    "out/00000001.we0\n!out/00000001.tu1\nout/00000001.th0\n" +
                                    "out/00000001.fr0\n^out/00000001.sa0\nout/00000001.su0\n" +
                                    "out/00000001.mo9\n^pkt/attached.pkt\n-out/00000001.mo0\n" +
                                    "out/00000001.mo1\nout/00000001.tu1\n");
  const std::string from = " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 1\n";
  const std::string left =
      "out/00000001.th0 is no ZIP archive, left as it is\n"
      "out/00000001.fr0 uses a ZIP feature not handled here, left as it is\n"
      "out/00000001.sa0 has other names, left as it is\n";
  const std::string notThere =
      joined("out", "00000001.flo") + " lists out/00000001.mo9, which is not there\n";
  const std::string body =
      "out/00000000.mo0 busy, left for the next run\n" + absolute + ":p1.pkt" + from +
      "out/00000001.tu0:p1.pkt" + from +
      "out/00000001.we0:p3.pkt to 2:5020/1.0 already from 2:5020/999.0\n" + left + notThere +
      "pkt/attached.pkt" + from + "out/00000001.mo1:p1.pkt" + from +
      "Error in out/00000001.tu1\n  no end record\n";
  const auto before = files();
  // Without -b, a word that flow files list mail it would take.
  EXPECT_EQ(run({"-oout", "2:5020/999", "2:5020/All"}).console,
            consoleOf(done("", "Flow files list bundles or packets: -b rewrites them too\n")));
  RunOutput shown = run({"-n", "-B", "-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(shown.status, 2);
  EXPECT_EQ(shown.console, consoleOf("Destination \"2:5020/All\" selects 2:5020/All\n" + body));
  EXPECT_EQ(files(), before);
  RunOutput out = run({"-b", "-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.console, consoleOf(body));
  for (const char* written : {"out/00000001.mo0", "out/00000001.tu0", "out/00000001.mo1"}) {
    EXPECT_TRUE(infoUnzipFindsWhole(path(written))) << written;
    EXPECT_EQ(member(written, "p1.pkt"), echoPacketRewritten(kHub)) << written;
  }
  EXPECT_EQ(member("out/00000001.mo0", "p2.pkt"), echoPacket(kOtherZone));
  EXPECT_EQ(member("out/00000001.mo0", "notes.txt"), "not a packet\n");
  auto expected = before;
  expected["pkt/attached.pkt"] = echoPacketRewritten(kHub);
  expected["out/00000001.mo0"] = readFile("out/00000001.mo0");
  expected["out/00000001.tu0"] = readFile("out/00000001.tu0");
  expected["out/00000001.mo1"] = readFile("out/00000001.mo1");
  EXPECT_EQ(expected["out/00000001.mo1"].substr(expected["out/00000001.mo1"].size() - 2), "\x1a\x1a");
  EXPECT_EQ(files(), expected);
  // Whole again, the bundles give a run that gets through: busy first, then
  // with what was left for the sysop.
  writeFile("out/00000000.mo0", whole);
  writeFile("out/00000001.tu1", whole);
  EXPECT_EQ(run({"-b", "-oout", "2:5020/999", "2:5020/All"}).status, 3);
  fs::remove(path("out/00000000.bsy"));
  RunOutput again = run({"-b", "-oout", "2:5020/999", "2:5020/All"});
  EXPECT_EQ(again.status, 5);
  const std::size_t at = again.console.find(text(left));
  ASSERT_NE(at, std::string::npos) << again.console;
  const std::string already = " to 2:5020/1.0 already from 2:5020/999.0\n";
  EXPECT_EQ(again.console.substr(at),
            text(left + notThere + "pkt/attached.pkt" + already + "out/00000001.mo1:p1.pkt" + already +
                 "out/00000001.tu1:p1.pkt" + already +
                 summary(again.console.substr(again.console.find("Working in"))) + "\n\nDone.\n"));
}

TEST_F(Bundles, WhatAPackerDoesMeanwhileIsReadOrLeftNeverLost) {
  if (windowsTarget()) GTEST_SKIP() << "the fault hooks wrap the POSIX platform layer";
  writeFile("pkt/p1.pkt", echoPacket(kHub));
  writeFile("pkt/p2.pkt", echoPacket(kHub));
  const std::string from = " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 1\n";
  const std::string first = "out/00000001.mo0:p1.pkt" + from;
  const std::string grow = "zip -qgj out/00000001.mo0 pkt/p2.pkt";
  struct Case {
    const char* fault;
    std::string command;  // a packer's, run at the fault point
    std::string body;
    int status;
    std::map<std::string, bool> members;  // what the bundle holds: rewritten or not
  };
  const Case cases[] = {
      // Grown in place or written over in place as the flag is taken: read again.
      {"flagLink:1:run", grow, first + "out/00000001.mo0:p2.pkt" + from, 0,
       {{"p1.pkt", true}, {"p2.pkt", true}}},
      {"flagLink:1:run", "cp pkt/two.zip out/00000001.mo0", "out/00000001.mo0:p2.pkt" + from, 0,
       {{"p2.pkt", true}}},
      // Grown without a flag while the new archive is written: left whole.
      {"bundleWrite:1:run", grow,
       first + "out/00000001.mo0 changed while it was read, left for the next run\n", 3,
       {{"p1.pkt", false}, {"p2.pkt", false}}},
      {"bundleWrite:1", "",
       first.substr(0, first.find('\n') + 1) +
           "Error: cannot write out/00000001.mo0\n  Input/output error\n",
       2,
       {{"p1.pkt", false}}},
      {"bundleRename:1", "",
       first + "Error: cannot write out/00000001.mo0\n  Input/output error\n", 2,
       {{"p1.pkt", false}}},
  };
  for (const Case& c : cases) {
    bundle("pkt/two.zip", "-9", "p2.pkt");
    bundle("out/00000001.mo0", "-9", "p1.pkt");
    writeFile("out/00000001.flo", "^out/00000001.mo0\n");
    RunOptions options = withFault(c.fault);
    options.environment.push_back("PELORIN_FAULT_COMMAND=" + c.command);
    RunOutput out = run({"-b", "-oout", "2:5020/999", "World"}, options);
    EXPECT_EQ(out.status, c.status) << c.fault;
    EXPECT_EQ(out.console, consoleOf(c.status == 2 ? c.body : done(c.body))) << c.fault;
    EXPECT_TRUE(infoUnzipFindsWhole(path("out/00000001.mo0"))) << c.fault;
    for (const char* name : {"p1.pkt", "p2.pkt"}) {
      const auto held = c.members.find(name);
      const std::string expected = held == c.members.end() ? ""
                                   : held->second          ? echoPacketRewritten(kHub)
                                                           : echoPacket(kHub);
      EXPECT_EQ(member("out/00000001.mo0", name), expected) << c.fault << " " << name;
    }
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"00000001.mo0", "00000001.flo"})) << c.fault;
  }
}

TEST_F(Bundles, NewBundleKeepsWhatLetsTheMailerAtItOrIsNotMade) {
  if (windowsTarget() || geteuid() != 0) {
    GTEST_SKIP() << "needs root, to give a bundle to another user and to run as one";
  }
  const unsigned kNobody = 65534;
  // The mailer's user may write the bundle through its ACL only: the
  // system's form of user::rw-, user:nobody:rw-, group::r--, mask::rw-, other::r--.
  std::string acl;
  for (std::uint16_t w : {2, 0, 1, 6, 0xFFFF, 0xFFFF, 2, 6, 65534, 0, 4, 4, 0xFFFF, 0xFFFF, 0x10, 6,
                          0xFFFF, 0xFFFF, 0x20, 4, 0xFFFF, 0xFFFF}) {
    acl += word(w);
  }
  writeFile("pkt/p1.pkt", echoPacket(kHub));
  const std::string from = "out/00000001.mo0:p1.pkt to 2:5020/1.0 from 2:5020/100.0\n";
  for (const bool asNobody : {false, true}) {
    fs::remove_all(path("out"));
    bundle("out/00000001.mo0", "-9", "p1.pkt");
    writeFile("out/00000001.flo", "^out/00000001.mo0\n");
    const std::string bundlePath = path("out/00000001.mo0"), old = readFile("out/00000001.mo0");
    // As root, a bundle of the mailer's; as that user, a bundle of root's.
    if (!asNobody) {
      ASSERT_EQ(chown(bundlePath.c_str(), kNobody, kNobody), 0);
    }
    if (setxattr(bundlePath.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
        setxattr(bundlePath.c_str(), "user.note", "hello", 5, 0) != 0) {
      GTEST_SKIP() << "the temporary directory's file system keeps no ACLs or user attributes";
    }
    const std::vector<std::string> arguments = {"-b", "-oout", "2:5020/999", "World"};
    RunOutput out = asNobody ? runWithMode("out", 0777, arguments) : run(arguments);
    EXPECT_EQ(out.status, asNobody ? 5 : 0);
    EXPECT_EQ(out.console,
              consoleOf(done(from + "Changed Messages: 1\n" +
                             (asNobody ? "out/00000001.mo0 cannot keep its owner and permissions, "
                                         "left as it is\n"
                                       : ""))));
    EXPECT_EQ(readFile("out/00000001.mo0") == old, asNobody);
    struct stat now {};
    stat(bundlePath.c_str(), &now);
    EXPECT_EQ(now.st_uid, asNobody ? 0u : kNobody);
    EXPECT_EQ(now.st_mode & 0777, 0664u);  // the group's bits are the ACL's mask
    char kept[64];
    const ssize_t size = getxattr(bundlePath.c_str(), "system.posix_acl_access", kept, sizeof kept);
    EXPECT_EQ(std::string(kept, static_cast<std::size_t>(std::max<ssize_t>(size, 0))), acl);
    EXPECT_EQ(getxattr(bundlePath.c_str(), "user.note", kept, sizeof kept), 5);
    EXPECT_EQ(namesIn("out"), (std::set<std::string>{"00000001.mo0", "00000001.flo"}));
  }
}

}  // namespace
