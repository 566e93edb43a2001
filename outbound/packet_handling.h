// One packet handled completely: opened, judged by its header, rewritten
// under its node's busy flag, closed, with every line about it reported.
#pragma once

#include <map>
#include <set>
#include <string>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "base/platform.h"
#include "outbound/busy_flags.h"
#include "outbound/packers.h"
#include "packet/message_rewrite.h"
#include "packet/packet_format.h"
#include "packet/packet_rewrite.h"

inline const Packers kNoPackers{};

// The lines a run has reported on the mail, counted for its summary and
// its exit status.
struct RunTally {
  int rewritten = 0;        // packets given "from" and "Changed Messages" lines
  int changedMessages = 0;  // the sum of their "Changed Messages"
  int alreadyFrom = 0;
  int busy = 0;        // left for the next run: busy, or changed while it was read
  int leftAsItIs = 0;  // left for the sysop: the lines that end in "left as it is"
};

// What a run lends every directory's scan, and keeps from one to the next.
struct ScanRun {
  bool preview = false;    // every line of a rewrite, but nothing written: no byte, no flag
  bool flowFiles = false;  // also the packets and bundles that flow files list
  MessageArea area;        // one buffer for the run, grown to the largest area read
  // The files flow files listed that the run has handled: each once.
  std::set<FileIdentity> listedFilesHandled;
  // Directories of bundles where dead runs' leftovers were looked for, and
  // whether the temporary directory was.
  std::set<std::string> directoriesCleaned;
  bool temporaryCleaned = false;
  RunTally tally;
  const Packers* packers = &kNoPackers;  // for bundles of other formats than ZIP
  // Without flowFiles: a flow file lists mail that flowFiles would take.
  bool listedMailSeen = false;
};

// What lives for the whole pass over one directory.
struct Scan {
  std::string directoryPath;  // as the lines name the packets in it
  FileHandle directory = kNoFile;  // open, to open packets in
  ScanRun* run = nullptr;
  BusyFlags flags;
  // Bases of the nodes whose packets were reported busy while an
  // interrupted run's work was being finished.
  std::set<std::string> busyWhileFinishing;
  // In a preview: the nodes whose interrupted work a real run would finish
  // first, by base, and the origin it would give their packets.
  std::map<std::string, NodeAddress> finishedInPreview;
};

// Handles one packet file of the directory and reports every line about
// it. A packet that needs rewriting is rewritten only under its node's flag,
// which is taken unless the run holds it already, and judged again under it
// as its name has it then: read again, or opened again when another file
// has taken its name meanwhile. A packet of a busy node, one too short for
// a header while another program has a flag of its node, and one that
// another program holds open denying writes (a Windows mailer sending it;
// judged from a read) when it needs rewriting, are reported and left. A preview reports the same lines from the files as they are
// (or as a real run would have finished them first) and writes nothing.
// False after reporting a failure.
bool processPacket(const std::string& name, const Work& work, Scan* scan);

// The same for a packet a flow file of the directory lists, `path` as the
// line writes it: it belongs to the flow file's node (`flowName`), whose
// flag it is rewritten under, and the lines name it by `path`. One that
// cannot be opened while another program has a flag of the node is busy.
bool processAttachedPacket(const std::string& path, const std::string& flowName,
                           const Work& work, Scan* scan);

// The same for a packet of a bundle, unpacked to `path` by the run, which
// the lines name `shown` ("<bundle>:<name>"); `rewritten` tells whether it
// got the origin (in a preview: would get it).
bool processUnpackedPacket(const std::string& path, const std::string& shown,
                           const std::string& flowName, const Work& work, Scan* scan,
                           bool* rewritten);

// Takes the flag of the node of `name` (a packet's or a flow file's) for
// the file at `path`, unless the run holds it already; a preview judges
// whether it could. Reports the file busy, or the failure; the caller
// judges the file again under the flag.
enum class NodeTaking { Held, Busy, Failed };
NodeTaking takeNodeOf(const std::string& name, const std::string& path, Scan* scan);

// The lines on a packet about to be rewritten and on one that has the
// origin already, for the packet at `path`; the count of messages a
// rewritten packet's line ends with. Each is counted in the run's tally.
void reportFrom(const std::string& path, const PacketHeader& header);
void reportChangedMessages(int changedCount, Scan* scan);
void reportAlreadyFrom(const std::string& path, const PacketHeader& header, Scan* scan);

// Reports a packet of a busy node as left for the next run.
void reportBusyPacket(const std::string& path, Scan* scan);

// Reports a bundle that another program changed while the run read it as
// left for the next run, counted as busy.
void reportChangedWhileRead(const std::string& path, Scan* scan);

// Reports a file left for the sysop: "<path> <why>, left as it is".
void reportLeftAsItIs(const std::string& path, const std::string& why, Scan* scan);

// Removes the node flag the run holds, if any; false after reporting that
// it could not be removed.
bool releaseNodeFlagOf(Scan* scan);

// Notes as the reason of a failure that a packet of `length` bytes is too
// short for its header.
void noteShorterThanAHeader(std::int64_t length);

// "Error: cannot remove" with the path.
void reportNotRemoved(const std::string& path);
