// zrv_bench_floor IN OUT BYTES [IN OUT BYTES ...]: the floor as a process of its own, for the rows that
// time zrvimage-batch as a process. Reads IN with 1 MiB calls and, when BYTES > 0,
// writes that many bytes to OUT and makes them durable, as zrvimage-batch does its
// outputs; several files one after the other, each made durable before the next is
// read, as the floor of a multi-file run. A program of its own, linked with nothing but the C++ runtime: its start-up
// is what any program's is.

#include "Floor.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fprintf(stderr, "usage: %s IN OUT BYTES [IN OUT BYTES ...]\n", argv[0]);
        return 2;
    }
    try {
        for (int i = 1; i + 2 < argc; i += 3) {
            const long long bytes = std::atoll(argv[i + 2]);
            bench::runFloor(argv[i], argv[i + 1], bytes, bytes > 0);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
