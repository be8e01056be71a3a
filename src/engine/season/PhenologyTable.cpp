#include "engine/season/Phenology.h"

#include "engine/season/Season.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

namespace {

std::string significant(double v, int digits)
{
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits).ptr);
}

// Days from 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms).
std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out)
{
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// The fields of a CSV record from at (RFC 4180: quoted fields, "" inside them, line
// ends inside quotes); at is left at the next record. False at the end of the text.
bool nextRecord(std::string_view text, std::size_t& at, std::vector<std::string>& fields)
{
    fields.clear();
    if (at >= text.size()) return false;
    std::string field;
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at++];
        if (quoted) {
            if (c == '"') {
                if (at < text.size() && text[at] == '"') {
                    field += '"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
            break;
        } else {
            field += c;
        }
    }
    fields.push_back(std::move(field));
    return true;
}

// A curve's value to four significant digits: its fit says no more, and sixteen would
// pretend it did.
std::string fourDigits(double v)
{
    return significant(v, 4);
}

}  // namespace

std::optional<double> phenologyDay(std::string_view time)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (time.size() != 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' || time[16] != ':')
        return std::nullopt;
    if (!digits(time, 0, 4, y) || !digits(time, 5, 2, mo) || !digits(time, 8, 2, d) || !digits(time, 11, 2, h)
        || !digits(time, 14, 2, mi) || !digits(time, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    return static_cast<double>(daysFromCivil(y, mo, d)) + (h * 3600 + mi * 60 + s) / 86400.0;
}

std::string phenologyTime(double day)
{
    const auto seconds = static_cast<std::int64_t>(std::llround(day * 86400));
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

void readSeasonTable(std::string_view text, const std::string& name, const std::string& column,
                     std::vector<RegionSeason>& seasons, std::size_t& repeated)
{
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark from a spreadsheet
    std::size_t at = 0;
    std::vector<std::string> header, fields;
    if (!nextRecord(text, at, header)) throw PhenologyError(name + ": 季節表が空です");
    const auto find = [&](const std::string& key) -> std::size_t {
        const auto it = std::find(header.begin(), header.end(), key);
        if (it == header.end()) {
            std::string means;
            for (const std::string& h : header) {
                if (h.ends_with("_mean")) means += (means.empty() ? "" : "、") + h;
            }
            throw PhenologyError(name + ": 季節表に列 " + key + " がありません"
                                 + (means.empty() ? std::string() : "（_mean の列: " + means + "）"));
        }
        return static_cast<std::size_t>(it - header.begin());
    };
    const std::size_t fileColumn = find("file"), timeColumn = find("time"), regionColumn = find("region"),
                      warningColumn = find("panel_warning"), valueColumn = find(column);
    const std::size_t needed = std::max({fileColumn, timeColumn, regionColumn, warningColumn, valueColumn}) + 1;
    std::map<std::string, std::size_t> index;
    for (std::size_t k = 0; k < seasons.size(); ++k) index.emplace(seasons[k].region, k);
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    for (const RegionSeason& s : seasons) {
        for (std::size_t k = 0; k < s.points.size() && k < s.frames.size(); ++k) {
            seen.emplace(s.frames[k], phenologyTime(s.points[k].day), s.region);
        }
    }
    for (int line = 2; nextRecord(text, at, fields); ++line) {
        if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
        const auto where = name + " の " + std::to_string(line) + " 行目: ";
        if (fields.size() < needed) throw PhenologyError(where + "列が足りません");
        const auto day = phenologyDay(fields[timeColumn]);
        if (!day) throw PhenologyError(where + "時刻 " + fields[timeColumn] + " を読めません（YYYY-MM-DDTHH:MM:SS）");
        const std::string& v = fields[valueColumn];
        if (v.empty()) continue;
        double value = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
        if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value)) {
            throw PhenologyError(where + column + " の値 " + v + " を読めません");
        }
        if (!seen.emplace(fields[fileColumn], phenologyTime(*day), fields[regionColumn]).second) {
            ++repeated;
            continue;
        }
        const auto [it, added] = index.emplace(fields[regionColumn], seasons.size());
        if (added) seasons.push_back(RegionSeason{fields[regionColumn], {}, {}});
        RegionSeason& season = seasons[it->second];
        season.points.push_back(PhenologyPoint{*day, value, !fields[warningColumn].empty()});
        season.frames.push_back(fields[fileColumn]);
    }
}

std::string phenologyCsv(const std::vector<std::string>& regions, const std::vector<PhenologyFit>& fits)
{
    std::string out = "region,metric,date,low,high,value,method\n";
    const auto optional = [](const std::optional<double>& day) { return day ? phenologyTime(*day) : std::string(); };
    for (std::size_t r = 0; r < regions.size() && r < fits.size(); ++r) {
        const PhenologyFit& fit = fits[r];
        const std::string region = csvField(regions[r]);
        if (fit.method == PhenologyMethod::None) {
            out += region + ",none,,,,," + csvField(fit.reason) + '\n';
            continue;
        }
        for (const PhenologyDate& date : fit.dates) {
            out += region + ',' + phenologyMetricName(date.metric) + ',' + optional(date.day) + ',' + optional(date.low) + ','
                   + optional(date.high) + ',' + (date.day ? fourDigits(date.value) : std::string()) + ','
                   + csvField(date.day ? std::string(phenologyMethodName(fit.method)) : date.why) + '\n';
        }
    }
    return out;
}
}  // namespace engine
