#include "engine/season/Markers.h"

#include "engine/formats/PictureReader.h"
#include "engine/platform/PerThread.h"

#include <apriltag/apriltag.h>
#include <apriltag/tag36h11.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>

namespace engine {

namespace {

// A detector of each thread's own: making one builds the family's decoding table,
// which costs more than finding the tags on a frame.
struct Detector {
    apriltag_family_t* family = nullptr;
    apriltag_detector_t* detector = nullptr;

    Detector()
    {
        family = tag36h11_create();
        detector = apriltag_detector_create();
        if (!family || !detector) throw std::bad_alloc();
        // One bit corrected: the family's 587 codes lie at least 11 bits apart, and a
        // second corrected bit multiplies the chance of reading a leaf's shadow as a tag.
        apriltag_detector_add_family_bits(detector, family, 1);
        detector->nthreads = 1;  // the season runs one frame a core
        detector->quad_sigma = 0.0f;
        detector->refine_edges = true;
        detector->decode_sharpening = 0.25;
        // A printed tag's black and white lie far apart, even in shade on a clouded day
        // (8 against 80 and more); the library's default of 5 also cuts the field's
        // texture and noise into thousands of small patches whose outlines it then tries
        // as quads: 25 to 45 ms a 2048x1536 frame, against 1.5 to 7 ms with 20.
        detector->qtp.min_white_black_diff = 20;
    }
    ~Detector()
    {
        if (detector) apriltag_detector_destroy(detector);
        if (family) tag36h11_destroy(family);
    }
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;
};

// The search runs on a picture reduced to about 512 to 1024 columns; the edges are
// then fitted to the full picture's pixels.
float decimationFor(std::int64_t width)
{
    if (width >= 2048) return 4.0f;
    if (width >= 1024) return 2.0f;
    return 1.0f;
}

double cross(const Vertex& a, const Vertex& b, const Vertex& c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Solves the n x n system a x = b (a row-major) by elimination with partial pivoting;
// false when it is singular.
bool solve(std::vector<double>& a, std::vector<double>& b, std::size_t n)
{
    double largest = 0;
    for (const double v : a) largest = std::max(largest, std::fabs(v));
    if (largest == 0) return false;
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c])) pivot = r;
        }
        if (std::fabs(a[pivot * n + c]) <= largest * 1e-13) return false;
        if (pivot != c) {
            for (std::size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
            std::swap(b[c], b[pivot]);
        }
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = a[r * n + c] / a[c * n + c];
            if (f == 0) continue;
            for (std::size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        double v = b[c];
        for (std::size_t k = c + 1; k < n; ++k) v -= a[c * n + k] * b[k];
        b[c] = v / a[c * n + c];
    }
    return true;
}

// Moves the points' centre to the origin and their mean distance from it to sqrt(2):
// the fit's equations are then of like sizes whatever the picture's.
struct Normaliser {
    double cx = 0, cy = 0, s = 1;

    explicit Normaliser(const std::vector<Vertex>& points)
    {
        for (const Vertex& p : points) {
            cx += p.x;
            cy += p.y;
        }
        cx /= static_cast<double>(points.size());
        cy /= static_cast<double>(points.size());
        double d = 0;
        for (const Vertex& p : points) d += std::hypot(p.x - cx, p.y - cy);
        d /= static_cast<double>(points.size());
        s = d > 0 ? std::sqrt(2.0) / d : 1;
    }
    Vertex apply(const Vertex& p) const noexcept { return {(p.x - cx) * s, (p.y - cy) * s}; }
};

