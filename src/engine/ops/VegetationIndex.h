#pragma once
// The two-band vegetation indices: a name with an optional parameter (savi:0.3), each
// index's value from the NIR and red reflectances after the calibration, its name for
// columns and headers, and its range for a colour scale. Every front end and the season
// take the value from indexOfReflectances, so one pixel has one value everywhere.
//
// NDVI keeps its own exact arithmetic (ndviOfReflectances: extended precision, rounded
// once). The others are computed in double from the two float reflectances and rounded
// once to float32; kNdviMarker (-10) where both bands are 0, where the formula divides
// by zero or where it takes the root of a negative number.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace engine {

enum class IndexKind { Ndvi, Sr, Dvi, Rdvi, Savi, Osavi, Msavi2, Evi2, Wdrvi, Nli, Mnli, Tdvi };

struct VegetationIndex {
    IndexKind kind = IndexKind::Ndvi;
    // L of savi and mnli, a of wdrvi (within 0..1); 0 and unused for the others.
    double parameter = 0;

    bool isNdvi() const noexcept { return kind == IndexKind::Ndvi; }
    bool hasParameter() const noexcept;
    // The lower-case name, as typed: "savi"; the column prefix of the season table.
    const char* name() const noexcept;
    // The name as given back to --index: "savi:0.5" with its parameter, "ndvi" without.
    std::string text() const;
    // For a TIFF's description and an ENVI header: "SAVI (L=0.5)", "NDVI".
    std::string label() const;
    friend bool operator==(const VegetationIndex&, const VegetationIndex&) = default;
};

// Reads NAME or NAME:PARAM (a decimal). A parameter where the index takes none, a
// parameter out of 0..1 or not a number, or an unknown name is a message in Japanese.
std::variant<VegetationIndex, std::string> parseVegetationIndex(std::string_view text);

// The value of one pixel from its two reflectances (0..1), as every output holds it.
float indexOfReflectances(const VegetationIndex& index, float nir, float red);

// The values the index takes for reflectances within 0..1, for a colour scale: its
// exact bounds where it has them; for sr, which has none above, 0..10 (bounded false),
// the values beyond shown as its end.
struct IndexRange {
    double low, high;
    bool bounded;
};
IndexRange indexRange(const VegetationIndex& index) noexcept;

}  // namespace engine
