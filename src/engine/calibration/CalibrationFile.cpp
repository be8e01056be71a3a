#include "engine/calibration/CalibrationFile.h"

#include "engine/formats/PictureReader.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace engine {

namespace {

// Keys in the order written; numbers that are not integers held as float, so that
// "0.92" is rounded once, decimal to float, as the command line reads it.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t,
                                  float>;

[[noreturn]] void fail(const std::string& path, std::string problem)
{
    throw CalibrationFileError(std::move(problem), path);
}

// What reads the values of one file, naming each by its place ("nir.white").
class Reader {
public:
    explicit Reader(const std::string& path) : path_(path) {}

    const Json& member(const Json& object, const std::string& where, const char* key) const
    {
        const auto it = object.find(key);
        if (it == object.end()) fail(path_, "較正ファイルに " + name(where, key) + " がありません");
        return *it;
    }

    const Json* optionalMember(const Json& object, const char* key) const
    {
        const auto it = object.find(key);
        return it == object.end() || it->is_null() ? nullptr : &*it;
    }

    std::int64_t integer(const Json& value, const std::string& name, std::int64_t low, std::int64_t high) const
    {
        if (!value.is_number_integer()) fail(path_, "較正ファイルの " + name + " は整数でなければなりません");
        // Numbers from 0 up come as unsigned, and may lie past what int64 holds.
        const bool fits = value.is_number_unsigned()
                              ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(high)
                                    && static_cast<std::int64_t>(value.get<std::uint64_t>()) >= low
                              : value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high;
        if (!fits) {
            fail(path_, "較正ファイルの " + name + " (" + value.dump() + ") は " + std::to_string(low) + " から "
                            + std::to_string(high) + " の範囲にありません");
        }
        return value.get<std::int64_t>();
    }

    // A panel's or dark target's value: a whole byte in low..high as ever, or, in a
    // calibration made through a flat-field, a corrected value, which may have a
    // fraction and lie past 255. A dark target's value (fraction) is a mean, which may
    // have a fraction in any file, within low..high without a flat-field.
    float level(const Json& value, const std::string& name, std::int64_t low, std::int64_t high, bool corrected,
                bool fraction = false) const
    {
        if (!corrected && !(fraction && value.is_number_float())) {
            return static_cast<float>(integer(value, name, low, high));
        }
        if (!corrected) {
            const float v = value.get<float>();
            if (!std::isfinite(v) || v < static_cast<float>(low) || v > static_cast<float>(high)) {
                fail(path_, "較正ファイルの " + name + " (" + value.dump() + ") は " + std::to_string(low) + " から "
                                + std::to_string(high) + " の範囲にありません");
            }
            return v;
        }
        if (!value.is_number()) fail(path_, "較正ファイルの " + name + " は数値でなければなりません");
        const float v = value.get<float>();
        if (!std::isfinite(v) || v < static_cast<float>(low) || v > kMaxCorrectedLevel) {
            fail(path_, "較正ファイルの " + name + " (" + value.dump() + ") は " + std::to_string(low) + " から "
                            + std::to_string(static_cast<int>(kMaxCorrectedLevel)) + " の範囲にありません");
        }
        return v;
    }

    float reflectance(const Json& value, const std::string& name) const
    {
        if (!value.is_number()) fail(path_, "較正ファイルの " + name + " は数値でなければなりません");
        const float r = value.get<float>();
        if (!std::isfinite(r) || r < 0 || r > 1) {
            fail(path_, "較正ファイルの " + name + " (" + value.dump() + ") は 0 から 1 の範囲にありません");
        }
        return r;
    }

    std::string text(const Json& value, const std::string& name) const
    {
        if (!value.is_string()) fail(path_, "較正ファイルの " + name + " は文字列でなければなりません");
        return value.get<std::string>();
    }

