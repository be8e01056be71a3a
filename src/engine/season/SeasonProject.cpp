#include "engine/season/SeasonProject.h"

#include "engine/formats/ShortestText.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"
#include "engine/season/Season.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace engine {

namespace {

using Json = nlohmann::json;

// A project is a few kilobytes; its regions file's limit holds for it too.
constexpr std::size_t kMaxProjectBytes = std::size_t{16} << 20;

struct Problem {
    std::string text;
};

std::optional<std::array<double, 2>> pairOf(const Json& root, const char* key)
{
    const auto it = root.find(key);
    if (it == root.end() || it->is_null()) return std::nullopt;
    const std::string shape = std::string(key) + " は 0 から 1 までの数二つ [NIR, Red] でなければなりません";
    if (!it->is_array() || it->size() != 2) throw Problem{shape};
    std::array<double, 2> v{};
    for (std::size_t i = 0; i < 2; ++i) {
        if (!(*it)[i].is_number()) throw Problem{shape};
        v[i] = (*it)[i].get<double>();
        if (!(v[i] >= 0 && v[i] <= 1)) throw Problem{shape};
    }
    return v;
}

std::optional<std::string> textOf(const Json& root, const char* key)
{
    const auto it = root.find(key);
    if (it == root.end() || it->is_null()) return std::nullopt;
    if (!it->is_string() || it->get<std::string>().empty()) throw Problem{std::string(key) + " は空でない文字列でなければなりません"};
    return it->get<std::string>();
}

std::string dumped(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

SeasonProject parseSeasonProject(std::string_view json, const std::string& path)
{
    const auto fail = [&](const std::string& problem) { throw SeasonProjectError(path + ": " + problem); };
    Json root;
    try {
        root = Json::parse(json.begin(), json.end());
    } catch (const Json::exception&) {
        fail("プロジェクトファイルが JSON として正しくありません");
    }
    if (!root.is_object()) fail("プロジェクトファイルではありません（JSON のオブジェクトではありません）");
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || format->get<std::string>() != kProjectFormat) {
        fail(std::string("プロジェクトファイルではありません（format が ") + kProjectFormat + " ではありません）");
    }
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer()) fail("プロジェクトファイルに version がありません");
    if (version->get<std::int64_t>() > kProjectVersion) {
        fail("新しい版 (" + std::to_string(version->get<std::int64_t>()) + ") のプロジェクトファイルです。zrvimage を新しくしてください");
    }
    if (version->get<std::int64_t>() != kProjectVersion) fail("プロジェクトファイルの version が正しくありません");
    SeasonProject p;
    try {
        const auto frames = textOf(root, "frames");
        if (!frames) throw Problem{"frames（フレームのフォルダー）がありません"};
        p.frames = *frames;
        p.time = textOf(root, "time");
        if (p.time && !TimeSource::byText(*p.time)) {
            throw Problem{"time には mtime か name:PATTERN（%Y %m %d %H %M %S %% から成り、%Y %m %d を含む形）を指定してください"};
        }
        if (const auto from = textOf(root, "white_from")) {
            p.whiteFrom = whiteFromByName(*from);
            if (!p.whiteFrom) throw Problem{"white_from には max、mean、p99 のいずれかを指定してください"};
        }
        p.panelReflectance = pairOf(root, "panel_reflectance");
        p.darkReflectance = pairOf(root, "dark_reflectance");
        const auto calibration = root.find("calibration");
        if (calibration != root.end() && !calibration->is_null()) {
            if (!calibration->is_object()) throw Problem{"calibration は較正ファイルの内容（JSON のオブジェクト）でなければなりません"};
            p.calibration = dumped(*calibration);
        }
        p.flatfield = textOf(root, "flatfield");
        if (const auto index = textOf(root, "index")) {
            auto parsed = parseVegetationIndex(*index);
            if (const auto* problem = std::get_if<std::string>(&parsed)) throw Problem{"index: " + *problem};
            p.index = std::get<VegetationIndex>(parsed);
        }
    } catch (const Problem& problem) {
        fail(problem.text);
    }
    const auto regions = root.find("regions");
    if (regions == root.end() || !regions->is_object()) fail("regions（領域ファイルの内容）がありません");
    try {
        p.regions = parseRegions(dumped(*regions), "");
    } catch (const RegionsError& e) {
        fail(std::string("regions: ") + e.what());
    }
    return p;
}

SeasonProject readSeasonProject(const std::string& path)
{
    std::ifstream in(platform::pathOf(path), std::ios::binary);
    if (!in) throw SeasonProjectError(path + ": プロジェクトファイルを開けません");
    std::string text;
    char chunk[16384];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxProjectBytes) throw SeasonProjectError(path + ": プロジェクトファイルが大きすぎます（16 MiB まで）");
    }
    if (in.bad()) throw SeasonProjectError(path + ": プロジェクトファイルの読み込みに失敗しました");
    return parseSeasonProject(text, path);
}

std::string seasonProjectJson(const SeasonProject& p)
{
    const auto pair = [](const std::array<double, 2>& v) { return "[" + shortestText(v[0]) + ", " + shortestText(v[1]) + "]"; };
    std::string text = std::string("{\"format\": \"") + kProjectFormat + "\", \"version\": " + std::to_string(kProjectVersion) + ",\n";
    text += " \"frames\": " + dumped(Json(p.frames)) + ",\n";
    if (p.time) text += " \"time\": " + dumped(Json(*p.time)) + ",\n";
    if (p.whiteFrom) text += std::string(" \"white_from\": \"") + whiteFromName(*p.whiteFrom) + "\",\n";
    if (p.panelReflectance) text += " \"panel_reflectance\": " + pair(*p.panelReflectance) + ",\n";
    if (p.darkReflectance) text += " \"dark_reflectance\": " + pair(*p.darkReflectance) + ",\n";
    if (p.calibration) text += " \"calibration\": " + *p.calibration + ",\n";
    if (p.flatfield) text += " \"flatfield\": " + dumped(Json(*p.flatfield)) + ",\n";
    if (p.index) text += " \"index\": " + dumped(Json(p.index->text())) + ",\n";
    // The regions as a regions file writes them, one a line.
    std::string regions = regionsJson(p.regions);
    while (!regions.empty() && regions.back() == '\n') regions.pop_back();
    text += " \"regions\": " + regions + "\n}\n";
    return text;
}

void writeSeasonProject(const std::string& path, const SeasonProject& project)
{
    writeWholeFile(path, seasonProjectJson(project));
}

std::string projectPath(const std::string& projectFile, const std::string& written)
{
    const std::filesystem::path given = platform::pathOf(written);
    if (given.is_absolute()) return written;
    return platform::utf8Of(platform::pathOf(projectFile).parent_path() / given);
}

std::vector<std::string> projectFrames(const std::string& projectFile, const SeasonProject& project)
{
    const std::string folder = projectPath(projectFile, project.frames);
    std::vector<std::string> frames;
    std::error_code ec;
    std::filesystem::directory_iterator it(platform::pathOf(folder), ec);
    if (ec) throw SeasonProjectError(projectFile + ": フレームのフォルダーを読めません: " + folder);
    for (const auto& entry : it) {
        std::string name = platform::utf8Of(entry.path().filename());
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower.size() > 4 && lower.ends_with(".bmp") && !entry.is_directory(ec)) {
            frames.push_back(platform::utf8Of(entry.path()));
        }
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

}  // namespace engine
