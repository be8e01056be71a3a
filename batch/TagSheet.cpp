#include "batch/TagSheet.h"

#include "batch/Drawing.h"
#include "batch/PngWrite.h"
#include "batch/Runner.h"

#include "engine/output/OutputPath.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/Platform.h"
#include "engine/season/Markers.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";
// The tags' own white margins keep them apart; the gap only leaves room to cut.
constexpr double kMarginMm = 8;   // what most printers can reach
constexpr double kGapMm = 2;
constexpr double kLabelMm = 7;    // under each tag, for its number
constexpr double kFootMm = 14;    // the scale bar
constexpr double kTextMm = 5;

// A length in mm for the SVG: exact to a micrometre, without trailing zeros.
std::string mm(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string labelOf(int id)
{
    return "ID " + std::to_string(id);
}

// The black cells of a pattern as runs along its rows: x, y, length in cells.
struct Run {
    int x, y, length;
};
std::vector<Run> blackRuns(const engine::TagPattern& p)
{
    std::vector<Run> runs;
    for (int y = 0; y < p.side; ++y) {
        for (int x = 0; x < p.side;) {
            if (!p.black[static_cast<std::size_t>(y * p.side + x)]) {
                ++x;
                continue;
            }
            int end = x;
            while (end < p.side && p.black[static_cast<std::size_t>(y * p.side + end)]) ++end;
            runs.push_back({x, y, end - x});
            x = end;
        }
    }
    return runs;
}

}  // namespace

std::optional<SheetLayout> sheetLayout(std::size_t tags, double sizeMm, std::size_t& fit)
{
    SheetLayout layout;
    // The border's outer side is 8 of the pattern's 10 cells.
    const int side = engine::tagPattern(0).side;
    layout.patternMm = sizeMm * side / (side - 2);
    const double cellW = layout.patternMm + kGapMm;
    const double cellH = layout.patternMm + kLabelMm + kGapMm;
    const auto columns = static_cast<std::size_t>(std::floor((kSheetWidthMm - 2 * kMarginMm + kGapMm) / cellW));
    const auto rows = static_cast<std::size_t>(std::floor((kSheetHeightMm - 2 * kMarginMm - kFootMm + kGapMm) / cellH));
    fit = columns * rows;
    if (tags > fit) return std::nullopt;
    const double usedW = static_cast<double>(columns) * cellW - kGapMm;
    const double left = (kSheetWidthMm - usedW) / 2;
    for (std::size_t i = 0; i < tags; ++i) {
        layout.places.emplace_back(left + static_cast<double>(i % columns) * cellW,
                                   kMarginMm + static_cast<double>(i / columns) * cellH);
    }
    return layout;
}

std::string tagSheetSvg(const std::vector<int>& ids, double sizeMm, const SheetLayout& layout)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">\n"
                    "<rect x=\"0\" y=\"0\" width=\"210\" height=\"297\" fill=\"#fff\"/>\n";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const engine::TagPattern p = engine::tagPattern(ids[i]);
        const double cell = layout.patternMm / p.side;
        const auto [x0, y0] = layout.places[i];
        s += "<g class=\"tag\" id=\"tag-" + std::to_string(ids[i]) + "\" shape-rendering=\"crispEdges\" fill=\"#000\">\n";
        for (const Run& r : blackRuns(p)) {
            s += "<rect x=\"" + mm(x0 + r.x * cell) + "\" y=\"" + mm(y0 + r.y * cell) + "\" width=\"" + mm(r.length * cell)
                 + "\" height=\"" + mm(cell) + "\"/>\n";
        }
        s += "</g>\n";
        // The white margin's edge, faint, where to cut.
        s += "<rect x=\"" + mm(x0) + "\" y=\"" + mm(y0) + "\" width=\"" + mm(layout.patternMm) + "\" height=\""
             + mm(layout.patternMm) + "\" fill=\"none\" stroke=\"#bbb\" stroke-width=\"0.2\" stroke-dasharray=\"1 1\"/>\n";
        s += "<text x=\"" + mm(x0 + layout.patternMm / 2) + "\" y=\"" + mm(y0 + layout.patternMm + kTextMm)
             + "\" font-family=\"sans-serif\" font-size=\"" + mm(kTextMm) + "\" text-anchor=\"middle\">" + labelOf(ids[i])
             + " (" + mm(sizeMm) + " mm)</text>\n";
    }
    const double barY = kSheetHeightMm - kMarginMm - 6;
    s += "<g class=\"scale\"><rect x=\"" + mm(kMarginMm) + "\" y=\"" + mm(barY) + "\" width=\"" + mm(kScaleBarMm)
         + "\" height=\"2\" fill=\"#000\"/>\n";
    for (int k = 0; k <= 5; ++k) {
        s += "<rect x=\"" + mm(kMarginMm + k * kScaleBarMm / 5 - (k == 5 ? 0.3 : 0)) + "\" y=\"" + mm(barY - 2)
             + "\" width=\"0.3\" height=\"4\" fill=\"#000\"/>\n";
    }
    s += "<text x=\"" + mm(kMarginMm + kScaleBarMm + 3) + "\" y=\"" + mm(barY + 2) + "\" font-family=\"sans-serif\" font-size=\""
         + mm(kTextMm) + "\">" + mm(kScaleBarMm) + " mm</text></g>\n</svg>\n";
    return s;
}