// h (8 values, h33 = 1) of the map from normalised from-points to normalised to-points.
// First the linear fit, then Gauss-Newton steps on the points' distances, so that the
// result is the least-squares fit of the corners themselves.
std::optional<std::array<double, 8>> fitNormalised(const std::vector<Vertex>& from, const std::vector<Vertex>& to)
{
    const std::size_t n = from.size();
    std::vector<double> ata(64, 0.0);
    std::vector<double> atb(8, 0.0);
    const auto add = [&](const std::array<double, 8>& row, double rhs) {
        for (std::size_t i = 0; i < 8; ++i) {
            atb[i] += row[i] * rhs;
            for (std::size_t j = 0; j < 8; ++j) ata[i * 8 + j] += row[i] * row[j];
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        const double x = from[i].x, y = from[i].y, u = to[i].x, v = to[i].y;
        add({x, y, 1, 0, 0, 0, -u * x, -u * y}, u);
        add({0, 0, 0, x, y, 1, -v * x, -v * y}, v);
    }
    if (!solve(ata, atb, 8)) return std::nullopt;
    std::array<double, 8> h;
    std::copy(atb.begin(), atb.end(), h.begin());
    for (int iteration = 0; iteration < 10; ++iteration) {
        std::fill(ata.begin(), ata.end(), 0.0);
        std::fill(atb.begin(), atb.end(), 0.0);
        double moved = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = from[i].x, y = from[i].y;
            const double w = h[6] * x + h[7] * y + 1;
            if (std::fabs(w) < 1e-12) return std::nullopt;
            const double px = (h[0] * x + h[1] * y + h[2]) / w;
            const double py = (h[3] * x + h[4] * y + h[5]) / w;
            add({x / w, y / w, 1 / w, 0, 0, 0, -px * x / w, -px * y / w}, to[i].x - px);
            add({0, 0, 0, x / w, y / w, 1 / w, -py * x / w, -py * y / w}, to[i].y - py);
        }
        if (!solve(ata, atb, 8)) break;
        for (std::size_t k = 0; k < 8; ++k) {
            h[k] += atb[k];
            moved = std::max(moved, std::fabs(atb[k]));
        }
        if (moved < 1e-14) break;
    }
    return h;
}

std::string idList(const std::vector<int>& ids)
{
    std::string text;
    for (std::size_t i = 0; i < ids.size(); ++i) text += (i ? ", " : "") + std::to_string(ids[i]);
    return text;
}

const FoundTag* tagById(const std::vector<FoundTag>& tags, int id)
{
    const auto it = std::lower_bound(tags.begin(), tags.end(), id, [](const FoundTag& t, int v) { return t.id < v; });
    return it != tags.end() && it->id == id ? &*it : nullptr;
}

