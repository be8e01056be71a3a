#pragma once
// What the viewer writes, one row each: the save dialog's title, the name proposed
// beside the open picture, the filter and the suffix added to a bare name.

#include <QString>

namespace view {

enum class Export { Raster, Tiff, ViewPicture, Figures, SeasonChart, SeasonTable };

struct ExportDialog {
    QString title;
    QString proposedSuffix;  // after the picture's base name
    QString filter;
    QString suffix;
};

const ExportDialog& exportDialog(Export which);

}  // namespace view
