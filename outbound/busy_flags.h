// Busy flags: how a run keeps off the nodes that a mailer or a tosser is
// working on, keeps them off the node it is working on itself, and finds
// the work an interrupted run of ours left unfinished.
//
// In a binkley-style outbound the files of one node share a base name
// ("139c0001" for 2:5020/1): its packets ("139c0001.out", ".cut", ...) and
// its flags, "139c0001.bsy" (a program is working on the node's files) and
// "139c0001.csy" (a mailer is calling the node). A program takes the .bsy,
// created exclusively, before it changes any of the node's files, and
// removes it afterwards; while a .bsy or a .csy of the node exists, in any
// letter case and of any kind, nothing of the node may change.
//
// The run's own flag is "<base in lower case>.bsy", the spelling the mailers
// look for. It holds one line: the process id, the program's name and the
// origin the run is writing ("12345 pelorin 2:5020/2000.0\n"). The line is
// in the flag from the moment the flag has its name, and the run holds the
// flag while it has it (see flag_file.h): so a flag of ours that nobody
// holds is known for certain to be a dead run's, and its line tells which
// origin that run was giving the node's packets. No flag of anyone else is
// ever removed, replaced or changed.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "address/node_address.h"
#include "base/flag_file.h"
#include "base/platform.h"

struct BusyFlags {
  std::string directory;
  // Bases (lower case) of the nodes that the listing shows busy: a .csy in
  // any spelling, or a .bsy in another spelling than our own.
  std::set<std::string> busyInListing;
  // Bases (lower case) of the nodes that the listing shows any flag of.
  std::set<std::string> flaggedInListing;
  // Names of our spelling in the listing: each may be a dead run's flag.
  std::vector<std::string> ownSpellingFlags;
  // Names of our leftovers in the listing (leftovers.h): each may be a dead run's.
  std::vector<std::string> temporaries;
  std::string temporary;  // the file the run writes its flags in before naming them
  NodeAddress origin;     // the origin the run writes
  std::string ownLine;    // the line of the run's flags
  HeldFlag held;          // held.path stays after the release, for messages
  std::string heldBase;
  bool heldAdopted = false;  // the held flag was a dead run's
  // A preview holds no flag, but judges the packets of a node whose
  // interrupted work it shows as the run that holds its flag does.
  bool heldInPreview = false;
  // A preview takes no lock: it judges a flag of ours by its line alone,
  // as a dead run's that a real run would have finished and removed.
  bool preview = false;
};

// The flags of the directory as its listing shows them, for a run that
// writes `origin`; nothing is held.
BusyFlags busyFlagsOf(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                      const NodeAddress& origin);

// The node's base of a packet or flag name: the name without its
// extension, ASCII letters in lower case.
std::string nodeBaseOf(const std::string& name);

// True when the run holds the flag of the packet's node, or a preview acts
// as if it did (holdInPreview).
bool holdsNodeFlag(const BusyFlags& flags, const std::string& packetName);

// In a preview: acts as the run holding the flag `name` until the flag is
// let go (releaseNodeFlag, leaveNodeFlag).
void holdInPreview(BusyFlags* flags, const std::string& name);

enum class NodeFlag {
  Held,        // the run holds the node's flag
  Busy,        // another program has the node; nothing of ours is left
  Failed,      // the flag could not be created for another reason
  NotRemoved,  // another flag came up, and our flag could not be removed again
};

// Takes the flag of the packet's node (the run must hold no flag). The node
// is busy when the listing showed it busy, or the exclusive create finds the
// name taken by anything but a dead run's flag of ours for the same origin
// (which is taken over instead); and, once the flag is ours, when any other
// flag of the node exists at that moment: a .bsy or .csy under the packet's
// own base spelling, the base in lower or in upper case, with a lower- or
// upper-case extension. Then our flag goes again: removed when the run made
// it, left in place when it was a dead run's.
NodeFlag takeNodeFlag(BusyFlags* flags, const std::string& packetName);

// The one question every caller asks of a node: true when another program
// has a flag of the packet's node, judged without taking any flag or lock.
// While the run holds the node's flag (or a preview acts as if it did):
// another flag of the node exists now, in the spellings above. Otherwise:
// the listing showed one (in a preview, one of our spelling only when it
// holds no line of ours, as a preview takes any flag of ours for a dead
// run's), or one exists now, our spelling taken by anything but a flag of
// ours included. So a preview asks what a run would find on taking the
// flag.
bool anotherProgramFlagsNode(const BusyFlags& flags, const std::string& packetName);

// Removes the flag the run holds, if any. False when it could not be
// removed.
bool releaseNodeFlag(BusyFlags* flags);

// Lets the flag the run holds go without removing it, so that it keeps
// other programs off a node whose packets may not be whole.
void leaveNodeFlag(BusyFlags* flags);

// Removes the file the run's flags were written in (flags.temporary), once
// the run holds no flag. False when it could not be removed.
bool dropFlagFile(const BusyFlags& flags);

// Removes the leftovers of the listing (leftovers.h) that dead runs left.
void removeDeadTemporaries(const BusyFlags& flags);

// ---- Flags that interrupted runs left

enum class LeftFlag {
  Finishing,   // held: a dead run's, which was writing `origin`
  Removed,     // a dead run's whose line names no origin: removed
  NotLeft,     // no dead run's flag (held, gone, or not ours): left as it is
  NotRemoved,  // a dead run's without an origin, which could not be removed
};

// Takes over the flag `name` of the listing when it is a dead run's: its
// line becomes ours, with the origin it names (or none, in the form of an
// earlier version, whose flag is then removed as our own), so that a run
// stopped in the middle of the node's work leaves the same flag behind.
LeftFlag takeLeftFlag(BusyFlags* flags, const std::string& name, NodeAddress* origin);

// True when `name` holds the line of a flag of ours that names an origin,
// judged from the line alone: no lock is taken.
bool looksLeftFlag(const BusyFlags& flags, const std::string& name, NodeAddress* origin);

// ---- The line of our flags

struct OwnFlagLine {
  bool hasOrigin = false;  // a line of an earlier version has none
  NodeAddress origin{};
};

std::string ownFlagLine(unsigned long processId, const NodeAddress& origin);
// The line readOwnFlagLine reads as `line`.
std::string ownFlagLine(unsigned long processId, const OwnFlagLine& line);

// True when the content is exactly one line of ours: the process id, the
// program's name, and the origin or nothing, then blanks or nothing.
bool readOwnFlagLine(const std::string& content, OwnFlagLine* line);

// The line padded with blanks before its line end to at least `length`
// bytes, so that it replaces a longer line whole in one write.
std::string fittedFlagLine(const std::string& line, std::size_t length);

