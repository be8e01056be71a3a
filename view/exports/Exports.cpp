#include "view/exports/Exports.h"

#include <array>
#include <cstddef>

namespace view {

const ExportDialog& exportDialog(Export which)
{
    // In the order of the enum.
    static const std::array<ExportDialog, 6> rows = {{
        {QStringLiteral("NDVIラスターの書き出し"), QStringLiteral("_ndvi.raw"), QStringLiteral("NDVIラスター (*.raw)"),
         QStringLiteral("raw")},
        {QStringLiteral("NDVI（TIFF float32）の書き出し"), QStringLiteral("_ndvi.tif"),
         QStringLiteral("TIFF画像 (*.tif *.tiff)"), QStringLiteral("tif")},
        {QStringLiteral("表示中の画像の書き出し"), QStringLiteral("_view.png"), QStringLiteral("PNG画像 (*.png)"),
         QStringLiteral("png")},
        {QStringLiteral("範囲の数値の書き出し"), QStringLiteral("_area.csv"), QStringLiteral("CSV (*.csv)"),
         QStringLiteral("csv")},
        // Proposed in the season's folder, after its name.
        {QStringLiteral("時系列グラフの書き出し"), QStringLiteral("_ndvi_chart.png"), QStringLiteral("PNG画像 (*.png)"),
         QStringLiteral("png")},
        {QStringLiteral("時系列の表の書き出し"), QStringLiteral("_series.csv"), QStringLiteral("CSV (*.csv)"),
         QStringLiteral("csv")},
    }};
    return rows[static_cast<std::size_t>(which)];
}

}  // namespace view
