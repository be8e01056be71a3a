#pragma once
// The floor an operation is measured against: the same input read row by row and an
// output of the same size written row by row, with the same stdio calls the
// operation makes (an absolute fseeko before every fread and every fwrite), and
// nothing else. No operation can be faster than its floor on the same machine.

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
