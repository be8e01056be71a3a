#include "view/exports/RasterExport.h"

#include "engine/formats/EnviHeader.h"
#include "engine/output/OutputPath.h"
#include "view/exports/NdviRows.h"

#include <filesystem>

namespace view {

std::string headerPathFor(const std::string& raster)
{
    std::filesystem::path header(raster);
    header.replace_extension(".hdr");
    if (header == std::filesystem::path(raster)) return raster + ".hdr";
    return header.string();
}

void writeNdviRaster(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                     const std::string& rasterPath, const float* corrected, const engine::VegetationIndex& index)
{
    // One group: the raster and its header end both new or both as they were.
    engine::OutputGroup group;
    engine::StagedFile& raster = group.add(rasterPath);
    engine::StagedFile& header = group.add(headerPathFor(rasterPath));
    forEachNdviBlock(picture, table, [&](std::int64_t, std::int64_t count, const float* values) {
        raster.write(values, static_cast<std::size_t>(count * picture.width()) * sizeof(float));
    }, corrected);
    // The same header zrvimage-batch writes, naming the model and the index.
    const std::string text = engine::ndviEnviHeader(picture.width(), picture.height(), model, index.label());
    header.write(text.data(), text.size());
    group.commit();
}

}  // namespace view
