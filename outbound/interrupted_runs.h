// The work of interrupted runs, finished before a run does its own.
//
// A run killed outright (or stopped with the machine) leaves its flag on the
// node it was rewriting, and that node's packets may be part way: one may
// hold rewritten messages under a header that still shows the old origin.
// The flag's line names the origin that run was giving them. So every run,
// whatever its own arguments, first gives every packet of such a node that
// origin, exactly as the interrupted run would have, and only then removes
// the flag: the outbound is then what the interrupted run would have left
// had it finished, and the run's own work follows on that.
#pragma once

#include <string>
#include <vector>

#include "outbound/packet_handling.h"

// For each dead run's flag of ours in the listing whose node is not busy
// for another reason: takes the flag over and reports
// "<flag> left by an interrupted run: finishing it, From: <origin>",
// rewrites every packet of the node among `packetNames` (any spelling of
// its base) that does not have the flag's origin yet, with the usual lines,
// and removes the flag. A node that another flag has come up for meanwhile
// keeps our flag, and its packets are reported busy, once: the scan passes
// them over afterwards (Scan::busyWhileFinishing). A dead flag of an
// earlier version, which names no origin, is taken over and removed without
// a line. A preview reports the same, judging the node's packets as the run
// holding its flag does, changes nothing, and remembers each node's origin
// so that the rest of the preview judges the packets as finished.
//
// False after reporting a failure, which leaves the node's flag in place:
// the node may still hold a packet that is not whole.
//
// A node's packets are those of `packetNames` and the packets its flow
// files among `flowNames` list (flow_files.h), in this order.
bool finishInterruptedRuns(const std::vector<std::string>& packetNames,
                           const std::vector<std::string>& flowNames, Scan* scan);
