#include "SyntheticFlat.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

namespace flat_sample {

namespace {

// cos^4-like fall-off, 1 / (1 + b s)^2 with s the squared distance over the squared
// half diagonal: not the fitted model's own form, so the fit is put to the test.
double falloff(const Camera& c, double x, double y, double cx, double cy, double b)
{
    const double r2 = (c.width * c.width + c.height * c.height) / 4.0;
    const double s = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / r2;
    const double d = 1 + b * s;
    return 1 / (d * d);
}

std::uint8_t byteOf(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

Frame blank(const Camera& c)
{
    Frame f;
    f.width = c.width;
    f.height = c.height;
    f.bgr.assign(static_cast<std::size_t>(c.width) * c.height * 3, 0);
    return f;
}

}  // namespace

double Camera::nirGain(double x, double y) const
{
    return falloff(*this, x, y, width * 0.56, height * 0.55, 0.42);
}

double Camera::redGain(double x, double y) const
{
    return falloff(*this, x, y, width * 0.45, height * 0.47, 0.25);
}

Frame flatFrame(const Camera& c, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0, 3);
    Frame f = blank(c);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            std::uint8_t* p = f.bgr.data() + (static_cast<std::size_t>(y) * c.width + x) * 3;
            p[2] = byteOf(c.nirOffset + c.nirLevel * c.nirGain(x, y) + noise(random));
            p[1] = byteOf(c.redOffset + c.redLevel * c.redGain(x, y) + noise(random));
            p[0] = byteOf(120 + noise(random));
        }
    }
    return f;
}

Frame darkFrame(const Camera& c, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0, 1);
    Frame f = blank(c);
    for (std::size_t i = 0; i < f.bgr.size(); i += 3) {
        f.bgr[i + 2] = byteOf(c.nirOffset + noise(random));
        f.bgr[i + 1] = byteOf(c.redOffset + noise(random));
        f.bgr[i] = byteOf(5 + noise(random));
    }
    return f;
}

Scene plotScene(const Camera& c, std::uint64_t seed)
{
    Scene s;
    s.frame = blank(c);
    // Bare soil everywhere else; plots in a 5 x 4 grid reaching the corners, NIR up and
    // red down as the cover grows from plot to plot.
    const int columns = 5, rows = 4;
    const int w = c.width / 10, h = c.height / 8;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const int x1 = i * (c.width - w) / (columns - 1), y1 = j * (c.height - h) / (rows - 1);
            const double cover = (j * columns + i) / double(columns * rows - 1);
            s.plots.push_back({x1, y1, x1 + w - 1, y1 + h - 1, 0.25 + 0.35 * cover, 0.14 - 0.1 * cover});
        }
    }
    const int cx = c.width / 2, cy = c.height / 2;
    const int pw = c.width / 16, ph = c.height / 12;
    const int panel[4] = {cx - pw - 2, cy - ph / 2, cx - 3, cy + ph / 2};
    const int dark[4] = {cx + 2, cy - ph / 2, cx + pw + 1, cy + ph / 2};
    std::copy(panel, panel + 4, s.panel);
    std::copy(dark, dark + 4, s.dark);

    // The light reaching the panel maps reflectance 1 to 235 (NIR) and 225 (Red) at a
    // gain of 1.
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0, 1.5);
    const auto inside = [](const int* r, int x, int y) { return x >= r[0] && x <= r[2] && y >= r[1] && y <= r[3]; };
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            double nir = 0.3, red = 0.2;  // soil
            for (const Plot& p : s.plots) {
                if (x >= p.x1 && x <= p.x2 && y >= p.y1 && y <= p.y2) {
                    nir = p.nir;
                    red = p.red;
                }
            }
            if (inside(s.panel, x, y)) nir = red = s.panelReflectance;
            if (inside(s.dark, x, y)) nir = red = s.darkReflectance;
            std::uint8_t* px = s.frame.bgr.data() + (static_cast<std::size_t>(y) * c.width + x) * 3;
            px[2] = byteOf(c.nirOffset + 235 * nir * c.nirGain(x, y) + noise(random));
            px[1] = byteOf(c.redOffset + 225 * red * c.redGain(x, y) + noise(random));
            px[0] = byteOf(60 + noise(random));
        }
    }
    return s;
}

std::vector<std::uint8_t> encodeBmp(const Frame& f)
{
    const std::size_t stride = (static_cast<std::size_t>(f.width) * 3 + 3) / 4 * 4;
    const std::size_t size = 54 + stride * f.height;
    std::vector<std::uint8_t> b(size, 0);
    const auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int k = 0; k < n; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, static_cast<std::uint32_t>(size), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(f.width), 4);
    put(22, static_cast<std::uint32_t>(f.height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, static_cast<std::uint32_t>(stride * f.height), 4);
    for (int y = 0; y < f.height; ++y) {
        std::copy_n(f.row(y), f.width * 3, b.begin() + 54 + static_cast<std::ptrdiff_t>(stride * (f.height - 1 - y)));
    }
    return b;
}

void writeBmp(const std::filesystem::path& path, const Frame& frame)
{
    const auto bytes = encodeBmp(frame);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace flat_sample