std::vector<Vertex> outline(const Region& region)
{
    if (region.isPolygon()) return region.polygon;
    if (region.tag) {
        const auto& u = region.unitRect;
        return {{u[0], u[1]}, {u[2], u[1]}, {u[2], u[3]}, {u[0], u[3]}};
    }
    // A rect's pixel edges, so that an unmoved frame holds the same pixels.
    const auto x1 = static_cast<double>(region.rect.x1), y1 = static_cast<double>(region.rect.y1);
    const auto x2 = static_cast<double>(region.rect.x2) + 1, y2 = static_cast<double>(region.rect.y2) + 1;
    return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

Region mappedRegion(const Region& region, const Homography& h)
{
    Region out;
    out.name = region.name;
    out.role = region.role;
    for (const Vertex& v : outline(region)) out.polygon.push_back(h.map(v));
    return out;
}

// The grey value at a point of the picture, from its four nearest pixel centres.
double sampleAt(const GreyView& g, double x, double y)
{
    const double fx = std::clamp(x - 0.5, 0.0, static_cast<double>(g.width - 1));
    const double fy = std::clamp(y - 0.5, 0.0, static_cast<double>(g.height - 1));
    const auto x0 = static_cast<std::int64_t>(fx), y0 = static_cast<std::int64_t>(fy);
    const std::int64_t x1 = std::min(x0 + 1, g.width - 1), y1 = std::min(y0 + 1, g.height - 1);
    const double ax = fx - static_cast<double>(x0), ay = fy - static_cast<double>(y0);
    const std::uint8_t* r0 = g.pixels + y0 * g.stride;
    const std::uint8_t* r1 = g.pixels + y1 * g.stride;
    const double top = r0[x0] + ax * (r0[x1] - r0[x0]);
    const double bottom = r1[x0] + ax * (r1[x1] - r1[x0]);
    return top + ay * (bottom - top);
}

// The corners moved onto the tag's outer edges as the full picture shows them. Along
// each edge, the profile across it is followed from the black border (inside) to the
// white margin (outside), and the point where it passes half-way between the two is
// the edge there; a line through those points, one per edge, and their crossings are
// the corners. The library's own refinement leaves errors of about 0.3 pixel; this one
// a few hundredths on a clean edge. Corners too small to measure this way stay.
void refineCorners(const GreyView& g, TagCorners& corners)
{
    const double side = std::hypot(corners[1].x - corners[0].x, corners[1].y - corners[0].y);
    const double cell = side / 8;  // the border is one cell of eight across the black square
    if (cell < 3) return;
    const double reach = std::min(2.5, 0.45 * cell);
    Vertex centre{0, 0};
    for (const Vertex& c : corners) {
        centre.x += c.x / 4;
        centre.y += c.y / 4;
    }
    struct Line {
        Vertex point, direction;
    };
    std::array<Line, 4> lines;
    for (std::size_t e = 0; e < 4; ++e) {
        const Vertex a = corners[e], b = corners[(e + 1) % 4];
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        if (length < 8) return;
        const Vertex along{(b.x - a.x) / length, (b.y - a.y) / length};
        Vertex out{along.y, -along.x};
        if (out.x * ((a.x + b.x) / 2 - centre.x) + out.y * ((a.y + b.y) / 2 - centre.y) < 0) out = {-out.x, -out.y};
        std::vector<Vertex> edge;
        // Away from the corners, where the other edge's light mixes in.
        for (double t = 0.15 * length; t <= 0.85 * length; t += 1.0) {
            const Vertex p{a.x + along.x * t, a.y + along.y * t};
            const int steps = 16;
            double profile[steps + 1];
            for (int k = 0; k <= steps; ++k) {
                const double d = -reach + 2 * reach * k / steps;
                profile[k] = sampleAt(g, p.x + out.x * d, p.y + out.y * d);
            }
            const double inner = profile[0], outer = profile[steps];
            if (outer - inner < 8) continue;  // no edge to see here
            const double half = (inner + outer) / 2;
            for (int k = 0; k < steps; ++k) {
                if (profile[k] < half && profile[k + 1] >= half) {
                    const double f = (half - profile[k]) / (profile[k + 1] - profile[k]);
                    const double d = -reach + 2 * reach * (k + f) / steps;
                    edge.push_back({p.x + out.x * d, p.y + out.y * d});
                    break;
                }
            }
        }
        if (edge.size() < 4) return;
        // The line of least squares across it: through the mean, along the main axis.
        Vertex mean{0, 0};
        for (const Vertex& v : edge) {
            mean.x += v.x / static_cast<double>(edge.size());
            mean.y += v.y / static_cast<double>(edge.size());
        }
        double sxx = 0, sxy = 0, syy = 0;
        for (const Vertex& v : edge) {
            sxx += (v.x - mean.x) * (v.x - mean.x);
            sxy += (v.x - mean.x) * (v.y - mean.y);
            syy += (v.y - mean.y) * (v.y - mean.y);
        }
        const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
        lines[e] = {mean, {std::cos(angle), std::sin(angle)}};
    }
    TagCorners refined;
    for (std::size_t k = 0; k < 4; ++k) {
        // Corner k lies where the edge into it (k - 1) meets the edge out of it (k).
        const Line& l1 = lines[(k + 3) % 4];
        const Line& l2 = lines[k];
        const double det = l1.direction.x * -l2.direction.y - l1.direction.y * -l2.direction.x;
        if (std::fabs(det) < 1e-6) return;
        const double dx = l2.point.x - l1.point.x, dy = l2.point.y - l1.point.y;
        const double t = (dx * -l2.direction.y - dy * -l2.direction.x) / det;
        refined[k] = {l1.point.x + t * l1.direction.x, l1.point.y + t * l1.direction.y};
        // A corner that moves far was not the tag's edge after all.
        if (std::hypot(refined[k].x - corners[k].x, refined[k].y - corners[k].y) > reach) return;
    }
    corners = refined;
}

}  // namespace

