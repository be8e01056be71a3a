#include "batch/CommandLine.h"

#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "engine/formats/NumberPair.h"
#include "engine/formats/ShortestText.h"
#include "engine/season/Regions.h"
#include "engine/season/SeasonProject.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"
#include "runtime/IntegerConversion.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <string_view>
#include <tuple>

namespace batch {

namespace {

enum : unsigned {
    kCrop = 1, kMaxima = 2, kNdvi = 4, kCalibrate = 8, kSeries = 16, kFlatField = 32, kAnchor = 64, kTags = 128,
    kPhenology = 256
};

struct OptionRule {
    std::string_view name;
    bool takesValue;
    unsigned commands;  // the subcommands that accept it
};

constexpr OptionRule kOptions[] = {
    {"-o", true, kCrop | kNdvi | kCalibrate | kFlatField | kAnchor | kTags | kPhenology}, {"--out-dir", true, kCrop | kNdvi},
    {"--rect", true, kMaxima},            {"--nir-white", true, kNdvi | kSeries},
    {"--red-white", true, kNdvi | kSeries}, {"--envi-header", false, kNdvi},
    {"--preview", true, kNdvi},           {"--preview-dir", true, kNdvi},
    {"--stats", false, kNdvi},            {"--json", false, kMaxima | kNdvi | kSeries | kFlatField},
    {"--force", false, kCrop | kNdvi | kCalibrate | kSeries | kFlatField | kAnchor | kTags | kPhenology}, {"-j", true, kCrop | kMaxima | kNdvi | kSeries},
    {"--panel-reflectance", true, kNdvi | kCalibrate | kSeries}, {"--dark", true, kNdvi},
    {"--dark-reflectance", true, kNdvi | kCalibrate | kSeries}, {"--tiff", false, kNdvi},
    {"--tiff-level", true, kNdvi},
    {"--calibration", true, kNdvi | kSeries}, {"--white-rect", true, kCalibrate},
    {"--white-from", true, kNdvi | kCalibrate | kSeries}, {"--dark-rect", true, kCalibrate},
    {"--strict", false, kCalibrate | kSeries},      {"--regions", true, kNdvi | kCalibrate | kSeries | kAnchor},
    {"--csv", true, kSeries},             {"--time", true, kSeries},
    {"--flatfield", true, kNdvi | kCalibrate | kSeries}, {"--dark-frame", true, kFlatField},
    {"--overlay-dir", true, kSeries},     {"--ids", true, kTags},
    {"--size-mm", true, kTags},           {"--project", true, kSeries},
    {"--index-column", true, kPhenology}, {"--png", true, kPhenology},
    {"--index", true, kNdvi | kSeries},
};

const OptionRule* findOption(std::string_view name)
{
    for (const auto& rule : kOptions) {
        if (rule.name == name) return &rule;
    }
    return nullptr;
}

// The window's conversion and its error-box text, for a number typed on the command line.
std::optional<UsageError> checkInteger(const std::string& text, std::int32_t* value = nullptr)
{
    try {
        const std::int32_t v = runtime::strToInt(text);
        if (value) *value = v;
        return std::nullopt;
    } catch (const runtime::EConvertError& e) {
        return UsageError{runtime::errorBoxText(e.message())};
    }
}

std::vector<std::string> splitAtCommas(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// The NIR and red values of a "NIR,RED" option, each read by readOne.
template <typename T, typename Read>
std::optional<UsageError> readPair(const char* name, const std::string& text, T& nir, T& red, Read readOne)
{
    const auto pair = engine::splitPair(text);
    if (!pair) return UsageError{std::string(name) + " は NIR,RED の形で指定してください"};
    if (auto error = readOne(pair->nir, nir)) return error;
    return readOne(pair->red, red);
}

// A reflectance option's reader for readPair.
auto reflectanceReader(const char* name)
{
    return [name](std::string_view text, float& r) -> std::optional<UsageError> {
        const auto number = engine::reflectance(text);
        if (!number) return UsageError{std::string(name) + " の '" + std::string(text) + "' は小数ではありません（例: 0.92）"};
        r = *number;
        return std::nullopt;
    };
}

// --panel-reflectance and --dark-reflectance into the model.
template <typename Value>
std::optional<UsageError> readReflectances(engine::NdviModel& m, const Value& value)
{
    if (const auto panel = value("--panel-reflectance")) {
        if (auto error = readPair("--panel-reflectance", *panel, m.nir.rWhite, m.red.rWhite,
                                  reflectanceReader("--panel-reflectance"))) {
            return error;
        }
    }
    if (const auto darkReflectance = value("--dark-reflectance")) {
        if (auto error = readPair("--dark-reflectance", *darkReflectance, m.nir.rDark, m.red.rDark,
                                  reflectanceReader("--dark-reflectance"))) {
            return error;
        }
    }
    return std::nullopt;
}

// The calibration model from the white values and the panel and dark target options;
// a model the engine would refuse is bad usage, with the engine's words.
template <typename Value>
std::optional<UsageError> readModel(Options& o, const Value& value)
{
    engine::NdviModel& m = o.model;
    m = engine::NdviModel::plain(static_cast<float>(o.nirWhite), static_cast<float>(o.redWhite));
    const auto dark = value("--dark");
    if (value("--dark-reflectance") && !dark) return UsageError{"--dark-reflectance は --dark と一緒に指定してください"};
    if (dark) {
        const auto byte = [](std::string_view text, float& dn) -> std::optional<UsageError> {
            // A dark value is a mean and may have a fraction, as calibrate writes it
            // ("10.5"): read straight into a float, as the calibration file is, so that
            // both give the same model.
            if (text.find('.') != std::string_view::npos) {
                float f = 0;
                const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), f, std::chars_format::fixed);
                const bool digitsOnly = text.find_first_not_of("0123456789.") == std::string_view::npos;
                if (ec != std::errc() || end != text.data() + text.size() || !digitsOnly || !std::isfinite(f)) {
                    return UsageError{"--dark の '" + std::string(text) + "' は数ではありません（例: 12 や 10.5）"};
                }
                dn = f;
                return std::nullopt;
            }
            // Decimal only, unlike the window's fields: the same rule as the viewer's.
            const auto v = engine::decimalInteger(text);
            if (!v) return UsageError{runtime::errorBoxText(runtime::notAnIntegerMessage(text))};
            // A byte is never below 0; a dark value above the white one is the
            // model's to refuse, with the band named.
            if (*v < 0) return UsageError{"--dark には 0 以上の整数を指定してください"};
            dn = static_cast<float>(*v);
            return std::nullopt;
        };
        if (auto error = readPair("--dark", *dark, m.nir.dnDark, m.red.dnDark, byte)) return error;
    }
    if (auto error = readReflectances(m, value)) return error;
    if (auto problem = engine::modelProblem(m)) return UsageError{*problem};
    return std::nullopt;
}

// The model of a calibration file, which stands for every option that makes one.
template <typename Value>
std::optional<UsageError> readCalibration(Options& o, const std::string& path, const Value& value)
{
    for (const char* name : {"--nir-white", "--red-white", "--panel-reflectance", "--dark", "--dark-reflectance"}) {
        if (value(name)) return UsageError{std::string("--calibration は ") + name + " と同時に使えません（較正ファイルに値があります）"};
    }
    std::string madeThrough;
    try {
        const engine::CalibrationRecord record =
            o.projectCalibration ? engine::parseCalibration(*o.projectCalibration, path) : engine::readCalibrationFile(path);
        o.model = record.model;
        madeThrough = record.source.flatfield;
    } catch (const engine::CalibrationFileError& e) {
        return UsageError{"--calibration " + e.path() + ": " + e.problem()};
    }
    // Its white and dark values are of corrected bytes: on bytes left as they are, they
    // would give every reflectance wrong.
    if (!madeThrough.empty() && !value("--flatfield")) {
        return UsageError{"--calibration " + path + ": 周辺減光補正 (" + madeThrough
                          + ") をして作られた較正ファイルです。--flatfield で同じ補正を指定してください"};
    }
    o.calibration = path;
    o.nirWhite = static_cast<std::int32_t>(o.model.nir.dnWhite);
    o.redWhite = static_cast<std::int32_t>(o.model.red.dnWhite);
    return std::nullopt;
}

// A rectangle option, X1,Y1,X2,Y2 with the window's integer rules.
std::optional<UsageError> readRectangle(const char* name, const std::string& text, std::array<std::int32_t, 4>& rect)
{
    const auto parts = splitAtCommas(text);
    if (parts.size() != 4) return UsageError{std::string(name) + " は X1,Y1,X2,Y2 の形で指定してください"};
    for (std::size_t i = 0; i < 4; ++i) {
        if (auto error = checkInteger(parts[i], &rect[i])) return *error;
    }
    return std::nullopt;
}

// calibrate's rectangles: upright and not left of or above the picture; whether they
// fit inside it is the frame's to tell.
std::optional<UsageError> readPanelRectangle(const char* name, const std::string& text, engine::Rectangle& rect)
{
    std::array<std::int32_t, 4> c{};
    if (auto error = readRectangle(name, text, c)) return error;
    if (c[0] < 0 || c[1] < 0 || c[0] > c[2] || c[1] > c[3]) {
        return UsageError{std::string(name) + " には 0 以上で X1 <= X2、Y1 <= Y2 の座標を指定してください"};
    }
    rect = {c[0], c[1], c[2], c[3]};
    return std::nullopt;
}

// --white-from's choice.
template <typename Value>
std::optional<UsageError> readWhiteFrom(Options& o, const Value& value)
{
    if (const auto from = value("--white-from")) {
        const auto chosen = engine::whiteFromByName(*from);
        if (!chosen) return UsageError{"--white-from には max、mean、p99 のいずれかを指定してください"};
        o.whiteFrom = *chosen;
    }
    return std::nullopt;
}

// series: the regions file and the table, and how the frames are calibrated: one
// fixed model, or each frame by its own panel with only the reflectances given here.
template <typename Value>
std::optional<UsageError> readSeries(Options& o, const Value& value)
{
    const auto regions = value("--regions");
    if (!regions) return UsageError{"--regions で領域ファイルを指定してください"};
    const auto csv = value("--csv");
    if (!csv) return UsageError{"--csv で出力する CSV ファイルを指定してください"};
    o.regions = *regions;
    o.csv = *csv;
    if (const auto time = value("--time")) {
        const auto source = engine::TimeSource::byText(*time);
        if (!source) {
            return UsageError{"--time には mtime か name:PATTERN（%Y %m %d %H %M %S %% から成り、%Y %m %d を含む形）を指定してください"};
        }
        o.time = *source;
    }
    const auto calibration = value("--calibration");
    const auto nir = value("--nir-white");
    const auto red = value("--red-white");
    if (calibration || nir || red) {
        // The frames' own panels are not read: what says how to read them has no use.
        for (const char* name : {"--white-from", "--dark-reflectance"}) {
            if (value(name)) return UsageError{std::string(name) + " は白色板の領域から較正するときだけ使えます（--calibration、--nir-white、--red-white とは同時に使えません）"};
        }
        o.fixedCalibration = true;
        if (calibration) return readCalibration(o, *calibration, value);
        if (!nir || !red) return UsageError{"--nir-white と --red-white を指定してください"};
        for (const auto& [name, text, white] : {std::tuple{"--nir-white", nir, &o.nirWhite},
                                                std::tuple{"--red-white", red, &o.redWhite}}) {
            if (auto error = checkInteger(*text, white)) return *error;
            if (*white < 1) return UsageError{std::string(name) + " には 1 以上の整数を指定してください"};
        }
        return readModel(o, value);
    }
    if (auto error = readWhiteFrom(o, value)) return error;
    if (auto error = readReflectances(o.model, value)) return error;
    // As for calibrate: the bytes are each frame's to give.
    for (engine::BandCalibration* band : {&o.model.nir, &o.model.red}) {
        band->dnWhite = 255;
        band->dnDark = 0;
    }
    if (auto problem = engine::modelProblem(o.model)) return UsageError{*problem};
    return std::nullopt;
}

// ndvi's and calibrate's --regions: the white (and dark) region of the file, which the
// season's own reading of a frame's panel then places and reads on every frame.
std::optional<UsageError> readPanelRegions(Options& o, const std::string& path)
{
    engine::RegionSet file;
    try {
        file = engine::readRegionsFile(path);
    } catch (const engine::RegionsError& e) {
        return UsageError{e.what()};
    }
    const engine::Region* white = file.white();
    if (!white) return UsageError{"--regions " + path + ": 白色板の領域（role が white）がありません"};
    engine::RegionSet set;
    set.markers = file.markers;
    set.regions.push_back(*white);
    if (const engine::Region* dark = file.dark()) set.regions.push_back(*dark);
    // A season measures at least one plot; the white region's own place stands in, so
    // that it needs no tag the white region does not need. Last, so that a panel off the
    // frame is told by its own name.
    engine::Region stand = *white;
    stand.role = engine::RegionRole::Plot;
    stand.name = white->name + "#";
    set.regions.push_back(std::move(stand));
    o.panelRegions = path;
    o.panelSet = std::make_shared<const engine::RegionSet>(std::move(set));
    return std::nullopt;
}

// --ids: ids and ranges A-B, comma-separated, each id of the family once.
std::optional<UsageError> readTagIds(const std::string& text, std::vector<int>& ids)
{
    const auto number = [](std::string_view t) -> std::optional<int> {
        if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        int v = 0;
        std::from_chars(t.data(), t.data() + t.size(), v);
        return v;
    };
    const UsageError wrong{"--ids は 0-3,7 のように番号と範囲をコンマで区切って指定してください"};
    for (const std::string& part : splitAtCommas(text)) {
        const auto dash = part.find('-');
        const auto first = number(std::string_view(part).substr(0, dash));
        const auto last = dash == std::string::npos ? first : number(std::string_view(part).substr(dash + 1));
        if (!first || !last || *first > *last) return wrong;
        if (*last >= engine::kTagFamilySize) {
            return UsageError{"--ids の番号は 0 から " + std::to_string(engine::kTagFamilySize - 1) + " までです: " + part};
        }
        for (int id = *first; id <= *last; ++id) {
            if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
                return UsageError{"--ids に番号 " + std::to_string(id) + " が二度あります"};
            }
            ids.push_back(id);
        }
    }
    return std::nullopt;
}

