#pragma once
// A made-up season for trying `zrvimage-batch series` and the viewer's season chart on:
// a camera fixed over a field of plots takes one frame a day. The plants on each plot
// grow along a curve of their own (NIR up, red down), one plot stalls half-way, the
// light changes from day to day (clouded days much darker, the colour of the light a
// little different each time), and a white panel and a dark target lie in every frame,
// so each frame can be calibrated by its own panel. Every pixel gets a little noise.
// The frames are 24-bit BMPs named cam_YYYYMMDD_HHMMSS.bmp by their local time, with
// their modification times set to it; regions.json names the plots, the panel (role
// "white") and the dark target (role "dark"). The same options give the same bytes.
//
// With markers, the camera is held by hand: the first frame is the reference view, and
// each later one sees the field through a homography of its own (a few degrees of
// rotation, up to 7 % of scale, a shift of up to 3.5 % of the width, a little
// perspective). Four AprilTags (tag36h11, ids 0 to 3, drawn from the library's own
// patterns) stand on stakes around the plots, and the panel card (tag 7 beside a white
// panel and a dark target) is laid anew each day, anywhere along the top at any angle
// up to 25 degrees. On frame 3 a boot covers the card's tag, and on frame 5 three field
// tags lie in shadow under a tarpaulin: both must be named and left out.
// regions.json then names the field tags and places the panel and the dark target in
// tag 7's units; it is not anchored yet (zrvimage-batch anchor does that).

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace season_sample {

struct SeasonOptions {
    int width = 1024;
    int height = 768;
    int frames = 30;
    int plots = 6;
    std::uint64_t seed = 1;
    // The first frame's local time; each next frame one calendar day later at the same
    // clock time.
    std::tm start = defaultStart();
    bool replace = false;  // write over files of the same names
    bool markers = false;  // hand-held, with AprilTags: see above
    // A whole season, to show its dates (zrvimage-batch phenology): frames 2 to 6 days
    // apart with a fortnight without any half-way, the plots greening up, then (all but
    // the stalled one) senescing; frameDay() says when each frame is.
    bool longSeason = false;

    static std::tm defaultStart();  // 2026-05-01 10:00:00
};

// The limits the layout needs; what is wrong with the options, or nothing.
inline constexpr int kMinWidth = 64, kMinHeight = 48, kMaxSide = 20000, kMaxPlots = 64, kMaxFrames = 100000;
std::optional<std::string> optionsProblem(const SeasonOptions& options);

// "YYYY-MM-DDTHH:MM:SS" as a local time; nothing for anything else.
std::optional<std::tm> parseLocalTime(std::string_view text);

struct Point {
    double x, y;
};

// A plot as the frames show it and regions.json names it: a rectangle, corners
// included, or (when polygon is not empty) the pixels whose centres lie inside the
// polygon by the even-odd rule.
struct Plot {
    std::string name;  // row letter and column number: A1, A2, ..., B1, ...
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::vector<Point> polygon;
    bool stalls = false;  // stops growing part-way through the season
};

struct Layout {
    std::vector<Plot> plots;  // the last one irregular (a polygon) when there are two or more
    int panel[4];             // x1, y1, x2, y2 of the white panel's region
    int dark[4];              // and of the dark target's
    // With markers: the field tags' top-left outer corner (their black border's) in the
    // reference view, each tagSide pixels wide, upright; panel and dark are then unused.
    std::vector<Point> fieldTags;  // ids 0, 1, 2, 3
    double tagSide = 0;
};

// With markers: the map from the reference view to the frame's pixels (row-major 3x3;
// frame 0's is the identity), and where the card lies: its tag's top-left outer corner,
// its turn (radians, clockwise on the picture) and the tag's side, in the reference view.
std::array<double, 9> frameView(const SeasonOptions& options, int frame);
struct Card {
    double x, y, angle, side;
};
Card cardPlacement(const SeasonOptions& options, int frame);
inline constexpr int kCardTag = 7;
inline constexpr int kPanelTagCoveredFrame = 3;
inline constexpr int kFieldTagsCoveredFrame = 5;

// The true mean NDVI of each plot on a frame, from the reflectances the frame is made
// of (what a perfect calibration of a noiseless frame would give).
std::vector<double> plotTruth(const SeasonOptions& options, int frame);

Layout seasonLayout(const SeasonOptions& options);

// The plot's ground cover (0..1) on a frame: its growth curve. The season runs from
// frame 0 to the last frame whatever their number, so a longer season is the same
// story taken more often. A long season's plots rise early and senesce late in it.
double plotCover(const SeasonOptions& options, int plot, int frame);

// The frame's day from the first: its number, or for a long season the days the frames
// before it were apart.
int frameDay(const SeasonOptions& options, int frame);
inline constexpr int kLongSeasonFrames = 50;  // --long's frames unless --frames says

// The frame's file name and its local time as a calendar time.
std::string frameName(const SeasonOptions& options, int frame);
std::time_t frameTime(const SeasonOptions& options, int frame);

// The regions file for the layout: the plots in order, then "panel" and "dark".
std::string regionsJson(const Layout& layout);

// Writes the frames and regions.json into folder (made when missing). Refuses with
// std::runtime_error before writing anything when a file of those names is there and
// options.replace is false; on a write error the frame being written is removed.
// Returns the frames' paths in time order.
std::vector<std::filesystem::path> writeSeason(const std::filesystem::path& folder, const SeasonOptions& options);

}  // namespace season_sample
