#include "engine/season/Regions.h"

#include "engine/formats/PictureReader.h"
#include "engine/formats/ShortestText.h"
#include "engine/output/OutputPath.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

namespace engine {

namespace {

using Json = nlohmann::json;

// A regions file past this is no regions file; a hand-drawn season holds a few dozen
// regions of a few dozen points.
constexpr std::size_t kMaxRegionsBytes = std::size_t{16} << 20;

// Polygon coordinates lie within +-2^24: a polygon's rows are walked one by one, and
// one taller than that would hold up the reading of its file for no frame taken.
constexpr double kMaxCoordinate = 16777216.0;

// And the rows of all the file's polygons times their points, which is what walking
// them costs, at most 2^24 (under half a second): within +-2^24 a file of a few dozen
// bytes could name a polygon of thousands of points over sixteen million rows, or
// hundreds of tall triangles, and take minutes or hours to read. A season's plots, a
// few hundred rows and points each, or a field's outline of a thousand points over a
// whole frame, are far below it.
constexpr double kMaxPolygonWork = 16777216.0;

std::string located(const std::string& path, const std::string& problem)
{
    return path.empty() ? problem : path + ": " + problem;
}

// "領域 "A1"", or by its place in the list ("3 番目の領域") when it has no name.
std::string regionLabel(const std::string& name, std::size_t index)
{
    if (name.empty()) return std::to_string(index + 1) + " 番目の領域";
    return "領域 \"" + name + "\"";
}

struct Problem {
    std::string text;
};

std::size_t lineOf(std::string_view text, std::size_t offset)
{
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

// A region in a tag's units: a few tags' widths around it at most, as a panel card
// beside its tag is.
constexpr double kMaxTagUnits = 1000.0;

bool unitCoordinate(double v)
{
    return std::isfinite(v) && std::fabs(v) <= kMaxTagUnits;
}

std::optional<std::string> unitShapeProblem(const Region& r)
{
    if (r.isPolygon()) {
        if (r.polygon.size() < 3) return std::string(" の polygon には 3 点以上が必要です");
        if (r.polygon.size() > 1000) return std::string(" の polygon の点が多すぎます（マーカーに固定した領域は 1000 点まで）");
        for (const Vertex& v : r.polygon) {
            if (!unitCoordinate(v.x) || !unitCoordinate(v.y)) {
                return std::string(" の polygon の座標はマーカーの単位で ±1000 以内の数でなければなりません");
            }
        }
        return std::nullopt;
    }
    const auto& u = r.unitRect;
    if (!unitCoordinate(u[0]) || !unitCoordinate(u[1]) || !unitCoordinate(u[2]) || !unitCoordinate(u[3]) || !(u[0] < u[2])
        || !(u[1] < u[3])) {
        return std::string(" の rect はマーカーの単位で ±1000 以内の [U1, V1, U2, V2]（U1 < U2、V1 < V2）でなければなりません");
    }
    return std::nullopt;
}

std::optional<std::string> markersProblem(const MarkerSettings& m)
{
    std::set<int> ids;
    for (const int id : m.field) {
        if (id < 0 || id >= kTagFamilySize) {
            return "markers の field のマーカー番号 " + std::to_string(id) + " は 0 から " + std::to_string(kTagFamilySize - 1)
                   + " まででなければなりません";
        }
        if (!ids.insert(id).second) return "markers の field にマーカー " + std::to_string(id) + " が二度あります";
    }
    for (const auto& [id, corners] : m.reference) {
        if (!ids.count(id)) return "markers の reference のマーカー " + std::to_string(id) + " は field にありません";
        for (const Vertex& v : corners) {
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || std::fabs(v.x) > kMaxCoordinate || std::fabs(v.y) > kMaxCoordinate) {
                return "markers の reference のマーカー " + std::to_string(id) + " の座標が正しくありません";
            }
        }
    }
    return std::nullopt;
}

// The checks parseRegions() and regionsProblem() share, over a set already read.
std::optional<std::string> setProblem(const RegionSet& set)
{
    if (set.markers) {
        if (auto problem = markersProblem(*set.markers)) return problem;
    }
    std::set<std::string> names;
    bool white = false;
    bool dark = false;
    double work = 0;
    for (std::size_t i = 0; i < set.regions.size(); ++i) {
        const Region& r = set.regions[i];
        const std::string label = regionLabel(r.name, i);
        if (r.name.empty()) return label + "に名前（name）がありません";
        if (!names.insert(r.name).second) return label + " の名前が重複しています";
        if (r.tag) {
            if (*r.tag < 0 || *r.tag >= kTagFamilySize) {
                return label + " の tag は 0 から " + std::to_string(kTagFamilySize - 1) + " までの番号でなければなりません";
            }
            if (auto problem = unitShapeProblem(r)) return label + *problem;
        } else if (r.isPolygon()) {
            if (r.polygon.size() < 3) return label + " の polygon には 3 点以上が必要です";
            for (const Vertex& v : r.polygon) {
                if (!std::isfinite(v.x) || !std::isfinite(v.y) || std::fabs(v.x) > kMaxCoordinate
                    || std::fabs(v.y) > kMaxCoordinate) {
                    return label + " の polygon の座標が正しくありません";
                }
            }
            const auto [low, high] = std::minmax_element(r.polygon.begin(), r.polygon.end(),
                                                         [](const Vertex& a, const Vertex& b) { return a.y < b.y; });
            work += (std::ceil(high->y) - std::floor(low->y) + 1) * static_cast<double>(r.polygon.size());
            if (work > kMaxPolygonWork) {
                return label + " の polygon が大きすぎます（ファイルの polygon の行数×点の数の合計が 16777216 を超えます）";
            }
            if (!regionBounds(r)) return label + " の polygon は画素を一つも含みません";
        } else {
            const Rectangle& c = r.rect;
            if (c.x1 < 0 || c.y1 < 0 || c.x1 > c.x2 || c.y1 > c.y2 || c.x2 > INT32_MAX || c.y2 > INT32_MAX) {
                return label + " の rect は 0 以上で X1 <= X2、Y1 <= Y2 でなければなりません";
            }
        }
        if (r.role == RegionRole::White) {
            if (white) return label + ": role が white の領域は一つだけです";
            white = true;
        }
        if (r.role == RegionRole::Dark) {
            if (dark) return label + ": role が dark の領域は一つだけです";
            dark = true;
        }
    }
    return std::nullopt;
}

Region regionOf(const Json& j, std::size_t index)
{
    if (!j.is_object()) throw Problem{regionLabel("", index) + "はオブジェクトでなければなりません"};
    Region r;
    const auto name = j.find("name");
    if (name != j.end() && !name->is_null()) {
        if (!name->is_string()) throw Problem{regionLabel("", index) + "の name は文字列でなければなりません"};
        r.name = name->get<std::string>();
    }
    const std::string label = regionLabel(r.name, index);
    if (r.name.empty()) throw Problem{label + "に名前（name）がありません"};
    const auto role = j.find("role");
    if (role != j.end() && !role->is_null()) {
        const std::string text = role->is_string() ? role->get<std::string>() : role->dump();
        if (text == "white") {
            r.role = RegionRole::White;
        } else if (text == "dark") {
            r.role = RegionRole::Dark;
        } else {
            throw Problem{label + " の role (" + text + ") は white か dark でなければなりません"};
        }
    }
    const auto rect = j.find("rect");
    const auto polygon = j.find("polygon");
    const bool hasRect = rect != j.end() && !rect->is_null();
    const bool hasPolygon = polygon != j.end() && !polygon->is_null();
    if (hasRect == hasPolygon) throw Problem{label + " には rect か polygon のどちらか一つが必要です"};
    const auto tag = j.find("tag");
    if (tag != j.end() && !tag->is_null()) {
        if (!tag->is_number_integer() || tag->get<std::int64_t>() < 0 || tag->get<std::int64_t>() >= kTagFamilySize) {
            throw Problem{label + " の tag は 0 から " + std::to_string(kTagFamilySize - 1) + " までの番号でなければなりません"};
        }
        r.tag = static_cast<int>(tag->get<std::int64_t>());
    }
    if (hasRect && r.tag) {
        const std::string shape = label + " の rect はマーカーの単位の数 [U1, V1, U2, V2] でなければなりません";
        if (!rect->is_array() || rect->size() != 4) throw Problem{shape};
        for (std::size_t i = 0; i < 4; ++i) {
            if (!(*rect)[i].is_number()) throw Problem{shape};
            r.unitRect[i] = (*rect)[i].get<double>();
        }
    } else if (hasRect) {
        const std::string shape = label + " の rect は 0 以上の整数の [X1, Y1, X2, Y2] でなければなりません";
        if (!rect->is_array() || rect->size() != 4) throw Problem{shape};
        std::int64_t c[4];
        for (std::size_t i = 0; i < 4; ++i) {
            const Json& v = (*rect)[i];
            // Numbers from 0 up come as unsigned and may lie past what int64 holds.
            if (!v.is_number_unsigned() || v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT32_MAX)) {
                throw Problem{shape};
            }
            c[i] = static_cast<std::int64_t>(v.get<std::uint64_t>());
        }
        r.rect = {c[0], c[1], c[2], c[3]};
    } else {
        const std::string shape = label + " の polygon は [[X, Y], ...] の形でなければなりません";
        if (!polygon->is_array()) throw Problem{shape};
        for (const Json& point : *polygon) {
            if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number()) {
                throw Problem{shape};
            }
            r.polygon.push_back({point[0].get<double>(), point[1].get<double>()});
        }
        if (r.polygon.empty()) throw Problem{label + " の polygon には 3 点以上が必要です"};
    }
    return r;
}