bool RegionSet::usesMarkers() const noexcept
{
    if (markers && !markers->field.empty()) return true;
    return std::any_of(regions.begin(), regions.end(), [](const Region& r) { return r.tag.has_value(); });
}

Vertex Homography::map(const Vertex& p) const noexcept
{
    const double w = h[6] * p.x + h[7] * p.y + h[8];
    return {(h[0] * p.x + h[1] * p.y + h[2]) / w, (h[3] * p.x + h[4] * p.y + h[5]) / w};
}

std::optional<Homography> fitHomography(const std::vector<Vertex>& from, const std::vector<Vertex>& to)
{
    if (from.size() != to.size() || from.size() < 4) return std::nullopt;
    // Four points fix a map only when no three of them lie on one line.
    bool spread = false;
    for (std::size_t i = 0; i < from.size() && !spread; ++i) {
        for (std::size_t j = i + 1; j < from.size() && !spread; ++j) {
            for (std::size_t k = j + 1; k < from.size() && !spread; ++k) {
                const double scale = std::max(1.0, std::hypot(from[j].x - from[i].x, from[j].y - from[i].y));
                spread = std::fabs(cross(from[i], from[j], from[k])) > 1e-6 * scale * scale;
            }
        }
    }
    if (!spread) return std::nullopt;
    const Normaliser nf(from), nt(to);
    std::vector<Vertex> a, b;
    for (std::size_t i = 0; i < from.size(); ++i) {
        a.push_back(nf.apply(from[i]));
        b.push_back(nt.apply(to[i]));
    }
    const auto g = fitNormalised(a, b);
    if (!g) return std::nullopt;
    // H = T_to^-1 * G * T_from, with T(p) = s (p - c).
    const double G[9] = {(*g)[0], (*g)[1], (*g)[2], (*g)[3], (*g)[4], (*g)[5], (*g)[6], (*g)[7], 1};
    const double F[9] = {nf.s, 0, -nf.s * nf.cx, 0, nf.s, -nf.s * nf.cy, 0, 0, 1};
    const double Ti[9] = {1 / nt.s, 0, nt.cx, 0, 1 / nt.s, nt.cy, 0, 0, 1};
    double GF[9], H[9];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            GF[r * 3 + c] = G[r * 3] * F[c] + G[r * 3 + 1] * F[3 + c] + G[r * 3 + 2] * F[6 + c];
        }
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            H[r * 3 + c] = Ti[r * 3] * GF[c] + Ti[r * 3 + 1] * GF[3 + c] + Ti[r * 3 + 2] * GF[6 + c];
        }
    }
    if (!std::isfinite(H[8]) || H[8] == 0) return std::nullopt;
    Homography result;
    for (int i = 0; i < 9; ++i) {
        result.h[static_cast<std::size_t>(i)] = H[i] / H[8];
        if (!std::isfinite(result.h[static_cast<std::size_t>(i)])) return std::nullopt;
    }
    return result;
}

