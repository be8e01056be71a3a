#pragma once
// The picture series --overlay-dir writes for each frame it could place: the frame
// reduced (longest side at most kOverlaySide) in false colour, its bytes shown as they
// are stored, red byte (NIR) as red, green byte (visible red) as green, blue as blue,
// as the viewer shows it; every tag found outlined and numbered, every region placed
// outlined and named: plots cyan, the white panel blue, the dark target orange.

#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {
class PictureReader;
}

namespace batch {

inline constexpr int kOverlaySide = 1024;

inline constexpr std::uint8_t kTagColour[3] = {255, 255, 0};
inline constexpr std::uint8_t kPlotColour[3] = {0, 255, 255};
inline constexpr std::uint8_t kWhiteColour[3] = {0, 96, 255};
inline constexpr std::uint8_t kDarkColour[3] = {255, 128, 0};

// Every pixel of the picture is taken from every step-th row and column, step the
// smallest whole number that brings the longest side to kOverlaySide or below.
int overlayStep(std::int64_t width, std::int64_t height) noexcept;

// The PNG file of the overlay; reads a row in every step of the frame, which must have
// passed require24Bit(). Throws EngineError as the reader does; empty when it could
// not be encoded.
std::vector<std::uint8_t> overlayPng(engine::PictureReader& reader, const engine::RegionSet& placed,
                                     const std::vector<engine::FoundTag>& tags);

// The overlay's name for a frame: its file name without the extension, then ".png".
std::string overlayName(const std::string& framePath);

}  // namespace batch
