#pragma once
// A program of the benchmark's run as a child process, quietly.

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// Runs args (args[0] looked up on PATH unless it holds a slash) with its output to
// /dev/null and its errors to errors; true when it ended with status 0.
bool runQuietly(const std::vector<std::string>& args, const std::filesystem::path& errors);

}  // namespace bench
