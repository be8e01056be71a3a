// zrvimage-make-flatfield FOLDER [--size WIDTHxHEIGHT]
// Writes the synthetic camera's frames (SyntheticFlat.h) into FOLDER: flat1.bmp ..
// flat4.bmp, dark.bmp and scene.bmp, and prints the scene's panel and dark target
// rectangles in the form --white-rect and --dark-rect take.
#include "SyntheticFlat.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

bool number(std::string_view text, int& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv)
{
    flat_sample::Camera camera;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            const std::string_view v = argv[++i];
            const auto x = v.find('x');
            if (x == std::string_view::npos || !number(v.substr(0, x), camera.width)
                || !number(v.substr(x + 1), camera.height) || camera.width < 64 || camera.height < 48
                || camera.width > 8000 || camera.height > 8000) {
                std::fputs("--size needs WIDTHxHEIGHT, 64x48 to 8000x8000\n", stderr);
                return 2;
            }
        } else if (folder.empty() && !arg.starts_with("-")) {
            folder = arg;
        } else {
            std::fputs("usage: zrvimage-make-flatfield FOLDER [--size WIDTHxHEIGHT]  (default 400x300)\n", stderr);
            return 2;
        }
    }
    if (folder.empty()) {
        std::fputs("usage: zrvimage-make-flatfield FOLDER [--size WIDTHxHEIGHT]  (default 400x300)\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path dir(folder);
        std::filesystem::create_directories(dir);
        for (int k = 1; k <= 4; ++k) {
            flat_sample::writeBmp(dir / ("flat" + std::to_string(k) + ".bmp"), flat_sample::flatFrame(camera, k));
        }
        flat_sample::writeBmp(dir / "dark.bmp", flat_sample::darkFrame(camera, 99));
        const flat_sample::Scene scene = flat_sample::plotScene(camera, 7);
        flat_sample::writeBmp(dir / "scene.bmp", scene.frame);
        std::printf("--white-rect %d,%d,%d,%d --dark-rect %d,%d,%d,%d --panel-reflectance %g,%g "
                    "--dark-reflectance %g,%g\n",
                    scene.panel[0], scene.panel[1], scene.panel[2], scene.panel[3], scene.dark[0], scene.dark[1],
                    scene.dark[2], scene.dark[3], scene.panelReflectance, scene.panelReflectance,
                    scene.darkReflectance, scene.darkReflectance);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrvimage-make-flatfield: %s\n", e.what());
        return 1;
    }
    return 0;
}
