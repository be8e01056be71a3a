#include "view/Figures.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace view {

namespace {

// Wide enough for the sums of squares of any picture the reader takes.
__extension__ using Wide = unsigned __int128;

// Mean and population deviation from the counts, the sums exact in integers.
void finishChannel(ChannelFigures& c, std::uint64_t pixels)
{
    if (pixels == 0) return;
    Wide sum = 0;
    Wide squares = 0;
    for (unsigned v = 0; v < 256; ++v) {
        sum += static_cast<Wide>(c.counts[v]) * v;
        squares += static_cast<Wide>(c.counts[v]) * v * v;
    }
    const auto n = static_cast<long double>(pixels);
    c.mean = static_cast<double>(static_cast<long double>(sum) / n);
    // n * squares - sum^2 is n^2 times the variance, and never negative.
    const Wide spread = pixels * squares - sum * sum;
    c.stddev = static_cast<double>(std::sqrt(static_cast<long double>(spread)) / n);
}

QString fixed(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

}  // namespace

RegionFigures channelFigures(const LoadedPicture& picture, const engine::Rectangle& area)
{
    RegionFigures f;
    f.area = area;
    f.channels = picture.kind() == LoadedPicture::Kind::Bitmap;
    if (area.x1 > area.x2 || area.y1 > area.y2) return f;
    const auto columns = static_cast<std::size_t>(area.x2 - area.x1 + 1);
    f.pixels = columns * static_cast<std::uint64_t>(area.y2 - area.y1 + 1);
    if (!f.channels) return f;
    engine::ChannelMaxima maxima;
    for (std::int64_t y = area.y1; y <= area.y2; ++y) {
        const std::uint8_t* p = picture.pixel(area.x1, y);
        maxima.scan(p, columns);
        for (std::size_t x = 0; x < columns; ++x, p += 3) {
            ++f.blue.counts[p[0]];
            ++f.green.counts[p[1]];
            ++f.red.counts[p[2]];
        }
    }
    f.red.max = maxima.red();
    f.green.max = maxima.green();
    f.blue.max = maxima.blue();
    for (ChannelFigures* c : {&f.red, &f.green, &f.blue}) finishChannel(*c, f.pixels);
    return f;
}

QString indexName(const engine::VegetationIndex& index)
{
    return QString::fromLatin1(index.name()).toUpper();
}

std::optional<engine::VegetationIndex> indexNamedBy(const std::string& description)
{
    const std::string head = description.substr(0, description.find(", "));
    for (const char* name : {"ndvi", "sr", "dvi", "rdvi", "savi", "osavi", "msavi2", "evi2", "wdrvi", "nli", "mnli",
                             "tdvi"}) {
        std::string text = name;
        std::string upper = QString::fromLatin1(name).toUpper().toStdString();
        // The label with its parameter: "SAVI (L=0.3)", read back as "savi:0.3".
        if (head.starts_with(upper + " (") && head.ends_with(")")) {
            const std::size_t equals = head.find('=');
            if (equals == std::string::npos) continue;
            text += ":" + head.substr(equals + 1, head.size() - equals - 2);
        } else if (head != upper) {
            continue;
        }
        const auto parsed = engine::parseVegetationIndex(text);
        if (const auto* index = std::get_if<engine::VegetationIndex>(&parsed); index && index->label() == head) {
            return *index;
        }
    }
    return std::nullopt;
}

int indexBin(const engine::VegetationIndex& index, float value) noexcept
{
    if (index.isNdvi()) return engine::histogramBin(value);
    const engine::IndexRange r = engine::indexRange(index);
    const double at = std::floor((value - r.low) / (r.high - r.low) * engine::kHistogramBins);
    return static_cast<int>(std::clamp(at, 0.0, engine::kHistogramBins - 1.0));
}

namespace {

// The engine's statistics of the rows, with the histogram binned over the index's
// range where it is not NDVI's.
class IndexStats {
public:
    explicit IndexStats(const engine::VegetationIndex& index) : index_(index) {}
    void addRow(const float* values, std::size_t count)
    {
        stats_.addRow(values, count);
        if (index_.isNdvi()) return;
        for (std::size_t i = 0; i < count; ++i) {
            if (values[i] != engine::kNdviMarker) ++bins_[static_cast<std::size_t>(indexBin(index_, values[i]))];
        }
    }
    engine::NdviStats result() const
    {
        engine::NdviStats s = stats_.result();
        if (!index_.isNdvi()) s.histogram = bins_;
        return s;
    }

private:
    engine::VegetationIndex index_;
    engine::NdviStatsAccumulator stats_;
    std::array<std::uint64_t, engine::kHistogramBins> bins_{};
};

}  // namespace

engine::NdviStats ndviFigures(const LoadedPicture& picture, const engine::Rectangle& area,
                              const engine::NdviTable* table, const float* corrected,
                              const engine::VegetationIndex& index)
{
    IndexStats stats(index);
    if (area.x1 > area.x2 || area.y1 > area.y2) return stats.result();
    const auto columns = static_cast<std::size_t>(area.x2 - area.x1 + 1);
    if (picture.kind() == LoadedPicture::Kind::Raster) {
        for (std::int64_t y = area.y1; y <= area.y2; ++y) stats.addRow(picture.values(y) + area.x1, columns);
        return stats.result();
    }
    if (corrected) {
        for (std::int64_t y = area.y1; y <= area.y2; ++y) {
            stats.addRow(corrected + y * picture.width() + area.x1, columns);
        }
        return stats.result();
    }
    std::vector<float> row(columns);
    for (std::int64_t y = area.y1; y <= area.y2; ++y) {
        table->row(picture.pixel(area.x1, y), columns, row.data());
        stats.addRow(row.data(), columns);
    }
    return stats.result();
}

engine::NdviStats wholePictureHistogram(const LoadedPicture& picture, const engine::NdviTable* table,
                                        const float* corrected, const engine::VegetationIndex& index)
{
    if (picture.kind() == LoadedPicture::Kind::Raster || corrected) {
        return ndviFigures(picture, {0, 0, picture.width() - 1, picture.height() - 1}, table, corrected, index);
    }
    engine::NdviStats s;
    const std::uint64_t* counts = picture.pairCounts();
    for (int nir = 0; nir < 256; ++nir) {
        for (int red = 0; red < 256; ++red) {
            const std::uint64_t n = counts[nir << 8 | red];
            if (n == 0) continue;
            const float v = (*table)(static_cast<std::uint8_t>(nir), static_cast<std::uint8_t>(red));
            if (v == engine::kNdviMarker) {
                s.markers += n;
            } else {
                s.count += n;
                s.histogram[static_cast<std::size_t>(indexBin(index, v))] += n;
            }
        }
    }
    return s;
}

engine::PanelPixels panelPixelsOf(const RegionFigures& f)
{
    return {f.pixels, f.red.counts, f.green.counts};
}

WhiteValues whiteValuesOf(const RegionFigures& f, WhiteChoice choice)
{
    const engine::PanelPixels p = panelPixelsOf(f);
    return {engine::whiteValue(p.nir, p.pixels, choice), engine::whiteValue(p.red, p.pixels, choice)};
}

DarkValues darkValuesOf(const RegionFigures& f)
{
    const engine::PanelPixels p = panelPixelsOf(f);
    return {engine::darkValue(p.nir, p.pixels), engine::darkValue(p.red, p.pixels)};
}

QString ndviText(float value)
{
    if (value == engine::kNdviMarker) return QStringLiteral("-10");
    return QString::number(value, 'f', 4);
}

QString pointerText(const LoadedPicture& picture, const engine::NdviTable* table, std::int64_t x, std::int64_t y,
                    const float* corrected, const QString& index)
{
    if (picture.kind() == LoadedPicture::Kind::Raster) {
        return QStringLiteral("x=%1 y=%2  %3=%4").arg(x).arg(y).arg(index, ndviText(picture.values(y)[x]));
    }
    const std::uint8_t* p = picture.pixel(x, y);
    return QStringLiteral("x=%1 y=%2  R=%3 G=%4 B=%5  %6=%7")
        .arg(x)
        .arg(y)
        .arg(p[2])
        .arg(p[1])
        .arg(p[0])
        .arg(index)
        .arg(ndviText(corrected ? corrected[y * picture.width() + x] : (*table)(p[2], p[1])));
}

QString rectangleText(const engine::Rectangle& a)
{
    return QStringLiteral("%1,%2,%3,%4").arg(a.x1).arg(a.y1).arg(a.x2).arg(a.y2);
}

QStringList figureLines(const RegionFigures& f)
{
    QStringList lines{QStringLiteral("範囲: ") + rectangleText(f.area), QStringLiteral("画素数: %1").arg(f.pixels)};
    if (f.channels) {
        const auto channel = [&](const char* name, const ChannelFigures& c) {
            const bool some = f.pixels > 0;
            lines << QStringLiteral("%1-Max : %2  平均 : %3  標準偏差 : %4")
                         .arg(QLatin1String(name))
                         .arg(c.max)
                         .arg(some ? fixed(c.mean, 2) : QStringLiteral("-"))
                         .arg(some ? fixed(c.stddev, 2) : QStringLiteral("-"));
        };
        channel("Red", f.red);
        channel("Green", f.green);
        channel("Blue", f.blue);
    }
    const engine::NdviStats& s = f.ndvi;
    const QString& n = f.index;
    if (s.count > 0) {
        lines << QStringLiteral("%1-Mean : %2  標準偏差 : %3").arg(n, fixed(*s.mean, 4), fixed(*s.stddev, 4))
              << QStringLiteral("%1-Min : %2  %1-Max : %3").arg(n, ndviText(*s.min), ndviText(*s.max));
    } else {
        lines << QStringLiteral("%1-Mean : -  標準偏差 : -").arg(n) << QStringLiteral("%1-Min : -  %1-Max : -").arg(n);
    }
    lines << QStringLiteral("%1=-10 の画素数: %2").arg(n).arg(s.markers);
    return lines;
}

QStringList figureFieldNames(const QString& n)
{
    return {QStringLiteral("X1"),          QStringLiteral("Y1"),         QStringLiteral("X2"),
            QStringLiteral("Y2"),          QStringLiteral("画素数"),     QStringLiteral("Red-Max"),
            QStringLiteral("Green-Max"),   QStringLiteral("Blue-Max"),   QStringLiteral("Red-Mean"),
            QStringLiteral("Green-Mean"),  QStringLiteral("Blue-Mean"),  QStringLiteral("Red-SD"),
            QStringLiteral("Green-SD"),    QStringLiteral("Blue-SD"),    n + QStringLiteral("-Mean"),
            n + QStringLiteral("-Min"),    n + QStringLiteral("-Max"),   n + QStringLiteral("-SD"),
            n + QStringLiteral("=-10の画素数")};
}

QStringList figureFieldValues(const RegionFigures& f)
{
    const engine::Rectangle& a = f.area;
    QStringList v{QString::number(a.x1), QString::number(a.y1), QString::number(a.x2), QString::number(a.y2),
                  QString::number(f.pixels)};
    const bool channels = f.channels && f.pixels > 0;
    for (const ChannelFigures* c : {&f.red, &f.green, &f.blue}) v << (f.channels ? QString::number(c->max) : QString());
    for (const ChannelFigures* c : {&f.red, &f.green, &f.blue}) v << (channels ? fixed(c->mean, 4) : QString());
    for (const ChannelFigures* c : {&f.red, &f.green, &f.blue}) v << (channels ? fixed(c->stddev, 4) : QString());
    const engine::NdviStats& s = f.ndvi;
    const bool ndvi = s.count > 0;
    v << (ndvi ? fixed(*s.mean, 6) : QString()) << (ndvi ? fixed(*s.min, 6) : QString())
      << (ndvi ? fixed(*s.max, 6) : QString()) << (ndvi ? fixed(*s.stddev, 6) : QString())
      << QString::number(s.markers);
    return v;
}

}  // namespace view
