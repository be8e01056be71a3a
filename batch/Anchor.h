#pragma once
// zrvimage-batch anchor: a regions file tied to its markers. The field tags are found on
// the frame the plots were drawn on and their corners written into the file as its
// reference, so that series can carry the regions over to every later frame.

#include "batch/CommandLine.h"

#include <ostream>

namespace batch {

// Runs anchor for parsed options: the tags found on standard output, one a line; the
// file written whole. Returns 0; 1 when the frame cannot be read or fewer than two field
// tags are found (nothing written, the missing ones named); 2 for bad usage, an
// existing output without --force, or an output that names an input.
int runAnchor(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace batch
