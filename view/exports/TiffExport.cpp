#include "view/exports/TiffExport.h"

#include "engine/NdviTiff.h"
#include "engine/OutputPath.h"
#include "view/exports/NdviRows.h"

namespace view {

void writeNdviTiff(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                   const std::string& path)
{
    engine::OutputGroup group;
    engine::StagedFile& file = group.add(path);
    engine::NdviTiffWriter tiff(file, picture.width(), picture.height(), engine::describeModel(model));
    forEachNdviBlock(picture, table, [&tiff](std::int64_t first, std::int64_t count, const float* values) {
        tiff.addRows(first, count, values);
    });
    tiff.finish();
    group.commit();
}

}  // namespace view
