#include "view/exports/TiffExport.h"

#include "engine/NdviTiff.h"
#include "view/exports/NdviRows.h"

#include <filesystem>

namespace view {

void writeNdviTiff(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                   const std::string& path)
{
    bool created = false;
    try {
        engine::NdviTiffWriter tiff(path, picture.width(), picture.height(), engine::describeModel(model));
        created = true;
        forEachNdviBlock(picture, table, [&tiff](std::int64_t first, std::int64_t count, const float* values) {
            tiff.addRows(first, count, values);
        });
        tiff.finish();
    } catch (...) {
        // Half a TIFF opens nowhere; better none.
        std::error_code ignored;
        if (created) std::filesystem::remove(path, ignored);
        throw;
    }
}

}  // namespace view
