#pragma once
// The floor an operation is measured against: the physical one. The whole input read
// front to back and an output of the same size written, with plain read and write
// calls of 1 MiB, and nothing else; area maxima writes nothing. No program doing the
// operation's I/O can be much faster on the same machine.

#include <filesystem>

namespace bench {

enum class Operation { Crop, Maxima, Ndvi };

const char* operationName(Operation op);

// Seconds on the wall clock and of this thread's processor time (user and system:
// the kernel's copying of file data counts), the second being the one the rest of the
// machine's load hardly moves.
struct Seconds {
    double wall = 0;
    double cpu = 0;
};

// Both clocks at once, for measuring from one moment to another.
struct Moment {
    static Moment now();
    Seconds operator-(const Moment& since) const { return {wall - since.wall, cpu - since.cpu}; }
    double wall = 0;
    double cpu = 0;
};

// Runs the floor of op on the picture at input, writing to output where op writes
// a file; returns the time it took, opening and closing the files included.
Seconds runFloor(Operation op, const std::filesystem::path& input, const std::filesystem::path& output);

}  // namespace bench
