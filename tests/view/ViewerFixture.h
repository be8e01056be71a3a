#pragma once
// The viewer window on the offscreen platform with its questions answered in code,
// pictures with other header layouts, and an NDVI worked out from the documented
// formula, apart from the engine.

#include "BmpFixture.h"
#include "view/ViewerWindow.h"

#include <QApplication>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace view_testing {

using testing_support::Picture;
using testing_support::Pixel;

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A 24-bit BMP with an info header of infoSize bytes (40, or 124 for the fifth
// version), rows stored top row first when topDown.
inline std::vector<std::uint8_t> encodeBmpWith(const Picture& p, std::uint32_t infoSize, bool topDown)
{
    const std::size_t stride = (static_cast<std::size_t>(p.width) * 3 + 3) & ~std::size_t{3};
    const std::uint32_t offset = 14 + infoSize;
    std::vector<std::uint8_t> b(offset + stride * p.height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(b.size()));
    put32(b, 10, offset);
    put32(b, 14, infoSize);
    put32(b, 18, static_cast<std::uint32_t>(p.width));
    put32(b, 22, static_cast<std::uint32_t>(topDown ? -p.height : p.height));
    b[26] = 1;
    b[28] = 24;
    put32(b, 34, static_cast<std::uint32_t>(stride * p.height));
    for (int y = 0; y < p.height; ++y) {
        const std::size_t stored = topDown ? y : p.height - 1 - y;
        for (int x = 0; x < p.width; ++x) {
            const Pixel px = p.at(x, y);
            const std::size_t at = offset + stored * stride + 3 * static_cast<std::size_t>(x);
            b[at] = px.b;
            b[at + 1] = px.g;
            b[at + 2] = px.r;
        }
    }
    return b;
}

// NDVI as documented: each byte over its white value in extended precision, rounded to
// float32 and capped at 1; the difference over the sum in extended precision, rounded
// once to float32; -10 where the sum is 0.
inline float oracleNdvi(std::uint8_t nirByte, std::uint8_t redByte, int nirWhite, int redWhite)
{
    const auto reflectance = [](std::uint8_t b, int white) {
        const auto v = static_cast<float>(static_cast<long double>(b) / static_cast<long double>(white));
        return v > 1.0f ? 1.0f : v;
    };
    const float nir = reflectance(nirByte, nirWhite);
    const float red = reflectance(redByte, redWhite);
    const long double sum = static_cast<long double>(nir) + red;
    if (sum == 0.0L) return -10.0f;
    return static_cast<float>((static_cast<long double>(nir) - red) / sum);
}

inline QString fourDecimals(double v)
{
    return QString::number(v, 'f', 4);
}

// Each test starts from no remembered view, palette or recent files.
struct FreshSettings {
    FreshSettings() { QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view")).clear(); }
};

// The window with every question answered from the queues below.
struct Viewer {
    FreshSettings fresh;
    view::ViewerWindow window;
    std::vector<QString> messages;
    std::deque<QString> savePaths;
    std::deque<std::optional<std::int64_t>> widths;
    std::deque<bool> confirmations;

    Viewer()
    {
        auto& p = window.prompts();
        p.openPath = [] { return QString(); };
        p.message = [this](const QString& text) { messages.push_back(text); };
        p.savePath = [this](const QString&, const QString&, const QString&, const QString&) {
            if (savePaths.empty()) return QString();
            QString path = savePaths.front();
            savePaths.pop_front();
            return path;
        };
        p.rasterWidth = [this](const QString&, std::int64_t) -> std::optional<std::int64_t> {
            if (widths.empty()) return std::nullopt;
            auto w = widths.front();
            widths.pop_front();
            return w;
        };
        p.confirm = [this](const QString&) {
            if (confirmations.empty()) return false;
            bool c = confirmations.front();
            confirmations.pop_front();
            return c;
        };
        window.resize(1000, 720);
        window.show();
        QApplication::processEvents();
    }

    bool open(const std::filesystem::path& path) { return window.openFile(QString::fromStdString(path.string())); }

    // The status label with the pointer over the middle of pixel (x, y).
    QString hover(int x, int y)
    {
        QApplication::processEvents();  // any pending layout first
        view::Canvas* canvas = window.canvas();
        // Qt drops a move to where the pointer already is, so come from beside it.
        const QPoint at = canvas->centreOfPixel(x, y).toPoint();
        QTest::mouseMove(canvas->viewport(), at + QPoint(1, 1));
        QTest::mouseMove(canvas->viewport(), at);
        QApplication::processEvents();
        return window.pointerText();
    }

    // The panel line that begins with prefix; empty when there is none.
    QString line(const QString& prefix) const
    {
        for (const QString& l : window.panelLines()) {
            if (l.startsWith(prefix)) return l;
        }
        return {};
    }
};

}  // namespace view_testing