MarkerSettings markersOf(const Json& j)
{
    if (!j.is_object()) throw Problem{"markers はオブジェクトでなければなりません"};
    const auto family = j.find("family");
    if (family != j.end() && !family->is_null() && (!family->is_string() || family->get<std::string>() != kTagFamily)) {
        throw Problem{std::string("markers の family は ") + kTagFamily + " でなければなりません（ほかのマーカーには対応していません）"};
    }
    MarkerSettings m;
    const auto field = j.find("field");
    if (field != j.end() && !field->is_null()) {
        const std::string shape = "markers の field はマーカー番号の一覧 [0, 1, ...] でなければなりません";
        if (!field->is_array()) throw Problem{shape};
        for (const Json& id : *field) {
            if (!id.is_number_integer() || id.get<std::int64_t>() < INT32_MIN || id.get<std::int64_t>() > INT32_MAX) {
                throw Problem{shape};
            }
            m.field.push_back(static_cast<int>(id.get<std::int64_t>()));
        }
    }
    const auto reference = j.find("reference");
    if (reference != j.end() && !reference->is_null()) {
        const std::string shape = "markers の reference はマーカー番号から 4 つの角 [[X, Y], ...] への対応でなければなりません";
        if (!reference->is_object()) throw Problem{shape};
        for (const auto& [key, corners] : reference->items()) {
            int id = 0;
            const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
            if (ec != std::errc() || end != key.data() + key.size() || !corners.is_array() || corners.size() != 4) {
                throw Problem{shape};
            }
            TagCorners c;
            for (std::size_t k = 0; k < 4; ++k) {
                const Json& p = corners[k];
                if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number()) throw Problem{shape};
                c[k] = {p[0].get<double>(), p[1].get<double>()};
            }
            m.reference[id] = c;
        }
    }
    return m;
}

