// ARCmail bundles: ZIP archives of packets that a node's flow file lists
// for the mailer to send (flow_files.h). Every member whose name ends in
// ".pkt" is a packet, judged and rewritten as a raw packet with the same
// bytes is; the bundle is then replaced whole by a new archive, so that a
// reader (the mailer) finds the old bundle or the new one, never a mix.
#pragma once

#include <string>

#include "outbound/packet_handling.h"

// Handles the bundle `path`, as the flow file `flowName` of the scan's
// directory writes it, and reports every line about it:
//
// - Each packet member gets the lines a raw packet gets, its path being
//   "<bundle>:<member>": "to ... from" and "Changed Messages", "already
//   from", "Error: cannot read" for one shorter than a header, "Error in"
//   for a malformed one. Other members, and packets that do not change,
//   keep their compressed bytes.
// - A bundle in which some packet changes is judged and written only under
//   the flag of the flow file's node (taken unless the run holds it), and
//   judged again once the flag is taken, as it is then: a busy node's
//   bundle is reported busy and left. The new archive is written beside it
//   under our temporary name, stored on the device, given the bundle's
//   owner, group, mode, ACL and extended attributes, and renamed over it;
//   it is removed on every failure, and an interruption waits for it. Just
//   before the rename the old bundle must still be what was read under the
//   flag: one that changed is left with "changed while it was read, left
//   for the next run" (counted as busy). One whose owner and permissions
//   the new archive cannot be given is left with "cannot keep its owner and
//   permissions, left as it is", and one with other names (hard links)
//   with "has other names, left as it is". A bundle in which nothing
//   changes is not written.
// - What is no ZIP archive, and a ZIP with a feature ARCmail packers do not
//   use (a packet stored by a method other than stored or deflated among
//   them), is reported and left; the run goes on. A damaged archive is
//   "Error in <bundle>", and ends the run with the bundle untouched; so
//   does a new archive that cannot be created, written, stored or renamed,
//   with "Error: cannot write <bundle>".
// - A bundle that another program has a flag of its node for is busy
//   whatever its bytes: no line of the two above, nor any error of reading
//   it or its members' headers, is given while that program may be writing
//   it.
// - A missing, empty (sent and truncated) or non-regular file is passed over
//   without a word.
//
// A preview reports the same lines and writes nothing. False after
// reporting a failure.
bool processBundle(const std::string& path, const std::string& flowName, const Work& work,
                   Scan* scan);

enum class Replacing { Replaced, Left, Failed };

// The last step of writing a bundle anew, whatever its format: the new
// archive `fresh`, written whole at `freshPath`, is stored on the device,
// given the owner and permissions of the bundle `path` and renamed over
// it, unless the bundle is no longer what `old` showed as `status` under
// the flag. Left: "... cannot keep its owner and permissions, left as it
// is" or "... changed while it was read, left for the next run" (counted
// as busy) was reported. Failed: "Error: cannot write <bundle>" and the
// reason. `old` is closed in every case; `fresh` once it has replaced the
// bundle, and is the caller's to remove otherwise.
Replacing replaceBundleWith(const std::string& path, FileHandle* old, const FileStatus& status,
                            FileHandle fresh, const std::string& freshPath, Scan* scan);

// Removes the dead runs' leftovers (leftovers.h) in the directory of the
// bundle `path`, the first time a run writes there.
void removeDeadLeftoversBeside(const std::string& bundlePath, ScanRun* run);
