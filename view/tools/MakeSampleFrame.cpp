// zrv_view_sample_frame OUT.bmp [WIDTH HEIGHT]: writes the sample frame and prints
// where its white panel and then its dark target lie, as X1,Y1,X2,Y2, one a line.
#include "SampleFrame.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.bmp [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 1600;
    const int height = argc == 4 ? std::atoi(argv[3]) : 1200;
    if (width <= 0 || height <= 0 || !view::writeSampleFrame(argv[1], width, height)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    for (const auto& p : {view::samplePanel(width, height), view::sampleDarkTarget(width, height)}) {
        std::printf("%lld,%lld,%lld,%lld\n", static_cast<long long>(p.x1), static_cast<long long>(p.y1),
                    static_cast<long long>(p.x2), static_cast<long long>(p.y2));
    }
    return 0;
}
