// Flow files: the lists of files that a binkley-style outbound queues for a
// node, named after it ("139c0001.flo"; ".clo", ".dlo", ".hlo" and ".ilo"
// by flavour), one path to a line, which the mailer sends in turn. Among
// them is mail this program rewrites: ARCmail bundles, ZIP archives of
// packets named by the day they were packed ("00000fa0.mo0"), and packets
// attached as they are ("*.pkt").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

// True for a flow file's name: a base, then ".flo", ".clo", ".dlo", ".hlo"
// or ".ilo" in any ASCII letter case.
bool isFlowFileName(const std::string& name);

enum class ListedKind { Bundle, Packet };

struct ListedFile {
  std::string path;  // as the line writes it, relative to the current directory or not
  ListedKind kind;
};

// The mail among the lines of a flow file's content, in their order. A line
// ends in LF or CR LF; one that is empty or begins with '~' (sent already)
// or '!' (a comment) lists nothing; one leading '#', '^', '-' or '@' (what
// the mailer does once it is sent) is dropped; the rest is a path. It lists
// a bundle when its last component is 8 hexadecimal digits or, as Amiga
// tossers name bundles, four decimal numbers joined by dots
// ("2.5020.1.0"), then a dot, a day ("mo", "tu", "we", "th", "fr", "sa",
// "su") and one digit or letter, and a
// packet when it ends in ".pkt", all in any ASCII letter case; every other
// path is left out, and so is one holding a NUL byte, which no file has.
std::vector<ListedFile> listedMail(const std::string& content);

// True for the name of a packet as flow files attach it, and as bundles
// hold it: "*.pkt", in any ASCII letter case.
bool isPacketFileName(std::string_view name);

// True when the listed path names a file that counts: a regular file, not a
// link, of at least one byte (a bundle the mailer truncated once sent has
// none); `status` receives what it is.
bool listedFileCounts(const ListedFile& listed, FileStatus* status);

// The content of the flow file; false, with nothing listed, when it is no
// regular file or cannot be read.
bool readFlowFile(const std::string& path, std::string* content);

// The path of a file named `name` in the directory of the file `path`.
std::string pathBeside(const std::string& path, const std::string& name);
