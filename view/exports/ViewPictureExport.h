#pragma once
// What the picture area shows, as a PNG, with the NDVI legend under it when given.

#include "view/ColourScale.h"

#include <QByteArray>
#include <QImage>

#include <string>

namespace view {

// An image's PNG bytes, encoded in memory so that the file goes through the output
// path whole; empty when it cannot be encoded.
QByteArray pngBytes(const QImage& image);

// The PNG's bytes: view, and under it the legend of legendScale when not null, with the
// marker's swatch unless marker is false.
QByteArray encodeViewPicture(const QImage& view, const ColourScale* legendScale, bool marker = true);

// Throws EngineError naming path when it cannot be encoded or written.
void writeViewPicture(const QImage& view, const ColourScale* legendScale, const std::string& path,
                      bool marker = true);

}  // namespace view
