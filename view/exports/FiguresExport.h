#pragma once
// The rectangle's figures as a two-line CSV for spreadsheets: the names, then the
// picture's name, the figures and the calibration they were worked out with.

#include "engine/calibration/Calibration.h"
#include "view/Figures.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace view {

// model: the one the figures were worked out with; null for a raster, which has none.
// flatField: the flat-field file they were corrected by, named after the model as the
// NDVI TIFF's description names it; empty for none.
QByteArray figuresCsv(const QString& source, const RegionFigures& figures, const engine::NdviModel* model,
                      const QString& flatField = {});

// Throws EngineError naming path when it cannot be written.
void writeFiguresCsv(const QString& source, const RegionFigures& figures, const engine::NdviModel* model,
                     const std::string& path, const QString& flatField = {});

}  // namespace view