// tags: what to print, how large, and into which kind of file.
template <typename Value>
std::optional<UsageError> readTags(Options& o, const std::vector<std::string>& inputs, const Value& value)
{
    if (!inputs.empty()) return UsageError{"tags は入力ファイルを取りません: " + inputs.front()};
    if (!o.output) return UsageError{"-o で出力するシート（.svg か .png）を指定してください"};
    std::string extension = o.output->size() >= 4 ? o.output->substr(o.output->size() - 4) : "";
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".svg" && extension != ".png") return UsageError{"-o のファイル名は .svg か .png で終えてください"};
    const auto ids = value("--ids");
    if (!ids) return UsageError{"--ids で印刷するマーカーの番号を指定してください（例: 0-3,7）"};
    if (auto error = readTagIds(*ids, o.tagIds)) return error;
    const auto size = value("--size-mm");
    if (!size) return UsageError{"--size-mm でマーカーの黒い枠の外側の一辺 (mm) を指定してください"};
    double mm = 0;
    const auto [end, ec] = std::from_chars(size->data(), size->data() + size->size(), mm, std::chars_format::fixed);
    if (ec != std::errc() || end != size->data() + size->size() || !std::isfinite(mm) || mm <= 0 || mm > 1000) {
        return UsageError{"--size-mm には 0 より大きい mm の数を指定してください（例: 60）"};
    }
    o.tagSizeMm = mm;
    return std::nullopt;
}