    Rectangle rectangle(const Json& value, const std::string& name) const
    {
        if (!value.is_array() || value.size() != 4) {
            fail(path_, "較正ファイルの " + name + " は [X1, Y1, X2, Y2] の形でなければなりません");
        }
        std::int64_t c[4];
        for (std::size_t i = 0; i < 4; ++i) c[i] = integer(value[i], name, 0, INT32_MAX);
        if (c[0] > c[2] || c[1] > c[3]) fail(path_, "較正ファイルの " + name + " の矩形が逆向きです");
        return {c[0], c[1], c[2], c[3]};
    }

    static std::string name(const std::string& where, const char* key)
    {
        return where.empty() ? std::string(key) : where + "." + key;
    }

private:
    const std::string& path_;
};

// A whole byte as an integer, as every calibration without a flat-field has it; any
// other value (a corrected one) as a float.
Json levelJson(float v, float low, float high)
{
    if (v >= low && v <= high && v == std::floor(v)) return static_cast<std::int64_t>(v);
    return v;
}

Json bandJson(const BandCalibration& band)
{
    Json j = Json::object();
    j["white"] = levelJson(band.dnWhite, 1, 255);
    j["white_reflectance"] = band.rWhite;
    j["dark"] = levelJson(band.dnDark, 0, 254);
    j["dark_reflectance"] = band.rDark;
    return j;
}

Json rectangleJson(const std::optional<Rectangle>& r)
{
    if (!r) return nullptr;
    return Json::array({r->x1, r->y1, r->x2, r->y2});
}

// Line of a byte offset in text, counted from 1.
std::size_t lineOf(std::string_view text, std::size_t offset)
{
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

}  // namespace

CalibrationFileError::CalibrationFileError(std::string problem, std::string path)
    : std::runtime_error(problem + "\n" + path), problem_(std::move(problem)), path_(std::move(path))
{
}

std::string calibrationText(const CalibrationRecord& record)
{
    Json j = Json::object();
    j["format"] = kCalibrationFormat;
    j["version"] = kCalibrationVersion;
    j["nir"] = bandJson(record.model.nir);
    j["red"] = bandJson(record.model.red);
    const CalibrationSource& s = record.source;
    Json source = Json::object();
    source["frame"] = s.frame.empty() ? Json(nullptr) : Json(s.frame);
    source["white_rect"] = rectangleJson(s.whiteRect);
    source["white_from"] = whiteFromName(s.whiteFrom);
    source["dark_rect"] = rectangleJson(s.darkRect);
    source["date"] = s.date.empty() ? Json(nullptr) : Json(s.date);
    // Only for a calibration made through a flat-field, so that every other file is
    // written as before.
    if (!s.flatfield.empty()) source["flatfield"] = s.flatfield;
    j["source"] = std::move(source);

    // A key per line with its value on it, the source's keys each on a line of their
    // own: a band or a rectangle reads at a glance, which one number per line would not.
    const auto compact = [](const Json& v) { return v.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace); };
    const auto dropLastComma = [](std::string& text) { text.erase(text.size() - 2, 1); };
    std::string text = "{\n";
    for (const auto& [key, value] : j.items()) {
        text += "  " + compact(key) + ": ";
        if (key == "source") {
            text += "{\n";
            for (const auto& [k, v] : value.items()) text += "    " + compact(k) + ": " + compact(v) + ",\n";
            dropLastComma(text);
            text += "  }";
        } else {
            text += compact(value);
        }
        text += ",\n";
    }
    dropLastComma(text);
    return text + "}\n";
}

