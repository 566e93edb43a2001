// One packet handled completely: opened, judged by its header, rewritten
// under its node's busy flag, closed, with every line about it reported.
#pragma once

#include <map>
#include <set>
#include <string>

#include "address/destination_list.h"
#include "address/node_address.h"
#include "base/platform.h"
#include "packet/busy_flags.h"
#include "packet/message_rewrite.h"

// What a pass does to the packets it is given.
struct Work {
  NodeAddress origin;  // the origin they get
  // The destinations whose packets get it. None: every packet, and one that
  // has the origin already is passed over without a line (the work of an
  // interrupted run, finished).
  const DestinationList* destinations = nullptr;
};

// What lives for the whole pass over one directory.
struct Scan {
  std::string directoryPath;  // as the lines name the packets in it
  FileHandle directory = kNoFile;  // open, to open packets in
  MessageArea* area = nullptr;  // one buffer for the run, grown to the largest area read
  BusyFlags flags;
  bool preview = false;
  bool busyNodeLeft = false;
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
// has taken its name meanwhile. A packet of a busy node, or one too short
// for a header while another program has a flag of its node, is reported
// and left. A preview reports the same lines from the files as they are
// (or as a real run would have finished them first) and writes nothing.
// False after reporting a failure.
bool processPacket(const std::string& name, const Work& work, Scan* scan);

// Reports a packet of a busy node as left for the next run.
void reportBusyPacket(const std::string& path, Scan* scan);

// Removes the node flag the run holds, if any; false after reporting that
// it could not be removed.
bool releaseNodeFlagOf(Scan* scan);

// "Error: cannot remove" with the path.
void reportNotRemoved(const std::string& path);
