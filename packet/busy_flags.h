// Busy flags: how a run keeps off the nodes that a mailer or a tosser is
// working on, and keeps them off the node it is working on itself.
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
// look for. It holds one line, the process id and the program's name
// ("12345 pelorin\n"), is written whole before it gets its name, and is held
// while the run has it (see takeFlag): so a flag of ours that nobody holds
// is known for certain to be a dead run's. The next run takes such a flag
// over when it comes to the node, and removes it at the end of a complete
// pass; no flag of anyone else is ever removed or replaced.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "base/platform.h"

struct BusyFlags {
  std::string directory;
  // Bases (lower case) of the nodes that the listing shows busy: a .csy in
  // any spelling, or a .bsy in another spelling than our own.
  std::set<std::string> busyInListing;
  // Names that may be a dead run's flag or temporary file.
  std::vector<std::string> possibleLeftovers;
  std::string temporary;  // the file the run writes its flags in before naming them
  HeldFlag held;          // held.path stays after the release, for messages
  std::string heldBase;
};

// The flags of the directory as its listing shows them; nothing is held.
BusyFlags busyFlagsOf(const std::string& directory, const std::vector<DirectoryEntry>& entries);

// The node's base of a packet name: the name without its extension, ASCII
// letters in lower case.
std::string nodeBaseOf(const std::string& packetName);

// True when the run holds the flag of the packet's node.
bool holdsNodeFlag(const BusyFlags& flags, const std::string& packetName);

enum class NodeFlag {
  Held,        // the run holds the node's flag
  Busy,        // another program has the node; nothing of ours is left
  Failed,      // the flag could not be created for another reason
  NotRemoved,  // a .csy came up, and our flag could not be removed again
};

// Takes the flag of the packet's node (the run must hold no flag): busy when
// the listing showed the node busy or the exclusive create finds the name
// taken; after the create, a lower-case .csy that a mailer has made since
// the listing makes the node busy too, and our flag goes again.
NodeFlag takeNodeFlag(BusyFlags* flags, const std::string& packetName);

// True when a run would find the packet's node busy, without taking its
// flag: the listing shows it busy, or a .csy or a .bsy of our spelling
// exists now that is not a dead run's flag of ours.
bool nodeLooksBusy(const BusyFlags& flags, const std::string& packetName);

// Removes the flag the run holds, if any. False when it could not be
// removed.
bool releaseNodeFlag(BusyFlags* flags);

// Removes the file the run's flags were written in (flags.temporary), once
// the run holds no flag. False when it could not be removed.
bool dropFlagFile(const BusyFlags& flags);

// Removes what dead runs left among the possible leftovers of the listing:
// flags of ours and temporary files that nobody holds.
void removeDeadRunsFiles(const BusyFlags& flags);

// The line of our flags, and the test that tells it from every other flag.
std::string ownFlagContent(unsigned long processId);
bool isOwnFlagContent(const std::string& content);

// True for the names of the temporary files our flags are written under.
bool isOwnTemporaryName(const std::string& name);
