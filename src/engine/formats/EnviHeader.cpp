#include "engine/formats/EnviHeader.h"

namespace engine {

std::string enviHeaderText(std::int64_t width, std::int64_t height, const std::string& description,
                           const std::string& bandName)
{
    std::string text = "ENVI\n";
    if (!description.empty()) text += "description = {" + description + "}\n";
    return text +
           "samples = " + std::to_string(width) + "\n"
           "lines = " + std::to_string(height) + "\n"
           "bands = 1\n"
           "header offset = 0\n"
           "data type = 4\n"
           "interleave = bsq\n"
           "byte order = 0\n"
           "band names = {" + bandName + "}\n"
           "data ignore value = -10\n";
}

}  // namespace engine
