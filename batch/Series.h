#pragma once
// zrvimage-batch series: the figures of each plot region over many frames, each frame
// read once and calibrated by its own white panel (or by one fixed calibration), as one
// CSV table written whole.

#include "batch/CommandLine.h"

#include <atomic>
#include <ostream>

namespace batch {

// Runs series for parsed options. A frame that cannot be used (with --strict, also one
// whose white panel or dark target fails a check) is told on err as "path: message" and
// left out of the table; the others' rows are written all the same and the result is
// then kSomeFailed. When no frame succeeds nothing is written: the file already there
// stays. Times that cannot be the frames' own are warned of (seasonTimeWarning). With
// --json one summary line goes to out.
int runSeries(const Options& options, std::ostream& out, std::ostream& err, bool errIsTerminal,
              const std::atomic<bool>* interrupted);

}  // namespace batch
