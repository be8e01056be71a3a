#pragma once
// A number as the shortest text that reads back as the same value: 0.92 for the float
// 0.92f, not 0.920000017. Every file and report that gives numbers writes them so.

#include <charconv>
#include <string>

namespace engine {

inline std::string shortestText(float value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

inline std::string shortestText(double value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace engine
