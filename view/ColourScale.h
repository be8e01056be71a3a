#pragma once
// How NDVI values become colours: one of three palettes stretched over a display
// range, the red-yellow-green one the batch tool's previews use too, the -10 marker in a colour none of them uses, and the legend drawn under
// the NDVI view and under an exported picture.

#include "engine/ops/Kernels.h"
#include "engine/ops/NdviColours.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class QPainter;
class QRect;

class QFontMetrics;
class QPainter;

namespace view {

enum class Palette { RedYellowGreen, Grey, Viridis };

// The palettes' names in the order of the Palette values.
QStringList paletteNames();

// Magenta: red-yellow-green, grey and viridis never reach it.
inline constexpr QRgb kMarkerColour = 0xffff00ff;

class ColourScale {
public:
    ColourScale(Palette palette = Palette::RedYellowGreen, float low = -1.0f, float high = 1.0f);

    // low and below take the first colour, high and above the last; the marker and
    // values that are not numbers the marker colour.
    QRgb colourOf(float value) const noexcept
    {
        if (value == engine::kNdviMarker || !(value == value)) return kMarkerColour;
        return colours_[static_cast<std::size_t>(engine::rampIndex(value, low_, high_))];
    }
    // Entries 0 (low) to engine::kRampEntries - 1 (high).
    QRgb colourAt(int index) const noexcept { return colours_[static_cast<std::size_t>(index)]; }
    float low() const noexcept { return low_; }
    float high() const noexcept { return high_; }
    // What the values are, written before the legend's bar: "SAVI (L=0.5)"; none for
    // NDVI, whose legend has always gone without.
    const QString& title() const noexcept { return title_; }
    void setTitle(const QString& title) { title_ = title; }

private:
    QString title_;
    std::array<QRgb, engine::kRampEntries> colours_;
    float low_, high_;
};

// A tick of the legend's bar: its value, where it stands and its label's box (top 0).
struct LegendTick {
    double value = 0;
    int x = 0;
    QString text;
    QRect label;
};
// The ticks of a bar barWidth pixels wide from barLeft for low..high: the low end
// always, the high end and round values between when their labels fit beside the
// ones kept, a space apart.
std::vector<LegendTick> legendTicks(double low, double high, int barLeft, int barWidth, const QFontMetrics& metrics);

// The legend: the scale's title, a colour bar from low at its left end to high at its
// right end with numbered ticks at round steps, and a swatch for the marker unless marker is false
// (a scale of gains has none). Drawn in textColour.
void paintLegend(QPainter& painter, const QRect& area, const ColourScale& scale, const QColor& textColour,
                 bool marker = true);

}  // namespace view
