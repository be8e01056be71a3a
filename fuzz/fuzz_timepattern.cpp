// Any --time text and any frame name: the pattern refused (nothing from byText), the
// name refused with a RegionsError naming the frame, or a time written as
// YYYY-MM-DDTHH:MM:SS that is a day of the calendar, matching the name's digits read
// the long way round.

#include "FuzzHarness.h"

#include "engine/season/Regions.h"
#include "engine/season/Season.h"

#include <string_view>

using namespace fuzzing;

namespace {

bool leap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int number(std::string_view text)
{
    int v = 0;
    for (const char c : text) {
        FUZZ_CHECK(c >= '0' && c <= '9');
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One field: the --time text; the rest: the frame's name.
    const Case c = split(data, size, 1);
    const auto source = engine::TimeSource::byText(c.fields[0]);
    if (!source) return 0;
    FUZZ_CHECK(c.fields[0] == "mtime" || source->pattern == c.fields[0].substr(5));
    if (source->kind != engine::TimeSource::Kind::Name) return 0;
    std::string name(c.file.begin(), c.file.end());
    // A name, not a path: no separators or NULs, never empty.
    for (char& ch : name) {
        if (ch == '/' || ch == '\0' || ch == '\\') ch = '_';
    }
    if (name.empty() || name == "." || name == "..") name = "frame";
    const std::string path = "/fuzz/" + name;
    std::string time;
    try {
        time = engine::frameTime(path, *source);
    } catch (const engine::RegionsError& e) {
        FUZZ_CHECK(std::string_view(e.what()).starts_with(path + ": "));
        return 0;
    }
    FUZZ_CHECK(time.size() == 19);
    for (const std::size_t at : {4u, 7u}) FUZZ_CHECK(time[at] == '-');
    FUZZ_CHECK(time[10] == 'T' && time[13] == ':' && time[16] == ':');
    const int year = number(time.substr(0, 4)), month = number(time.substr(5, 2)), day = number(time.substr(8, 2));
    const int days[] = {31, leap(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    FUZZ_CHECK(month >= 1 && month <= 12 && day >= 1 && day <= days[month - 1]);
    FUZZ_CHECK(number(time.substr(11, 2)) <= 23 && number(time.substr(14, 2)) <= 59 && number(time.substr(17, 2)) <= 59);
    // The year's four digits stand in the name where the pattern's only %Y does, when
    // only literal characters come before it.
    const std::size_t y = source->pattern.find("%Y");
    if (source->pattern.substr(0, y).find('%') == std::string::npos && source->pattern.find("%Y", y + 2) == std::string::npos) {
        FUZZ_CHECK(name.substr(y, 4) == time.substr(0, 4));
    }
    return 0;
}