// The crossings of row y's centre line with the polygon's edges, each as the first
// column whose centre lies at or right of the crossing. A centre left of an odd number
// of crossings is inside: the even-odd rule, with an edge holding the rows from its
// lower end's y (excluded) up to its upper end's (included), so that a vertex on the
// line is crossed once or not at all.
void rowCrossings(const std::vector<Vertex>& polygon, std::int64_t y, std::vector<std::int64_t>& out)
{
    out.clear();
    const long double cy = static_cast<long double>(y) + 0.5L;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const Vertex& a = polygon[j];
        const Vertex& b = polygon[i];
        if ((a.y > cy) == (b.y > cy)) continue;
        const long double dy = static_cast<long double>(b.y) - a.y;
        const long double dx = static_cast<long double>(b.x) - a.x;
        const long double rise = (cy - a.y) * dx;
        // Centre x + 0.5 lies left of the crossing when (x + 0.5 - a.x) dy < rise
        // (dy > 0), compared without dividing: the estimate below only starts the search.
        const auto left = [&](std::int64_t x) {
            const long double run = (static_cast<long double>(x) + 0.5L - a.x) * dy;
            return dy > 0 ? run < rise : run > rise;
        };
        const long double estimate = a.x + rise / dy;
        auto t = static_cast<std::int64_t>(std::ceil(estimate - 0.5L));
        while (left(t)) ++t;
        while (!left(t - 1)) --t;
        out.push_back(t);
    }
    std::sort(out.begin(), out.end());
}