Homography tagHomography(const TagCorners& corners)
{
    static const std::vector<Vertex> unit{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const auto h = fitHomography(unit, {corners.begin(), corners.end()});
    return h ? *h : Homography{};
}

std::vector<FoundTag> findTags(const GreyView& picture)
{
    if (picture.width <= 0 || picture.height <= 0) return {};
    Detector& d = perThread<Detector>();
    d.detector->quad_decimate = decimationFor(picture.width);
    image_u8_t image{static_cast<std::int32_t>(picture.width), static_cast<std::int32_t>(picture.height),
                     static_cast<std::int32_t>(picture.stride), const_cast<std::uint8_t*>(picture.pixels)};
    zarray_t* detections = apriltag_detector_detect(d.detector, &image);
    if (!detections) throw std::bad_alloc();
    std::vector<FoundTag> found;
    for (int i = 0; i < zarray_size(detections); ++i) {
        apriltag_detection_t* det = nullptr;
        zarray_get(detections, i, &det);
        FoundTag tag;
        tag.id = det->id;
        tag.margin = det->decision_margin;
        // The library goes round the tag from its bottom-left corner as printed.
        tag.corners = {Vertex{det->p[3][0], det->p[3][1]}, Vertex{det->p[2][0], det->p[2][1]},
                       Vertex{det->p[1][0], det->p[1][1]}, Vertex{det->p[0][0], det->p[0][1]}};
        refineCorners(picture, tag.corners);
        found.push_back(tag);
    }
    apriltag_detections_destroy(detections);
    std::sort(found.begin(), found.end(), [](const FoundTag& a, const FoundTag& b) { return a.id < b.id; });
    std::vector<FoundTag> unique;
    for (std::size_t i = 0; i < found.size();) {
        std::size_t j = i;
        while (j < found.size() && found[j].id == found[i].id) ++j;
        if (j == i + 1) unique.push_back(found[i]);
        i = j;
    }
    return unique;
}

TagPattern tagPattern(int id)
{
    if (id < 0 || id >= kTagFamilySize) throw std::out_of_range("tag id");
    const Detector& d = perThread<Detector>();
    image_u8_t* image = apriltag_to_image(d.family, id);
    if (!image) throw std::bad_alloc();
    TagPattern p;
    p.side = image->width;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) p.black.push_back(image->buf[y * image->stride + x] == 0 ? 1 : 0);
    }
    // The library's image: its pixels and itself, each from calloc. Its own destroy
    // function is not among what Debian's shared library exports.
    std::free(image->buf);
    std::free(image);
    return p;
}

namespace {

// The field's map and its corners' root mean square residual, in pixels.
std::optional<std::pair<Homography, std::optional<double>>> fieldFit(const std::vector<Vertex>& from,
                                                                     const std::vector<Vertex>& to)
{
    const auto h = fitHomography(from, to);
    if (!h) return std::nullopt;
    double sum = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const Vertex p = h->map(from[i]);
        sum += (p.x - to[i].x) * (p.x - to[i].x) + (p.y - to[i].y) * (p.y - to[i].y);
    }
    return std::pair{*h, std::optional<double>(std::sqrt(sum / static_cast<double>(from.size())))};
}

}  // namespace