CalibrationRecord parseCalibration(std::string_view text, const std::string& path)
{
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        fail(path, "較正ファイルが JSON として正しくありません（" + std::to_string(lineOf(text, e.byte == 0 ? 0 : e.byte - 1))
                       + " 行目）");
    } catch (const Json::exception&) {
        // A number past what a float holds, such as 1e99.
        fail(path, "較正ファイルに大きすぎる数値があります");
    }
    if (!root.is_object()) fail(path, "較正ファイルではありません（JSON のオブジェクトではありません）");
    const Reader read(path);
    const Json& format = read.member(root, "", "format");
    if (!format.is_string() || format.get<std::string>() != kCalibrationFormat) {
        fail(path, std::string("較正ファイルではありません（format が ") + kCalibrationFormat + " ではありません）");
    }
    // A later version adds keys, which this one skips; it never changes the meaning
    // of the keys read here.
    read.integer(read.member(root, "", "version"), "version", 1, INT32_MAX);

    // Whether the values are a flat-field's corrected ones, which the bands' reading needs
    // to know first; the key itself is read (and checked) with the rest of the source.
    bool corrected = false;
    if (const auto source = root.find("source"); source != root.end() && source->is_object()) {
        const auto flat = source->find("flatfield");
        corrected = flat != source->end() && flat->is_string() && !flat->get<std::string>().empty();
    }
    CalibrationRecord record;
    for (const auto& [key, band] : {std::pair{"nir", &record.model.nir}, std::pair{"red", &record.model.red}}) {
        const Json& object = read.member(root, "", key);
        if (!object.is_object()) fail(path, std::string("較正ファイルの ") + key + " はオブジェクトでなければなりません");
        const std::string where = key;
        BandCalibration& b = *band;
        b.dnWhite = read.level(read.member(object, where, "white"), where + ".white", 1, 255, corrected);
        b.rWhite = read.reflectance(read.member(object, where, "white_reflectance"), where + ".white_reflectance");
        b.dnDark = read.level(read.member(object, where, "dark"), where + ".dark", 0, 254, corrected, true);
        b.rDark = read.reflectance(read.member(object, where, "dark_reflectance"), where + ".dark_reflectance");
    }
    if (auto problem = modelProblem(record.model)) fail(path, "較正ファイルの値が正しくありません: " + *problem);

    if (const Json* source = read.optionalMember(root, "source")) {
        if (!source->is_object()) fail(path, "較正ファイルの source はオブジェクトでなければなりません");
        CalibrationSource& s = record.source;
        if (const Json* v = read.optionalMember(*source, "frame")) s.frame = read.text(*v, "source.frame");
        if (const Json* v = read.optionalMember(*source, "white_rect")) s.whiteRect = read.rectangle(*v, "source.white_rect");
        if (const Json* v = read.optionalMember(*source, "white_from")) {
            const auto from = whiteFromByName(read.text(*v, "source.white_from"));
            if (!from) fail(path, "較正ファイルの source.white_from (" + v->dump() + ") は max、mean、p99 のいずれかでなければなりません");
            s.whiteFrom = *from;
        }
        if (const Json* v = read.optionalMember(*source, "dark_rect")) s.darkRect = read.rectangle(*v, "source.dark_rect");
        if (const Json* v = read.optionalMember(*source, "date")) s.date = read.text(*v, "source.date");
        if (const Json* v = read.optionalMember(*source, "flatfield")) s.flatfield = read.text(*v, "source.flatfield");
    }
    return record;
}

CalibrationRecord readCalibrationFile(const std::string& path)
{
    std::string text;
    try {
        const auto source = openFileSource(path);
        // Read to the end, not to the size the file reports: a device has none. Past
        // the limit it is no calibration file.
        std::uint8_t chunk[16384];
        for (;;) {
            const std::size_t n = source->readAt(static_cast<std::int64_t>(text.size()), chunk, sizeof chunk);
            if (n == 0) break;
            text.append(reinterpret_cast<const char*>(chunk), n);
            if (text.size() > kMaxCalibrationBytes) fail(path, "較正ファイルが大きすぎます（1 MiB まで）");
        }
    } catch (const EngineError& e) {
        if (e.failure() == Failure::CannotOpenInput) fail(path, "較正ファイルを開けません");
        fail(path, "較正ファイルの読み込みに失敗しました");
    }
    return parseCalibration(text, path);
}

void writeCalibrationFile(const std::string& path, const CalibrationRecord& record, const PictureReader* input)
{
    writeWholeFile(path, calibrationText(record), input);
}

std::string calibrationFramePath(const std::string& frame)
{
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(platform::pathOf(frame), ec);
    return ec ? frame : platform::utf8Of(absolute.lexically_normal());
}

std::string isoDateUtc(std::time_t time)
{
    std::tm utc{};
    platform::utcCalendar(time, utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace engine