// What a season project gives beyond the options it stands for.
struct ProjectParts {
    std::shared_ptr<const engine::RegionSet> regions;
    std::optional<std::string> calibration;  // a calibration file's text
};

// series --project: the project stands for the frames and every option that says what
// the season is, which are then read exactly as if given, so that the table is the
// same; those options given as well would contradict it.
std::optional<UsageError> expandProject(std::vector<std::string>& inputs, std::map<std::string, std::string>& given,
                                        ProjectParts& parts)
{
    const std::string path = given["--project"];
    if (!inputs.empty()) return UsageError{"--project はフレームを取りません（プロジェクトの frames のフォルダーのフレームを使います）: " + inputs.front()};
    for (const char* name : {"--regions", "--time", "--calibration", "--nir-white", "--red-white", "--panel-reflectance",
                             "--dark-reflectance", "--white-from", "--flatfield", "--index"}) {
        if (given.count(name)) return UsageError{std::string("--project は ") + name + " と同時に使えません（プロジェクトファイルに値があります）"};
    }
    engine::SeasonProject project;
    try {
        project = engine::readSeasonProject(path);
        inputs = engine::projectFrames(path, project);
    } catch (const engine::SeasonProjectError& e) {
        return UsageError{e.what()};
    }
    if (inputs.empty()) {
        return UsageError{path + ": フレームのフォルダーに BMP ファイルがありません: " + engine::projectPath(path, project.frames)};
    }
    // The project file stands for the regions file: named in messages, never written over.
    given["--regions"] = path;
    parts.regions = std::make_shared<const engine::RegionSet>(std::move(project.regions));
    if (project.time) given["--time"] = *project.time;
    if (project.whiteFrom) given["--white-from"] = engine::whiteFromName(*project.whiteFrom);
    // A reflectance's shortest text is the decimal the file holds: read as the option's
    // text, it becomes the same float.
    const auto pair = [](const std::array<double, 2>& v) { return engine::shortestText(v[0]) + "," + engine::shortestText(v[1]); };
    if (project.panelReflectance) given["--panel-reflectance"] = pair(*project.panelReflectance);
    if (project.darkReflectance) given["--dark-reflectance"] = pair(*project.darkReflectance);
    if (project.flatfield) given["--flatfield"] = engine::projectPath(path, *project.flatfield);
    if (project.index) given["--index"] = project.index->text();
    if (project.calibration) {
        given["--calibration"] = path;
        parts.calibration = project.calibration;
    }
    return std::nullopt;
}

