#pragma once
// The floor an operation is measured against: the physical one. The whole input read
// front to back and an output of the same size written, with plain read and write
// calls of 1 MiB, and nothing else; area maxima writes nothing. No program doing the
// operation's I/O can be much faster on the same machine.

#include <cstdint>
#include <filesystem>

namespace bench {

enum class Operation { Crop, Maxima, Ndvi };

const char* operationName(Operation op);

// Seconds on the monotonic clock.
double now();

// The size of op's output for a picture of that many columns and rows (0: none).
std::int64_t outputBytes(Operation op, std::int64_t width, std::int64_t height);

// Reads the whole file at input and, when outputBytes > 0, writes that many bytes to
// a new file at output; returns the seconds it took, opening and closing included.
// Durable: the output is also fsynced, and its folder, as every file zrvimage-batch
// writes is before it is put in place: the floor of a file that survives a power cut.
double runFloor(const std::filesystem::path& input, const std::filesystem::path& output, std::int64_t outputBytes,
                bool durable = false);

}  // namespace bench
