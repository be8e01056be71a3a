#pragma once
// The calibration file: the model of both bands and where it came from, as small,
// readable JSON that another program can parse too:
//
//   {
//     "format": "zrvimage-calibration",
//     "version": 1,
//     "nir": {"white": 243, "white_reflectance": 0.92, "dark": 12, "dark_reflectance": 0.03},
//     "red": {"white": 238, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0.02},
//     "source": {"frame": "panel.bmp", "white_rect": [10, 20, 40, 50], "white_from": "max",
//                "dark_rect": null, "date": "2026-05-14T09:30:00Z", "flatfield": "/data/ff.tif"}
//   }
//
// "nir" is the red byte, "red" the green byte. Reflectances are written as the
// shortest decimal that reads back as the same float and read straight into a float
// (never by way of a double), so a model read back is bit for bit the one written, and
// the one the same decimals give on the command line. Keys this version does not know
// are ignored, so later versions can add some; "source" and each of its keys may be
// left out (a calibration typed by hand has no frame; "flatfield" is there only for a
// calibration made through a flat-field). In a file with "flatfield" the white and dark
// values are corrected ones, with fractions ("white": 243.56) and up to
// kMaxCorrectedLevel; in any other, whole bytes as ever, but for the dark values: a
// mean of the dark target's bytes keeps its fraction ("dark": 12.4) within 0..254.

#include "engine/calibration/Calibration.h"
#include "engine/calibration/Panel.h"
#include "engine/formats/Rectangle.h"

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace engine {

class PictureReader;

inline constexpr const char* kCalibrationFormat = "zrvimage-calibration";
inline constexpr int kCalibrationVersion = 1;
// The largest white or dark value a calibration made through a flat-field may hold: a
// byte divided by the smallest gain a flat-field may have.
inline constexpr float kMaxCorrectedLevel = 25500;

struct CalibrationSource {
    std::string frame;                    // the picture's path; empty when none
    std::optional<Rectangle> whiteRect;   // corners included, y from the top
    WhiteFrom whiteFrom = WhiteFrom::Maximum;
    std::optional<Rectangle> darkRect;
    std::string date;                     // ISO 8601 in UTC, e.g. 2026-05-14T09:30:00Z
    // The flat-field file the panel's values were corrected by (absolute, as the frame);
    // empty when none, and then the key is not written.
    std::string flatfield;

    friend bool operator==(const CalibrationSource& a, const CalibrationSource& b)
    {
        const auto same = [](const std::optional<Rectangle>& r, const std::optional<Rectangle>& s) {
            return r.has_value() == s.has_value()
                   && (!r || (r->x1 == s->x1 && r->y1 == s->y1 && r->x2 == s->x2 && r->y2 == s->y2));
        };
        return a.frame == b.frame && same(a.whiteRect, b.whiteRect) && a.whiteFrom == b.whiteFrom
               && same(a.darkRect, b.darkRect) && a.date == b.date && a.flatfield == b.flatfield;
    }
};

struct CalibrationRecord {
    NdviModel model;
    CalibrationSource source;
    friend bool operator==(const CalibrationRecord&, const CalibrationRecord&) = default;
};

// A calibration file that cannot be used: what is wrong, and the file.
class CalibrationFileError : public std::runtime_error {
public:
    CalibrationFileError(std::string problem, std::string path);
    const std::string& problem() const noexcept { return problem_; }
    const std::string& path() const noexcept { return path_; }

private:
    std::string problem_;
    std::string path_;
};

// The file's text. A frame path that is not UTF-8 is written with U+FFFD in place of
// its bad bytes.
std::string calibrationText(const CalibrationRecord& record);

// The record in text; path is for messages only. Throws CalibrationFileError when the
// text is not JSON, lacks a key, holds a value of the wrong kind or out of range, or
// gives a model that modelProblem() refuses.
CalibrationRecord parseCalibration(std::string_view text, const std::string& path);

// Reads and parses the file (at most kMaxCalibrationBytes of it). Throws
// CalibrationFileError, also when it cannot be opened or read.
inline constexpr std::size_t kMaxCalibrationBytes = 1 << 20;
CalibrationRecord readCalibrationFile(const std::string& path);

// Writes the file whole or not at all through the output path; input, when given, is
// the frame, which the file must not replace. Throws EngineError.
void writeCalibrationFile(const std::string& path, const CalibrationRecord& record,
                          const PictureReader* input = nullptr);

// The frame as the file names it: absolute and without "." or "..", so that the file
// still says which frame it was when it is read from another folder. The path as
// given when it cannot be made absolute.
std::string calibrationFramePath(const std::string& frame);

// A time as ISO 8601 in UTC: 2026-05-14T09:30:00Z.
std::string isoDateUtc(std::time_t time);

}  // namespace engine