// Calls f(run) for each run of the region, rows from the top.
template <typename F>
void forEachRun(const Region& region, F&& f)
{
    if (!region.isPolygon()) {
        const Rectangle& r = region.rect;
        if (r.x1 > r.x2) return;
        for (std::int64_t y = r.y1; y <= r.y2; ++y) f(PixelRun{y, r.x1, r.x2});
        return;
    }
    double top = region.polygon[0].y;
    double bottom = top;
    for (const Vertex& v : region.polygon) {
        top = std::min(top, v.y);
        bottom = std::max(bottom, v.y);
    }
    if (!std::isfinite(top) || !std::isfinite(bottom)) return;
    // Rows whose centre line y + 0.5 lies in [top, bottom).
    const auto first = static_cast<std::int64_t>(std::ceil(static_cast<long double>(top) - 0.5L));
    const auto last = static_cast<std::int64_t>(std::ceil(static_cast<long double>(bottom) - 0.5L)) - 1;
    std::vector<std::int64_t> crossings;
    for (std::int64_t y = first; y <= last; ++y) {
        rowCrossings(region.polygon, y, crossings);
        std::optional<PixelRun> pending;
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
            const std::int64_t x1 = crossings[k];
            const std::int64_t x2 = crossings[k + 1] - 1;
            if (x1 > x2) continue;
            if (pending && pending->x2 + 1 >= x1) {
                pending->x2 = std::max(pending->x2, x2);
                continue;
            }
            if (pending) f(*pending);
            pending = PixelRun{y, x1, x2};
        }
        if (pending) f(*pending);
    }
}


}  // namespace

const char* regionRoleName(RegionRole role) noexcept
{
    switch (role) {
    case RegionRole::White: return "white";
    case RegionRole::Dark: return "dark";
    case RegionRole::Plot: return nullptr;
    }
    return nullptr;
}

const Region* RegionSet::white() const noexcept
{
    for (const Region& r : regions) {
        if (r.role == RegionRole::White) return &r;
    }
    return nullptr;
}

const Region* RegionSet::dark() const noexcept
{
    for (const Region& r : regions) {
        if (r.role == RegionRole::Dark) return &r;
    }
    return nullptr;
}

std::vector<const Region*> RegionSet::plots() const
{
    std::vector<const Region*> result;
    for (const Region& r : regions) {
        if (r.role == RegionRole::Plot) result.push_back(&r);
    }
    return result;
}

RegionSet parseRegions(std::string_view json, const std::string& path)
{
    const auto fail = [&](const std::string& problem) { throw RegionsError(located(path, problem)); };
    Json root;
    try {
        root = Json::parse(json.begin(), json.end());
    } catch (const Json::parse_error& e) {
        fail("領域ファイルが JSON として正しくありません（" + std::to_string(lineOf(json, e.byte == 0 ? 0 : e.byte - 1))
             + " 行目）");
    } catch (const Json::exception&) {
        fail("領域ファイルに大きすぎる数値があります");
    }
    if (!root.is_object()) fail("領域ファイルではありません（JSON のオブジェクトではありません）");
    const auto list = root.find("regions");
    if (list == root.end() || !list->is_array()) fail("領域ファイルに regions の一覧がありません");
    RegionSet set;
    try {
        const auto markers = root.find("markers");
        if (markers != root.end() && !markers->is_null()) set.markers = markersOf(*markers);
        for (std::size_t i = 0; i < list->size(); ++i) set.regions.push_back(regionOf((*list)[i], i));
    } catch (const Problem& p) {
        fail(p.text);
    }
    if (auto problem = setProblem(set)) fail(*problem);
    return set;
}

RegionSet readRegionsFile(const std::string& path)
{
    std::string text;
    try {
        const auto source = openFileSource(path);
        // To the end, not to the size the file reports: a device has none.
        std::uint8_t chunk[16384];
        for (;;) {
            const std::size_t n = source->readAt(static_cast<std::int64_t>(text.size()), chunk, sizeof chunk);
            if (n == 0) break;
            text.append(reinterpret_cast<const char*>(chunk), n);
            if (text.size() > kMaxRegionsBytes) throw RegionsError(located(path, "領域ファイルが大きすぎます（16 MiB まで）"));
        }
    } catch (const EngineError& e) {
        if (e.failure() == Failure::CannotOpenInput) throw RegionsError(located(path, "領域ファイルを開けません"));
        throw RegionsError(located(path, "領域ファイルの読み込みに失敗しました"));
    }
    return parseRegions(text, path);
}

