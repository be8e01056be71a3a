#include "engine/Season.h"

#include <stdexcept>

namespace engine {

// Not yet built: the regions come first, so that the viewer can draw and save them.
namespace {
[[noreturn]] void notYet()
{
    throw std::logic_error("season figures are not built yet");
}
}  // namespace

std::optional<std::string> seasonProblem(const RegionSet&, const SeasonSettings&) { notYet(); }
FrameFigures seasonFrameFigures(PictureReader&, const RegionSet&, const SeasonSettings&, const RunControl&) { notYet(); }
FrameFigures seasonFrameFigures(std::int64_t, std::int64_t, const FrameRowAccess&, const std::string&, const RegionSet&,
                                const SeasonSettings&)
{
    notYet();
}
std::optional<TimeSource> TimeSource::byText(std::string_view) { notYet(); }
std::string frameTime(const std::string&, const TimeSource&) { notYet(); }
void sortSeasonFrames(std::vector<SeasonFrame>&) { notYet(); }
std::string seasonCsvHeader() { notYet(); }
std::string seasonCsvRows(const SeasonFrame&, const RegionSet&) { notYet(); }

}  // namespace engine
