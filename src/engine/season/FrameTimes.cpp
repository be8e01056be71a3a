#include "engine/season/Season.h"

#include "engine/platform/Platform.h"
#include "engine/season/FramePlan.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

using seasonparts::frameFailure;

namespace {

struct TimeFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysIn(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// Whether the pattern is one byText() takes: directives %Y %m %d %H %M %S %% only, with
// the date's three among them.
bool validPattern(std::string_view pattern)
{
    bool year = false, month = false, day = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (++i == pattern.size()) return false;
        switch (pattern[i]) {
        case 'Y': year = true; break;
        case 'm': month = true; break;
        case 'd': day = true; break;
        case 'H':
        case 'M':
        case 'S':
        case '%': break;
        default: return false;
        }
    }
    return year && month && day;
}

// Reads the fields from the start of name by the pattern; nothing when it does not
// match or a field is out of its range.
std::optional<TimeFields> readName(std::string_view name, std::string_view pattern)
{
    TimeFields t;
    std::size_t at = 0;
    const auto digits = [&](std::size_t count, int& value) {
        if (name.size() - at < count) return false;
        value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const char c = name[at + k];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        at += count;
        return true;
    };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char literal = pattern[i];
        if (literal == '%') {
            const char d = pattern[++i];
            bool ok = true;
            switch (d) {
            case 'Y': ok = digits(4, t.year); break;
            case 'm': ok = digits(2, t.month); break;
            case 'd': ok = digits(2, t.day); break;
            case 'H': ok = digits(2, t.hour); break;
            case 'M': ok = digits(2, t.minute); break;
            case 'S': ok = digits(2, t.second); break;
            default: literal = '%'; break;
            }
            if (!ok) return std::nullopt;
            if (d != '%') continue;
        }
        if (at >= name.size() || name[at] != literal) return std::nullopt;
        ++at;
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysIn(t.year, t.month) || t.hour > 23 || t.minute > 59
        || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

std::string isoTime(const TimeFields& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace

std::optional<TimeSource> TimeSource::byText(std::string_view text)
{
    if (text == "mtime") return TimeSource{};
    constexpr std::string_view prefix = "name:";
    if (!text.starts_with(prefix)) return std::nullopt;
    const std::string_view pattern = text.substr(prefix.size());
    if (pattern.empty() || !validPattern(pattern)) return std::nullopt;
    return TimeSource{Kind::Name, std::string(pattern)};
}

std::string frameTime(const std::string& path, const TimeSource& source)
{
    if (source.kind == TimeSource::Kind::Name) {
        const std::string name = platform::utf8Of(platform::pathOf(path).filename());
        const auto t = readName(name, source.pattern);
        if (!t) frameFailure(path, "ファイル名が時刻の形 " + source.pattern + " に合いません");
        return isoTime(*t);
    }
    std::tm local{};
    if (!platform::modifiedLocalCalendar(path, local)) {
        frameFailure(path, "ファイルの更新日時を読めません");
    }
    return isoTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

namespace {

// Seconds from 1970-01-01T00:00:00 of an isoTime() text (as a local time, which is
// enough to compare two of them); nothing for any other text.
std::optional<std::int64_t> secondsOf(std::string_view iso)
{
    const auto t = readName(iso, "%Y-%m-%dT%H:%M:%S");
    if (!t || iso.size() != 19) return std::nullopt;
    // Days from the civil date (Howard Hinnant's days_from_civil).
    const int y = t->year - (t->month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (t->month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + t->day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + t->hour * 3600 + t->minute * 60 + t->second;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The name's start up to at, as a pattern's literal text.
std::string literalPattern(std::string_view text)
{
    std::string p;
    for (const char c : text) {
        p += c;
        if (c == '%') p += '%';
    }
    return p;
}

}  // namespace

std::optional<std::string> proposedNamePattern(const std::vector<std::string>& names)
{
    if (names.empty()) return std::nullopt;
    const std::string_view first = names.front();
    const auto readsAll = [&](const std::string& pattern) {
        for (const std::string& n : names) {
            if (!readName(n, pattern)) return false;
        }
        return true;
    };
    // The first place in the first name where a date starts, as 20260601 or 2026-06-01
    // (or _ . in place of -), and a time after it as 083000 or 08-30-00 when one follows.
    for (std::size_t at = 0; at + 8 <= first.size(); ++at) {
        if (at > 0 && isDigit(first[at - 1])) continue;
        const std::string prefix = literalPattern(first.substr(0, at));
        std::vector<std::string> dates;
        if (at + 10 <= first.size() && (first[at + 4] == '-' || first[at + 4] == '_' || first[at + 4] == '.')
            && first[at + 7] == first[at + 4]) {
            const char sep = first[at + 4];
            dates.push_back(std::string("%Y") + sep + "%m" + sep + "%d");
        }
        dates.push_back("%Y%m%d");
        for (const std::string& date : dates) {
            const std::string datePattern = prefix + date;
            if (!readName(first, datePattern)) continue;
            std::vector<std::string> candidates;
            for (const std::string_view sep : {"", "_", "-", "T", " ", "."}) {
                const std::string s = literalPattern(sep);
                candidates.push_back(datePattern + s + "%H%M%S");
                for (const char inner : {'-', '_', '.', ':'}) {
                    candidates.push_back(datePattern + s + "%H" + inner + "%M" + inner + "%S");
                }
            }
            candidates.push_back(datePattern);
            for (const std::string& c : candidates) {
                if (readName(first, c) && readsAll(c)) return c;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> seasonTimeWarning(const std::vector<SeasonFrame>& frames, const TimeSource& source,
                                             std::string_view where)
{
    if (source.kind != TimeSource::Kind::ModificationTime || frames.size() < 2) return std::nullopt;
    std::int64_t low = 0, high = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto t = secondsOf(frames[i].time);
        if (!t) return std::nullopt;
        low = i == 0 ? *t : std::min(low, *t);
        high = i == 0 ? *t : std::max(high, *t);
    }
    if (high - low > kSameTimeSeconds) return std::nullopt;
    std::string text = "全 " + std::to_string(frames.size()) + " フレームの更新日時が " + std::to_string(kSameTimeSeconds)
                       + " 秒以内に収まっています。カードからのコピーなどで更新日時が撮影日時を表していないおそれがあり、"
                         "時刻と並び順は正しくないかもしれません。";
    std::vector<std::string> names;
    for (const SeasonFrame& f : frames) names.push_back(platform::utf8Of(platform::pathOf(f.file).filename()));
    if (const auto pattern = proposedNamePattern(names)) {
        text += "ファイル名の日付から時刻を読むには" + std::string(where) + "name:" + *pattern + " を指定してください";
    } else {
        text += "ファイル名に日付があれば" + std::string(where) + "name:PATTERN（例: name:cam_%Y%m%d_%H%M%S）で時刻を読めます";
    }
    return text;
}

void sortSeasonFrames(std::vector<SeasonFrame>& frames)
{
    std::stable_sort(frames.begin(), frames.end(), [](const SeasonFrame& a, const SeasonFrame& b) {
        return a.time != b.time ? a.time < b.time : a.file < b.file;
    });
}

}  // namespace engine
