#pragma once
// zrvimage-batch phenology: the season's dates of each region from one or more season
// tables (several folders' tables make one season), as one dates table, and with --png
// one chart a region; all the files placed together, all new or all old.

#include "batch/CommandLine.h"

#include <atomic>
#include <ostream>

namespace batch {

// Runs phenology for parsed options. A table that cannot be read fails the run before
// anything is written (kSomeFailed); dates the curve does not give, intervals the
// bootstrap cannot give and repeated rows are told on err. Once interrupted is set no
// further region is fitted and nothing is written (kInterrupted).
int runPhenology(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>* interrupted);

}  // namespace batch
