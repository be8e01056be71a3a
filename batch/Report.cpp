#include "batch/Report.h"

#include <cstdio>

namespace batch {

namespace {

template <typename T>
std::string optionalNumber(const std::optional<T>& value, const char* none)
{
    return value ? shortestText(*value) : none;
}

std::string histogramText(const NdviStats& s, char separator)
{
    std::string text;
    for (std::size_t i = 0; i < s.histogram.size(); ++i) {
        if (i > 0) text += separator;
        text += std::to_string(s.histogram[i]);
    }
    return text;
}

// The bytes a second byte may take after a lead byte, and how many bytes follow it,
// for well-formed UTF-8 (Unicode's table 3-7): no overlong forms, no surrogates,
// nothing past U+10FFFF.
struct Utf8Lead {
    std::size_t following;
    unsigned char low, high;
};

Utf8Lead utf8Lead(unsigned char b)
{
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {0, 0, 0};  // never a lead byte
}

// The sequence text starts with (its first byte 0x80 or above): its length when it
// is well-formed UTF-8 (complete), else the length of its maximal ill-formed part,
// which one U+FFFD replaces, as Unicode recommends and browsers and Python decode.
std::size_t utf8Prefix(std::string_view text, bool& complete)
{
    const Utf8Lead lead = utf8Lead(static_cast<unsigned char>(text[0]));
    complete = false;
    if (lead.following == 0) return 1;
    for (std::size_t j = 1; j <= lead.following; ++j) {
        if (j >= text.size()) return j;
        const auto b = static_cast<unsigned char>(text[j]);
        const unsigned char low = j == 1 ? lead.low : 0x80;
        const unsigned char high = j == 1 ? lead.high : 0xBF;
        if (b < low || b > high) return j;
    }
    complete = true;
    return lead.following + 1;
}

// "W,RW,D,RD" for the text line.
std::string bandText(const engine::BandCalibration& b)
{
    return shortestText(b.dnWhite) + ',' + shortestText(b.rWhite) + ',' + shortestText(b.dnDark) + ','
           + shortestText(b.rDark);
}

std::string bandJson(const engine::BandCalibration& b)
{
    return "{\"white\":" + shortestText(b.dnWhite) + ",\"white_reflectance\":" + shortestText(b.rWhite)
           + ",\"dark\":" + shortestText(b.dnDark) + ",\"dark_reflectance\":" + shortestText(b.rDark) + "}";
}

}  // namespace


std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u >= 0x80) {
            bool complete = false;
            const std::size_t n = utf8Prefix(text.substr(i), complete);
            if (complete) {
                out.append(text.substr(i, n));
            } else {
                out += "\\ufffd";
            }
            i += n;
            continue;
        }
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += static_cast<char>(u);
        }
        ++i;
    }
    return out + "\"";
}

std::string maximaLine(const MaximaResult& r, bool json)
{
    if (!json) return r.path + '\t' + r.red + '\t' + r.green + '\t' + r.blue + '\n';
    return "{\"path\":" + jsonString(r.path) + ",\"red\":" + r.red + ",\"green\":" + r.green + ",\"blue\":" + r.blue
           + "}\n";
}

std::string ndviLine(const NdviResult& r, bool json)
{
    const engine::IndexRange range = engine::indexRange(r.index);
    const bool histogram = range.bounded && range.low >= -1 && range.high <= 1;
    if (!json) {
        if (!r.stats) return {};
        const NdviStats& s = *r.stats;
        const std::string index = r.index.isNdvi() ? "" : "\tindex=" + r.index.text();
        return r.path + index + "\tmarkers=" + std::to_string(s.markers) + "\tmin=" + optionalNumber(s.min, "-")
               + "\tmax=" + optionalNumber(s.max, "-") + "\tmean=" + optionalNumber(s.mean, "-")
               + "\tstddev=" + optionalNumber(s.stddev, "-") + "\thistogram=" + (histogram ? histogramText(s, ',') : "-")
               + "\tmodel=nir:" + bandText(r.model.nir) + ";red:" + bandText(r.model.red) + '\n';
    }
    std::string line = "{\"path\":" + jsonString(r.path) + ",\"output\":" + jsonString(r.output)
                       + ",\"width\":" + std::to_string(r.width) + ",\"height\":" + std::to_string(r.height)
                       + ",\"model\":{\"nir\":" + bandJson(r.model.nir) + ",\"red\":" + bandJson(r.model.red) + "}";
    if (!r.index.isNdvi()) line += ",\"index\":" + jsonString(r.index.text());
    if (!r.header.empty()) line += ",\"header\":" + jsonString(r.header);
    if (!r.preview.empty()) line += ",\"preview\":" + jsonString(r.preview);
    if (r.stats) {
        const NdviStats& s = *r.stats;
        line += ",\"markers\":" + std::to_string(s.markers) + ",\"min\":" + optionalNumber(s.min, "null")
                + ",\"max\":" + optionalNumber(s.max, "null") + ",\"mean\":" + optionalNumber(s.mean, "null")
                + ",\"stddev\":" + optionalNumber(s.stddev, "null") + ",\"histogram\":"
                + (histogram ? "[" + histogramText(s, ',') + "]" : "null");
    }
    return line + "}\n";
}

}  // namespace batch
