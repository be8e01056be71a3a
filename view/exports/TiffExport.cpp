#include "view/exports/TiffExport.h"

#include "engine/formats/NdviTiff.h"
#include "engine/output/OutputPath.h"
#include "view/exports/NdviRows.h"

namespace view {

void writeNdviTiff(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                   const std::string& path, const float* corrected, const std::string& flatField,
                   const engine::VegetationIndex& index)
{
    engine::OutputGroup group;
    engine::StagedFile& file = group.add(path);
    std::string description = engine::describeModel(model);
    if (corrected) description += "; 周辺減光補正: " + flatField;
    // As zrvimage-batch describes it: NDVI's as it always was, another index named first.
    if (!index.isNdvi()) description = index.label() + ", " + description;
    engine::NdviTiffWriter tiff(file, picture.width(), picture.height(), description);
    forEachNdviBlock(picture, table, [&tiff](std::int64_t first, std::int64_t count, const float* values) {
        tiff.addRows(first, count, values);
    }, corrected);
    tiff.finish();
    group.commit();
}

}  // namespace view
