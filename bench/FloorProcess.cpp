// zrv_bench_floor IN OUT BYTES: the floor as a process of its own, for the rows that
// time zrvimage-batch as a process. Reads IN with 1 MiB calls and, when BYTES > 0,
// writes that many bytes to OUT and makes them durable, as zrvimage-batch does its
// outputs. A program of its own, linked with nothing but the C++ runtime: its start-up
// is what any program's is.

#include "Floor.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN OUT BYTES\n", argv[0]);
        return 2;
    }
    try {
        const long long bytes = std::atoll(argv[3]);
        bench::runFloor(argv[1], argv[2], bytes, bytes > 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
