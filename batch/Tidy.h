#pragma once
// `zrvimage-batch tidy DIR...`: what killed runs left in each folder put right now,
// rather than when something is next written there.

#include <ostream>
#include <string>
#include <vector>

namespace batch {

// One line to out for each group finished or temporary removed, a message to err for
// a folder that cannot be read. Returns the batch's exit status: 1 when a folder could
// not be read or a group could not be put right.
int runTidy(const std::vector<std::string>& folders, std::ostream& out, std::ostream& err);

}  // namespace batch
