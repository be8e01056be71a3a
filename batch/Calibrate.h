#pragma once
// zrvimage-batch calibrate: the white panel (and the dark target) of one frame into a
// calibration file, the model on standard output and the panel checks on standard
// error.

#include "batch/CommandLine.h"

#include <ctime>
#include <ostream>

namespace batch {

// Runs calibrate for parsed options; date is the time written into the file. Returns
// the exit status: 0, or 1 when the frame cannot be used or, with --strict, when a
// panel check fails (then no file is written).
int runCalibrate(const Options& options, std::ostream& out, std::ostream& err, std::time_t date);

}  // namespace batch