Registration registerRegions(const RegionSet& set, const std::vector<FoundTag>& tags)
{
    Registration r;
    r.tags = tags;
    std::optional<Homography> field;
    const bool hasPlots = std::any_of(set.regions.begin(), set.regions.end(), [](const Region& g) { return !g.tag; });
    if (set.markers && !set.markers->field.empty() && hasPlots) {
        const MarkerSettings& m = *set.markers;
        std::vector<Vertex> from, to;
        std::vector<int> missing;
        for (const int id : m.field) {
            const auto ref = m.reference.find(id);
            const FoundTag* found = tagById(tags, id);
            if (ref != m.reference.end() && found) {
                ++r.fieldFound;
                from.insert(from.end(), ref->second.begin(), ref->second.end());
                to.insert(to.end(), found->corners.begin(), found->corners.end());
            } else if (ref != m.reference.end()) {
                missing.push_back(id);
            }
        }
        if (m.reference.empty()) {
            r.problem = "領域ファイルがマーカーに固定されていません（先に zrvimage-batch anchor で基準フレームのマーカーを記録してください）";
            return r;
        }
        if (r.fieldFound < 2) {
            r.problem = "圃場のマーカーが " + std::to_string(r.fieldFound) + " 個しか見つかりません（2 個以上が必要です。見つからないマーカー: "
                        + idList(missing) + "）";
            return r;
        }
        // A field tag knocked over or moved since the reference frame fits the others
        // badly: with three or more, the one whose leaving out brings the fit within
        // the limit is left out (and not counted); otherwise the frame is refused.
        auto fit = fieldFit(from, to);
        if (fit && *fit->second > kMaxRegistrationRms && r.fieldFound >= 3) {
            std::optional<std::pair<Homography, std::optional<double>>> best;
            for (int leave = 0; leave < r.fieldFound; ++leave) {
                std::vector<Vertex> f2, t2;
                for (std::size_t i = 0; i < from.size(); ++i) {
                    if (static_cast<int>(i / 4) == leave) continue;
                    f2.push_back(from[i]);
                    t2.push_back(to[i]);
                }
                auto other = fieldFit(f2, t2);
                if (other && (!best || *other->second < *best->second)) best = other;
            }
            if (best && *best->second <= kMaxRegistrationRms) {
                fit = best;
                --r.fieldFound;
            }
        }
        if (!fit) {
            r.problem = "圃場のマーカーから位置合わせができません（マーカーが一直線に並んでいます）";
            return r;
        }
        if (*fit->second > kMaxRegistrationRms) {
            char residual[32];
            std::snprintf(residual, sizeof residual, "%.1f", *fit->second);
            r.problem = std::string("圃場のマーカーの位置が基準フレームと合いません（残差 ") + residual
                        + " 画素。マーカーが動いたか、別の場所のフレームです）";
            return r;
        }
        field = fit->first;
        r.rmsPx = fit->second;
    }
    std::vector<int> lost;
    for (const Region& region : set.regions) {
        if (region.tag) {
            const FoundTag* found = tagById(tags, *region.tag);
            if (!found) {
                lost.push_back(*region.tag);
                continue;
            }
            const auto own = fitHomography({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, {found->corners.begin(), found->corners.end()});
            if (!own) {
                lost.push_back(*region.tag);
                continue;
            }
            r.mapped.regions.push_back(mappedRegion(region, *own));
        } else if (field) {
            r.mapped.regions.push_back(mappedRegion(region, *field));
        } else {
            Region same = region;
            r.mapped.regions.push_back(same);
        }
    }
    if (!lost.empty()) {
        std::sort(lost.begin(), lost.end());
        lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
        r.problem = "マーカー " + idList(lost) + " が見つかりません（そのマーカーに固定した領域を置けません）";
        r.mapped = {};
    }
    return r;
}

RegionSet anchorRegions(const RegionSet& set, const std::vector<FoundTag>& tags)
{
    if (!set.markers || set.markers->field.empty()) {
        throw RegionsError("領域ファイルに圃場のマーカー（markers の field）がありません");
    }
    RegionSet out = set;
    out.markers->reference.clear();
    std::vector<int> missing;
    for (const int id : set.markers->field) {
        if (const FoundTag* found = tagById(tags, id)) {
            out.markers->reference[id] = found->corners;
        } else {
            missing.push_back(id);
        }
    }
    if (out.markers->reference.size() < 2) {
        throw RegionsError("圃場のマーカーが " + std::to_string(out.markers->reference.size())
                           + " 個しか見つかりません（2 個以上が必要です。見つからないマーカー: " + idList(missing) + "）");
    }
    return out;
}

GreyPicture greenOf(std::int64_t width, std::int64_t height, const std::function<const std::uint8_t*(std::int64_t)>& row)
{
    GreyPicture g;
    g.width = width;
    g.height = height;
    g.pixels.resize(static_cast<std::size_t>(width * height));
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* px = row(y) + 1;
        std::uint8_t* out = g.pixels.data() + y * width;
        for (std::int64_t x = 0; x < width; ++x) out[x] = px[3 * x];
    }
    return g;
}

GreyPicture greenOf(PictureReader& reader)
{
    GreyPicture g;
    g.width = reader.width();
    g.height = reader.height();
    g.pixels.resize(static_cast<std::size_t>(g.width * g.height));
    RowStream rows(reader, RowStream::Order::TopFirst, 0, g.height - 1);
    for (std::int64_t y = 0; y < g.height; ++y) {
        const std::uint8_t* px = rows.next() + 1;
        std::uint8_t* out = g.pixels.data() + y * g.width;
        for (std::int64_t x = 0; x < g.width; ++x) out[x] = px[3 * x];
    }
    return g;
}

}  // namespace engine