std::string regionsJson(const RegionSet& set)
{
    // One region per line, as the file is shown in the documentation: a region reads at
    // a glance and a change to one shows as a change to one line.
    std::string text = "{";
    if (set.markers) {
        const MarkerSettings& m = *set.markers;
        text += "\"markers\": {\"family\": \"" + std::string(kTagFamily) + "\", \"field\": [";
        for (std::size_t k = 0; k < m.field.size(); ++k) text += (k ? ", " : "") + std::to_string(m.field[k]);
        text += "]";
        if (!m.reference.empty()) {
            text += ",\n  \"reference\": {";
            bool first = true;
            for (const auto& [id, corners] : m.reference) {
                text += first ? "\n    " : ",\n    ";
                first = false;
                text += "\"" + std::to_string(id) + "\": [";
                for (std::size_t k = 0; k < 4; ++k) {
                    text += (k ? ", [" : "[") + shortestText(corners[k].x) + ", " + shortestText(corners[k].y) + "]";
                }
                text += "]";
            }
            text += "}";
        }
        text += "},\n ";
    }
    text += "\"regions\": [";
    for (std::size_t i = 0; i < set.regions.size(); ++i) {
        const Region& r = set.regions[i];
        text += i == 0 ? "\n  " : ",\n  ";
        text += "{\"name\": " + Json(r.name).dump(-1, ' ', false, Json::error_handler_t::replace);
        if (r.tag) text += ", \"tag\": " + std::to_string(*r.tag);
        if (r.tag && !r.isPolygon()) {
            text += ", \"rect\": [" + shortestText(r.unitRect[0]) + ", " + shortestText(r.unitRect[1]) + ", "
                    + shortestText(r.unitRect[2]) + ", " + shortestText(r.unitRect[3]) + "]";
        } else if (r.isPolygon()) {
            text += ", \"polygon\": [";
            for (std::size_t k = 0; k < r.polygon.size(); ++k) {
                if (k > 0) text += ", ";
                text += '[';
                text += shortestText(r.polygon[k].x);
                text += ", ";
                text += shortestText(r.polygon[k].y);
                text += ']';
            }
            text += ']';
        } else {
            text += ", \"rect\": [" + std::to_string(r.rect.x1) + ", " + std::to_string(r.rect.y1) + ", "
                    + std::to_string(r.rect.x2) + ", " + std::to_string(r.rect.y2) + "]";
        }
        if (const char* role = regionRoleName(r.role)) text += std::string(", \"role\": \"") + role + "\"";
        text += '}';
    }
    text += set.regions.empty() ? "]}\n" : "\n]}\n";
    return text;
}

void writeRegionsFile(const std::string& path, const RegionSet& set)
{
    writeWholeFile(path, regionsJson(set));
}

std::optional<std::string> regionsProblem(const RegionSet& set)
{
    return setProblem(set);
}

std::vector<PixelRun> regionRuns(const Region& region)
{
    std::vector<PixelRun> runs;
    forEachRun(region, [&](const PixelRun& run) { runs.push_back(run); });
    return runs;
}

std::optional<Rectangle> regionBounds(const Region& region)
{
    if (!region.isPolygon()) {
        const Rectangle& r = region.rect;
        if (r.x1 > r.x2 || r.y1 > r.y2) return std::nullopt;
        return r;
    }
    std::optional<Rectangle> bounds;
    forEachRun(region, [&](const PixelRun& run) {
        if (!bounds) {
            bounds = Rectangle{run.x1, run.y, run.x2, run.y};
            return;
        }
        bounds->x1 = std::min(bounds->x1, run.x1);
        bounds->x2 = std::max(bounds->x2, run.x2);
        bounds->y2 = run.y;
    });
    return bounds;
}

bool regionInside(const Region& region, std::int64_t width, std::int64_t height)
{
    const auto b = regionBounds(region);
    return !b || (b->x1 >= 0 && b->y1 >= 0 && b->x2 < width && b->y2 < height);
}

}  // namespace engine
