// -b on bundles of other formats than ZIP, through the packer lines of
// Pelorin.Cfg: the Debian packers the documentation gives lines for, and a
// toy packer of the tests' own that fails, hangs or loses a file on demand.
#include <cstdlib>
#include <filesystem>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kNotes = "not a packet\n";
const std::string kFrom = " to 2:5020/1.0 from 2:5020/100.0\nChanged Messages: 1\n";

class PackedBundles : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    writeFile("pkt/p1.pkt", echoPacket(kHub));
    writeFile("pkt/notes.txt", kNotes);
    makeDirectory("tmp");
  }
  // A run with flow files, its temporary directory inside the work one.
  RunOutput runOnBundles() {
    RunOptions options;
    options.environment = {"TMPDIR=" + path("tmp")};
    return run({"-b", "-oout", "2:5020/999", "World"}, options);
  }
  // What the shell command, run in a new directory, unpacks from the archive.
  std::map<std::string, std::string> unpacked(const std::string& command) {
    const std::string dir = path("unpacked");
    fs::remove_all(dir);
    fs::create_directory(dir);
    std::system(("cd '" + dir + "' && " + command + " > /dev/null 2>&1 < /dev/null").c_str());
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
      files[entry.path().filename().string()] = readWholeFile(entry.path().string());
    }
    fs::remove_all(dir);
    return files;
  }
  // Nothing of the runs' own is left, beside the bundles or in TMPDIR.
  void expectNothingLeft() {
    for (const char* dir : {"out", "tmp"}) {
      for (const std::string& name : namesIn(dir)) {
        EXPECT_EQ(name.find(".pelorin-"), std::string::npos) << dir << "/" << name;
      }
    }
  }
};

bool installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " > /dev/null").c_str()) == 0;
}

TEST_F(PackedBundles, DebianPackersBundlesBesideAZipOne) {
  if (windowsTarget()) GTEST_SKIP() << "the Debian packers are programs of the build machine";
  struct Format {
    const char* program;
    const char* lines;  // of Pelorin.Cfg, as the documentation gives them
    const char* pack;   // a shell command packing p1.pkt and notes.txt into the archive %s
    const char* unpack;
  };
  const Format formats[] = {
      {"arj", "Unpack arj 0 60EA arj e -y $a\nPack arj arj a -y $a $f\n", "arj a -y %s", "arj e -y"},
      {"7z", "Unpack 7z 0 377ABCAF 7z e -y -o$p $a\nPack 7z 7z a -t7z $a $f\n",
       "7z a -t7z %s", "7z e -y"},
      {"jlha", "Unpack lha 2 2D6C68 jlha xifw=$p $a\nPack lha jlha a $a $f\n", "jlha a %s",
       "jlha xif"},
      {"arc", "Unpack arc 0 1A arc x $a\nPack arc arc a $a $f\n", "arc a %s", "arc x"},
  };
  std::string config, flow = "^out/00000001.mo0\n", body;
  writeFile("out/00000001.mo0", infoZip(path("pkt"), "-9", "p1.pkt notes.txt"));
  body = "out/00000001.mo0:p1.pkt" + kFrom;
  std::vector<std::pair<std::string, const Format*>> bundles;
  for (const Format& format : formats) {
    if (!installed(format.program)) {
      std::printf("%s is not installed: its bundle is not tried\n", format.program);
      continue;
    }
    // Amiga-style names as hpt gives them, in the order the flow file lists them.
    const std::string name = "out/2.5020.1." + std::to_string(bundles.size()) + ".tu0";
    // Made under a short name, which no packer renames (arc cuts at the first dot).
    char command[256];
    std::snprintf(command, sizeof command, format.pack, "made.tu0");
    std::system(("cd '" + path("pkt") + "' && " + command +
                 " p1.pkt notes.txt > /dev/null 2>&1 < /dev/null")
                    .c_str());
    fs::rename(path("pkt/made.tu0"), path(name));
    config += format.lines;
    flow += name + "\n";
    body += name + ":p1.pkt" + kFrom;
    bundles.push_back({name, &format});
  }
  writeFile("Pelorin.Cfg", config);
  writeFile("out/00000001.flo", flow);
  RunOutput out = runOnBundles();
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.console, consoleOf(done(body)));
  for (const auto& [name, format] : bundles) {
    const auto files = unpacked(std::string(format->unpack) + " '" + path(name) + "'");
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"notes.txt", kNotes},
                                                         {"p1.pkt", echoPacketRewritten(kHub)}}))
        << format->program;
  }
  expectNothingLeft();
}

// The toy packer's archive of the files, as its "a" makes it.
std::string toyArchive(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string archive = "TPKR";
  for (const auto& [name, bytes] : files) {
    archive += name + "\n" + std::to_string(bytes.size()) + "\n" + bytes;
  }
  return archive;
}

TEST_F(PackedBundles, APackerThatFailsHangsOrLosesAFileLeavesTheBundle) {
  if (emulated()) GTEST_SKIP() << "the emulated program cannot start a packer built for its target";
  std::string packer = EndToEnd::windowsTarget() ? std::getenv("PELORIN_TEST_PACKER_EXE")
                                                  : PELORIN_TEST_PACKER;
  if (windowsTarget()) {
    // As Wine maps the build machine's root.
    for (char& c : packer) c = c == '/' ? '\\' : c;
    packer = "Z:" + packer;
  }
  const std::string unpack = "Unpack toy 0 54504B52 " + packer + " x $a\n";
  const std::string left = "out/00000001.mo0 could not be packed again, left as it is\n  ";
  const std::string disk = "test_packer: disk full, exit status 3\n";
  struct Case {
    std::string lines;  // of Pelorin.Cfg
    std::string after;  // the lines after the packet's own
    int status;
  };
  const Case cases[] = {
      {unpack + "Pack toy " + packer + " a $a $f\n", "", 0},
      {unpack + "Pack toy " + packer + " fail\n", left + disk, 5},
      {unpack + "Pack toy " + packer + " hang\nPackerTimeLimit 1\n", left + "ended after 1 s\n", 5},
      {unpack + "Pack toy " + packer + " lose $a $f\n",
       left + "the new archive does not unpack to what was packed: p1.pkt\n", 5},
      {unpack, "", 5},
      {"Unpack toy 0 54504B52 " + packer + " fail\nPack toy " + packer + " a $a $f\n", "", 5},
  };
  const std::string original = toyArchive({{"notes.txt", kNotes}, {"p1.pkt", echoPacket(kHub)}});
  for (const Case& c : cases) {
    writeFile("Pelorin.Cfg", c.lines);
    writeFile("out/00000001.mo0", original);
    writeFile("out/00000001.flo", "^out/00000001.mo0\n");
    RunOutput out = runOnBundles();
    std::string body = "out/00000001.mo0:p1.pkt" + kFrom + c.after;
    if (c.lines == unpack) body = "out/00000001.mo0 has no Pack line for toy, left as it is\n";
    if (c.lines.find("fail\nPack") != std::string::npos) {
      body = "out/00000001.mo0 could not be unpacked, left as it is\n  " + disk;
    }
    EXPECT_EQ(out.status, c.status) << c.lines;
    EXPECT_EQ(out.console, consoleOf(done(body))) << c.lines;
    EXPECT_EQ(readFile("out/00000001.mo0"),
              c.status == 0 ? toyArchive({{"notes.txt", kNotes}, {"p1.pkt", echoPacketRewritten(kHub)}})
                            : original)
        << c.lines;
    expectNothingLeft();
  }
}

}  // namespace
