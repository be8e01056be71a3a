#include "view/exports/RasterExport.h"

#include "engine/EnviHeader.h"
#include "engine/OutputFile.h"
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
                     const std::string& rasterPath)
{
    {
        auto raster = engine::OutputFile::create(rasterPath);
        forEachNdviBlock(picture, table, [&](std::int64_t, std::int64_t count, const float* values) {
            raster->write(values, static_cast<std::size_t>(count * picture.width()) * sizeof(float));
        });
        raster->finish();
    }
    // The same header zrvimage-batch writes, naming the model in its description.
    const std::string header = headerPathFor(rasterPath);
    const std::string text = engine::ndviEnviHeader(picture.width(), picture.height(), model);
    auto hdr = engine::OutputFile::create(header);
    hdr->write(text.data(), text.size());
    hdr->finish();
}

}  // namespace view
