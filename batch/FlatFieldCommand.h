#pragma once
// `zrvimage-batch flatfield`: frames of an evenly lit white target (and a capped-lens
// dark frame) made into the flat-field file that --flatfield reads.

#include "batch/CommandLine.h"

#include <atomic>
#include <ostream>

namespace engine {
struct FlatFieldFit;
}

namespace batch {

// Per band the fall-off at the corners and the fit's RMS residual, as text lines or one
// JSON object.
std::string flatFieldReport(const std::string& output, const engine::FlatFieldFit& fit, bool json);

// Fits the frames and writes options.output; the report to out, problems and warnings
// to err. Returns the batch's exit status.
int runFlatField(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>* interrupted);

}  // namespace batch
