#include "view/FlatFieldView.h"

#include "engine/season/Regions.h"

#include <QFileInfo>
#include <QFile>

#include <algorithm>
#include <limits>
#include <thread>

namespace view {

namespace {

void correctRows(const LoadedPicture& picture, const engine::FlatField& flat, const engine::NdviModel& model,
                 const engine::VegetationIndex& index, std::int64_t first, std::int64_t last, float* out)
{
    const std::int64_t width = picture.width();
    if (index.isNdvi()) {
        engine::CorrectedNdviRows rows(flat, model);
        for (std::int64_t y = first; y < last; ++y) rows.row(y, picture.row(y), out + y * width);
        return;
    }
    // As runCorrectedNdvi takes another index: the corrected bands' reflectances, pixel
    // by pixel.
    const auto columns = static_cast<std::size_t>(width);
    std::vector<float> nir(columns), red(columns);
    for (std::int64_t y = first; y < last; ++y) {
        engine::correctedBands(flat, y, 0, columns, picture.row(y), nir.data(), red.data());
        float* values = out + y * width;
        for (std::size_t x = 0; x < columns; ++x) {
            values[x] = engine::indexOfReflectances(index, engine::correctedReflectance(nir[x], model.nir),
                                                    engine::correctedReflectance(red[x], model.red));
        }
    }
}

engine::CorrectedPixels pixelsOf(const LoadedPicture& picture, const engine::FlatField& flat,
                                 const engine::Rectangle& area)
{
    const engine::Rectangle one[] = {area};
    auto read = engine::correctedPixels([&picture](std::int64_t y) { return picture.row(y); }, flat, one);
    return std::move(read.front());
}

QString oneDecimal(double v)
{
    return QString::number(v, 'f', 1);
}

}  // namespace

std::unique_ptr<float[]> correctedNdvi(const LoadedPicture& picture, const engine::FlatField& flat,
                                       const engine::NdviModel& model, const engine::VegetationIndex& index)
{
    const std::int64_t height = picture.height();
    auto values = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(picture.width() * height));
    // Two halves side by side: each row's values depend on that row alone.
    const std::int64_t middle = height / 2;
    std::thread helper([&] { correctRows(picture, flat, model, index, middle, height, values.get()); });
    correctRows(picture, flat, model, index, 0, middle, values.get());
    helper.join();
    return values;
}

PanelReading correctedWhite(const LoadedPicture& picture, const engine::FlatField& flat,
                            const engine::Rectangle& area, WhiteChoice choice)
{
    const engine::CorrectedPixels pixels = pixelsOf(picture, flat, area);
    PanelReading r;
    r.nir = engine::correctedWhiteValue(pixels.nir, choice);
    r.red = engine::correctedWhiteValue(pixels.red, choice);
    for (const auto& w : engine::correctedPanelChecks(pixels, r.nir, r.red)) r.warnings.push_back(w.text);
    return r;
}

PanelReading correctedDark(const LoadedPicture& picture, const engine::FlatField& flat,
                           const engine::Rectangle& area, float nirWhite, float redWhite)
{
    const engine::CorrectedPixels pixels = pixelsOf(picture, flat, area);
    PanelReading r{engine::correctedDarkValue(pixels.nir), engine::correctedDarkValue(pixels.red), {}};
    const auto spread = engine::darkSpread(pixels.nir, pixels.red, pixels.nirSaturated, pixels.redSaturated);
    for (const auto& w : engine::darkChecks(spread, r.nir, r.red, nirWhite, redWhite)) r.warnings.push_back(w.text);
    return r;
}

float lowestGain(const engine::FlatField& flat)
{
    const auto width = static_cast<std::size_t>(flat.width());
    std::vector<float> nir(width), red(width);
    float low = std::numeric_limits<float>::max();
    for (std::int64_t y = 0; y < flat.height(); ++y) {
        flat.rowGains(y, nir.data(), red.data());
        low = std::min({low, *std::min_element(nir.begin(), nir.end()), *std::min_element(red.begin(), red.end())});
    }
    return width > 0 && flat.height() > 0 ? low : 1.0f;
}

QString flatFieldText(const engine::FlatField& flat)
{
    const auto band = [](const char* name, const engine::GainModel& g) {
        return QStringLiteral("%1 四隅の減光 %2 %、RMS 残差 %3 %")
            .arg(QLatin1String(name), oneDecimal(g.cornerFalloff), QString::number(g.rmsResidual, 'f', 2));
    };
    const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(flat.path()))).fileName();
    return QStringLiteral("周辺減光補正: %1（%2×%3）\n").arg(name).arg(flat.width()).arg(flat.height()) +
           band("NIR", flat.model().nir) + QLatin1Char('\n') + band("Red", flat.model().red);
}

}  // namespace view
