#include "batch/Report.h"

#include <charconv>
#include <cstdio>

namespace batch {

namespace {

template <typename T>
std::string toText(T value)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

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

}  // namespace

std::string shortestText(float value)
{
    return toText(value);
}

std::string shortestText(double value)
{
    return toText(value);
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
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
    if (!json) {
        if (!r.stats) return {};
        const NdviStats& s = *r.stats;
        return r.path + "\tmarkers=" + std::to_string(s.markers) + "\tmin=" + optionalNumber(s.min, "-")
               + "\tmax=" + optionalNumber(s.max, "-") + "\tmean=" + optionalNumber(s.mean, "-")
               + "\tstddev=" + optionalNumber(s.stddev, "-") + "\thistogram=" + histogramText(s, ',') + '\n';
    }
    std::string line = "{\"path\":" + jsonString(r.path) + ",\"output\":" + jsonString(r.output)
                       + ",\"width\":" + std::to_string(r.width) + ",\"height\":" + std::to_string(r.height);
    if (!r.header.empty()) line += ",\"header\":" + jsonString(r.header);
    if (!r.preview.empty()) line += ",\"preview\":" + jsonString(r.preview);
    if (r.stats) {
        const NdviStats& s = *r.stats;
        line += ",\"markers\":" + std::to_string(s.markers) + ",\"min\":" + optionalNumber(s.min, "null")
                + ",\"max\":" + optionalNumber(s.max, "null") + ",\"mean\":" + optionalNumber(s.mean, "null")
                + ",\"stddev\":" + optionalNumber(s.stddev, "null") + ",\"histogram\":[" + histogramText(s, ',') + "]";
    }
    return line + "}\n";
}

}  // namespace batch