// Fills the options of one subcommand from the parsed names and values.
ParseResult buildOptions(Command command, std::vector<std::string> inputs, std::map<std::string, std::string> given,
                         const std::optional<ProjectParts>& project = std::nullopt)
{
    Options o;
    o.command = command;
    if (project) {
        o.project = given["--project"];
        o.regionSet = project->regions;
        o.projectCalibration = project->calibration;
    }
    o.inputs = std::move(inputs);
    const auto value = [&](const char* name) -> std::optional<std::string> {
        const auto it = given.find(name);
        if (it == given.end()) return std::nullopt;
        return it->second;
    };
    o.output = value("-o");
    o.outDir = value("--out-dir");
    o.preview = value("--preview");
    o.previewDir = value("--preview-dir");
    o.enviHeader = given.count("--envi-header") != 0;
    o.stats = given.count("--stats") != 0;
    o.json = given.count("--json") != 0;
    o.force = given.count("--force") != 0;
    o.tiff = given.count("--tiff") != 0;

    if (command == Command::Tags) {
        if (auto error = readTags(o, o.inputs, value)) return *error;
        return o;
    }
    if (o.inputs.empty()) return UsageError{"入力ファイルを指定してください"};
    if (command == Command::Phenology) {
        if (!o.output) return UsageError{"-o で書き出す日付の表 (CSV) を指定してください"};
        if (const auto column = value("--index-column")) {
            if (column->empty()) return UsageError{"--index-column には季節表の列名（例: ndvi_mean）を指定してください"};
            o.indexColumn = *column;
        }
        o.pngDir = value("--png");
        return o;
    }
    if (command == Command::Anchor) {
        if (o.inputs.size() > 1) return UsageError{"anchor の入力ファイルは一つ（基準フレーム）だけです"};
        const auto regions = value("--regions");
        if (!regions) return UsageError{"--regions で領域ファイルを指定してください"};
        if (!o.output) return UsageError{"-o で書き出す領域ファイルを指定してください"};
        o.regions = *regions;
        return o;
    }
    o.overlayDir = value("--overlay-dir");
    if (command == Command::FlatField) {
        if (!o.output) return UsageError{"-o で周辺減光補正ファイル (TIFF) を指定してください"};
        o.darkFrame = value("--dark-frame");
    }
    if (const auto flat = value("--flatfield")) {
        try {
            o.flatField = std::make_shared<const engine::FlatField>(engine::FlatField::read(*flat));
        } catch (const engine::FlatFieldError& e) {
            return UsageError{"--flatfield " + e.path() + ": " + e.problem()};
        }
    }
    if (command == Command::Calibrate && !o.output) return UsageError{"-o で較正ファイルを指定してください"};
    if (command == Command::Crop || command == Command::Ndvi) {
        if (o.output.has_value() == o.outDir.has_value()) return UsageError{"-o か --out-dir のどちらか一つを指定してください"};
        if (o.output && o.inputs.size() > 1) {
            return UsageError{"-o は入力ファイルが一つのときだけ使えます（複数のときは --out-dir）"};
        }
    }
    if (o.preview && o.previewDir) return UsageError{"--preview と --preview-dir は同時に使えません"};
    if (o.preview && o.inputs.size() > 1) {
        return UsageError{"--preview は入力ファイルが一つのときだけ使えます（複数のときは --preview-dir）"};
    }
    if (command == Command::Maxima) {
        const auto rect = value("--rect");
        if (!rect) return UsageError{"--rect X1,Y1,X2,Y2 を指定してください"};
        if (auto error = readRectangle("--rect", *rect, o.rect)) return *error;
    }
    if (command == Command::Calibrate) {
        if (o.inputs.size() > 1) return UsageError{"calibrate の入力ファイルは一つだけです"};
        const auto white = value("--white-rect");
        const auto regions = value("--regions");
        if (white && regions) return UsageError{"--white-rect と --regions は同時に使えません"};
        if (regions) {
            if (value("--dark-rect")) return UsageError{"--dark-rect は --regions と同時に使えません（暗色板は領域ファイルの role が dark の領域です）"};
            if (auto error = readPanelRegions(o, *regions)) return *error;
            if (value("--dark-reflectance") && !o.panelSet->dark()) {
                return UsageError{"--dark-reflectance は領域ファイルに暗色板の領域（role が dark）があるときだけ使えます"};
            }
        } else {
            if (!white) return UsageError{"--white-rect X1,Y1,X2,Y2 を指定してください"};
            if (auto error = readPanelRectangle("--white-rect", *white, o.whiteRect)) return *error;
            if (const auto dark = value("--dark-rect")) {
                if (auto error = readPanelRectangle("--dark-rect", *dark, o.darkRect.emplace())) return *error;
            }
            if (value("--dark-reflectance") && !o.darkRect) {
                return UsageError{"--dark-reflectance は --dark-rect と一緒に指定してください"};
            }
        }
        if (auto error = readWhiteFrom(o, value)) return *error;
        o.strict = given.count("--strict") != 0;
        if (auto error = readReflectances(o.model, value)) return *error;
        // The bytes are the frame's to give; the reflectances alone must already be
        // of a model: within 0..1 and the panel's above the dark target's.
        for (engine::BandCalibration* band : {&o.model.nir, &o.model.red}) {
            band->dnWhite = 255;
            band->dnDark = 0;
        }
        if (auto problem = engine::modelProblem(o.model)) return UsageError{*problem};
    }
    if (command == Command::Ndvi) {
        const auto calibration = value("--calibration");
        const auto nir = value("--nir-white");
        const auto red = value("--red-white");
        const auto regions = value("--regions");
        if (!regions && value("--white-from")) return UsageError{"ndvi の --white-from は --regions と一緒に指定してください"};
        if (!calibration && !regions && (!nir || !red)) {
            return UsageError{"--nir-white と --red-white を指定してください"};
        }
        // A white value of 0 or less gives no usable raster (0 is a division by zero
        // at the first pixel), so it is refused before any output is touched.
        for (const auto& [name, text, white] : {std::tuple{"--nir-white", nir, &o.nirWhite},
                                                std::tuple{"--red-white", red, &o.redWhite}}) {
            if (!text || calibration) continue;  // the conflict is told below
            if (auto error = checkInteger(*text, white)) return *error;
            if (*white < 1) return UsageError{std::string(name) + " には 1 以上の整数を指定してください"};
        }
        if (o.tiff && o.enviHeader) {
            return UsageError{"--envi-header は --tiff と同時に使えません（TIFF ファイルには ENVI ヘッダが要りません）"};
        }
        if (const auto level = value("--tiff-level")) {
            if (!o.tiff) return UsageError{"--tiff-level は --tiff と一緒に指定してください"};
            std::int32_t n = 0;
            if (auto error = checkInteger(*level, &n)) return *error;
            if (n < engine::kMinTiffLevel || n > engine::kMaxTiffLevel) {
                return UsageError{"--tiff-level には 1 から 12 の整数を指定してください"};
            }
            o.tiffLevel = n;
        }
        if (regions) {
            // Each frame's own panel gives its white and dark values.
            for (const char* name : {"--calibration", "--nir-white", "--red-white", "--dark"}) {
                if (value(name)) return UsageError{std::string("--regions は ") + name + " と同時に使えません（白色板の値は各フレームの白色板から読みます）"};
            }
            if (auto error = readPanelRegions(o, *regions)) return *error;
            if (auto error = readWhiteFrom(o, value)) return *error;
            if (auto error = readReflectances(o.model, value)) return *error;
            if (value("--dark-reflectance") && !o.panelSet->dark()) {
                return UsageError{"--dark-reflectance は領域ファイルに暗色板の領域（role が dark）があるときだけ使えます"};
            }
            for (engine::BandCalibration* band : {&o.model.nir, &o.model.red}) {
                band->dnWhite = 255;
                band->dnDark = 0;
            }
            if (auto problem = engine::modelProblem(o.model)) return UsageError{*problem};
        } else if (auto error = calibration ? readCalibration(o, *calibration, value) : readModel(o, value)) {
            return *error;
        }
    }
    if (const auto index = value("--index")) {
        auto parsed = engine::parseVegetationIndex(*index);
        if (const auto* problem = std::get_if<std::string>(&parsed)) return UsageError{"--index: " + *problem};
        o.index = std::get<engine::VegetationIndex>(parsed);
        o.indexGiven = true;
        // The preview's colours and bar are NDVI's -1..+1; another index's picture
        // would show its values on the wrong scale.
        if (!o.index.isNdvi() && (o.preview || o.previewDir)) {
            return UsageError{std::string(o.preview ? "--preview" : "--preview-dir") +
                              " のカラー画像は NDVI だけです（--index " + *index + " とは同時に使えません）"};
        }
    }
    if (command == Command::Series) {
        if (auto error = readSeries(o, value)) return *error;
        o.strict = given.count("--strict") != 0;
    }
    if (const auto jobs = value("-j")) {
        std::int32_t n = 0;
        if (auto error = checkInteger(*jobs, &n)) return *error;
        if (n < 1) return UsageError{"-j には 1 以上の整数を指定してください"};
        o.jobs = n;
    }
    return o;
}

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args)
{
    for (const auto& arg : args) {
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") return HelpRequest{};
    }
    if (args.empty()) {
        return UsageError{"サブコマンドを指定してください（crop、maxima、ndvi、calibrate、series、flatfield、anchor、tags、phenology）"};
    }

    const std::map<std::string_view, std::pair<Command, unsigned>> commands = {
        {"crop", {Command::Crop, kCrop}}, {"maxima", {Command::Maxima, kMaxima}}, {"ndvi", {Command::Ndvi, kNdvi}},
        {"calibrate", {Command::Calibrate, kCalibrate}},
        {"series", {Command::Series, kSeries}}, {"flatfield", {Command::FlatField, kFlatField}},
        {"anchor", {Command::Anchor, kAnchor}}, {"tags", {Command::Tags, kTags}},
        {"phenology", {Command::Phenology, kPhenology}}};
    const auto command = commands.find(args[0]);
    if (command == commands.end()) return UsageError{"不明なサブコマンドです: " + args[0]};

    std::vector<std::string> inputs;
    std::map<std::string, std::string> given;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value", "-oFILE" and "-j4" carry their value; otherwise it follows.
        std::string name = arg;
        std::optional<std::string> attached;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                attached = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            attached = arg.substr(2);
        }
        const OptionRule* rule = findOption(name);
        if (!rule) return UsageError{"不明なオプションです: " + arg};
        if ((rule->commands & command->second.second) == 0) {
            return UsageError{name + " は " + args[0] + " では使えません"};
        }
        if (given.count(name)) return UsageError{name + " が二度指定されています"};
        if (!rule->takesValue) {
            if (attached) return UsageError{name + " には値を付けられません"};
            given[name];
            continue;
        }
        if (!attached) {
            if (i + 1 >= args.size()) return UsageError{name + " には値が必要です"};
            attached = args[++i];
        }
        given[name] = *attached;
    }
    std::optional<ProjectParts> project;
    if (given.count("--project")) {
        project.emplace();
        if (auto error = expandProject(inputs, given, *project)) return *error;
    }
    ParseResult result = buildOptions(command->second.first, std::move(inputs), std::move(given), project);
    return result;
}

}  // namespace batch