std::vector<std::uint8_t> tagSheetPng(const std::vector<int>& ids, double sizeMm, const SheetLayout& layout)
{
    const double k = kSheetDpi / 25.4;  // pixels a mm
    const int width = static_cast<int>(std::lround(kSheetWidthMm * k));
    const int height = static_cast<int>(std::lround(kSheetHeightMm * k));
    RasterImage image(width, height, 1, 255);
    const Colour black{0, 0, 0};
    const Colour faint{187, 187, 187};
    const auto px = [&](double v) { return static_cast<int>(std::lround(v * k)); };
    const int textScale = std::max(1, px(kTextMm) / kGlyphHeight);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const engine::TagPattern p = engine::tagPattern(ids[i]);
        const double cell = layout.patternMm / p.side;
        const auto [x0, y0] = layout.places[i];
        for (const Run& r : blackRuns(p)) {
            fillBox(image, px(x0 + r.x * cell), px(y0 + r.y * cell), px(x0 + (r.x + r.length) * cell) - 1,
                    px(y0 + (r.y + 1) * cell) - 1, black);
        }
        // The white margin's edge, dotted, where to cut.
        const int a = px(x0), b = px(y0), c = px(x0 + layout.patternMm) - 1, d = px(y0 + layout.patternMm) - 1;
        for (int t = a; t <= c; t += 8) {
            fillBox(image, t, b, t + 3, b, faint);
            fillBox(image, t, d, t + 3, d, faint);
        }
        for (int t = b; t <= d; t += 8) {
            fillBox(image, a, t, a, t + 3, faint);
            fillBox(image, c, t, c, t + 3, faint);
        }
        const std::string text = labelOf(ids[i]) + " (" + mm(sizeMm) + " mm)";
        drawText(image, px(x0 + layout.patternMm / 2) - textWidth(text, textScale) / 2, px(y0 + layout.patternMm + 0.5), text,
                 textScale, black);
    }
    const double barY = kSheetHeightMm - kMarginMm - 6;
    fillBox(image, px(kMarginMm), px(barY), px(kMarginMm + kScaleBarMm) - 1, px(barY + 2) - 1, black);
    for (int t = 0; t <= 5; ++t) {
        const int x = px(kMarginMm + t * kScaleBarMm / 5) - (t == 5 ? 4 : 0);
        fillBox(image, x, px(barY - 2), x + 3, px(barY + 2) - 1, black);
    }
    drawText(image, px(kMarginMm + kScaleBarMm + 3), px(barY - 1.5), mm(kScaleBarMm) + " mm", textScale, black);
    return encodePng(image, kSheetDpi);
}

int runTags(const Options& options, std::ostream& out, std::ostream& err)
{
    const std::string& output = *options.output;
    std::error_code ec;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(output), ec))) {
        err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
        err << "  " << output << '\n';
        return kBadUsage;
    }
    std::size_t fit = 0;
    const auto layout = sheetLayout(options.tagIds.size(), options.tagSizeMm, fit);
    if (!layout) {
        if (fit == 0) return badUsage(err, "一辺 " + mm(options.tagSizeMm) + " mm のマーカーは A4 の用紙に収まりません");
        return badUsage(err, "一辺 " + mm(options.tagSizeMm) + " mm のマーカーは A4 の用紙 1 枚に " + std::to_string(fit)
                                 + " 個までです（指定は " + std::to_string(options.tagIds.size())
                                 + " 個）。--ids を分けて、何枚かに印刷してください");
    }
    std::string extension = output.size() >= 4 ? output.substr(output.size() - 4) : "";
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool png = extension == ".png";
    try {
        if (png) {
            const std::vector<std::uint8_t> bytes = tagSheetPng(options.tagIds, options.tagSizeMm, *layout);
            if (bytes.empty()) {
                err << output << ": 画像を作れませんでした\n";
                return kSomeFailed;
            }
            engine::writeWholeFile(output, bytes);
        } else {
            engine::writeWholeFile(output, tagSheetSvg(options.tagIds, options.tagSizeMm, *layout));
        }
    } catch (const engine::EngineError& e) {
        std::string text = e.what();
        for (std::size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, ": ");
        err << text << '\n';
        return kSomeFailed;
    }
    out << "マーカー " << options.tagIds.size() << " 個（黒い枠の外側の一辺 " << mm(options.tagSizeMm) << " mm）を "
        << output << " に書きました。印刷は「実際のサイズ」（拡大縮小なし）で行い、" << mm(kScaleBarMm)
        << " mm の目盛りを定規で確かめてください\n";
    return kAllSucceeded;
}

}  // namespace batch
