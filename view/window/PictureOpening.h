#pragma once
// A picture opened by its name: a 24-bit bitmap, an NDVI TIFF, or a float32 raster with
// its ENVI header (or a width asked for without one).

#include "view/LoadedPicture.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace view {

// The width of a raster without a header; nothing: cancelled.
using RasterWidthQuestion = std::function<std::optional<std::int64_t>(const QString& path, std::int64_t fileBytes)>;

// Reads path into loaded; the reason, naming the file, when it cannot. Nothing loaded
// and no reason: the width was not given.
QString readPicture(const QString& path, const RasterWidthQuestion& askWidth, std::unique_ptr<LoadedPicture>& loaded);

}  // namespace view
