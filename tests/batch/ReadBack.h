#pragma once
// The batch's JSON lines and PNG previews read back by libraries the tool does not
// write them with (nlohmann_json for the JSON; libpng's own reader for the PNG), so a
// fault in the tool's writers cannot cancel out in the reading.

#include <nlohmann/json.hpp>
#include <png.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace batch_testing {

using Json = nlohmann::json;

// The value a JSON text holds; a discarded value (is_discarded()) when it is not JSON,
// ill-formed UTF-8 in a string among the faults.
inline Json parseJson(const std::string& text)
{
    return Json::parse(text, nullptr, false);
}

// Whether text is well-formed UTF-8: no stray or missing continuation bytes, no
// overlong forms, no surrogates, nothing past U+10FFFF (the serializer refuses them).
inline bool isValidUtf8(const std::string& text)
{
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

// An object's keys, sorted.
inline std::vector<std::string> keysOf(const Json& object)
{
    std::vector<std::string> keys;
    if (!object.is_object()) return keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;  // nlohmann's objects are ordered maps
}

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};
static_assert(sizeof(Rgba) == 4, "decoded straight into");

inline std::ostream& operator<<(std::ostream& os, const Rgba& c)
{
    return os << "rgba(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")";
}

struct DecodedPng {
    bool decoded = false;
    int width = 0;
    int height = 0;
    bool hasAlpha = false;  // the file itself has alpha or a transparency chunk
    std::vector<Rgba> pixels;
    Rgba at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x]; }
};

// A PNG file's pixels as 8-bit straight (not premultiplied) RGBA.
inline DecodedPng decodePng(const std::vector<std::uint8_t>& bytes)
{
    DecodedPng png;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return png;
    png.hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    png.width = static_cast<int>(image.width);
    png.height = static_cast<int>(image.height);
    png.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, png.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        png.pixels.clear();
        return png;
    }
    png.decoded = true;
    return png;
}

}  // namespace batch_testing
