// Any text as a calibration file: refused with a CalibrationFileError naming the file,
// or a record whose model the checks take and whose text reads back as the same record.

#include "FuzzHarness.h"

#include "engine/calibration/CalibrationFile.h"

#include <string_view>

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    engine::CalibrationRecord record;
    try {
        record = engine::parseCalibration(text, "cal.json");
    } catch (const engine::CalibrationFileError& e) {
        FUZZ_CHECK(e.path() == "cal.json");
        FUZZ_CHECK(!e.problem().empty());
        return 0;
    }
    FUZZ_CHECK(!engine::modelProblem(record.model));
    FUZZ_CHECK(engine::parseCalibration(engine::calibrationText(record), "again.json") == record);
    return 0;
}
