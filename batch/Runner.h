#pragma once
// The whole batch: command line, output plan, the files in parallel, the summary.

#include <ostream>
#include <string>
#include <vector>

namespace batch {

// Exit statuses.
inline constexpr int kAllSucceeded = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kBadUsage = 2;  // also: outputs exist and --force is missing

// args are the arguments after the program name. Results go to out, messages and
// the progress line (only when err is a terminal) to err.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);

}  // namespace batch
