#include "view/CommandLine.h"

#include "engine/formats/NumberPair.h"

#include <utility>
#include <vector>

namespace view {

namespace {

// Exactly count decimal integers separated by commas, each read as a "NIR,RED"
// pair's are.
std::optional<std::vector<int>> integers(const QString& text, int count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count) return std::nullopt;
    std::vector<int> values;
    for (const QString& part : parts) {
        const auto v = engine::decimalInteger(part.toStdString());
        if (!v) return std::nullopt;
        values.push_back(*v);
    }
    return values;
}

}  // namespace

std::optional<engine::Rectangle> parseRectangle(const QString& text, RectangleFault* fault)
{
    const auto v = integers(text, 4);
    if (!v || (*v)[0] > (*v)[2] || (*v)[1] > (*v)[3]) {
        if (fault) *fault = v ? RectangleFault::Reversed : RectangleFault::NotFourIntegers;
        return std::nullopt;
    }
    return engine::Rectangle{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

QString usageText()
{
    return QStringLiteral(
        "使い方: zrvimage-view [--white NIR,RED] [--panel-reflectance NIR,RED]\n"
        "                      [--dark NIR,RED [--dark-reflectance NIR,RED]] [--select X1,Y1,X2,Y2] [ファイル]\n"
        "\n"
        "24ビットBMP、またはNDVIラスター（.raw、ENVIヘッダー .hdr があればその大きさで）を表示します。\n"
        "シーズンのプロジェクトファイル（.json）はそのフォルダー、時刻、領域、較正ごと開きます。\n"
        "ファイルを指定しないときは、前回開いていたプロジェクトを開きます。\n"
        "\n"
        "  --white NIR,RED        白色板の値（NIR と Red、1〜255 の整数。既定 255,255）\n"
        "  --panel-reflectance NIR,RED\n"
        "                         白色板の反射率（0〜1、小数点以下3桁まで。既定 1,1）\n"
        "  --dark NIR,RED         暗色板の値（0〜254 の整数。白色板の値より小さく）\n"
        "  --dark-reflectance NIR,RED\n"
        "                         暗色板の反射率（0〜1、小数点以下3桁まで。既定 0,0）\n"
        "  --select X1,Y1,X2,Y2   範囲の左上と右下の画素（両端を含む。x は左から、y は上から）\n"
        "  -h, --help             この説明を表示します\n"
        "  --version              版を表示します\n");
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine c;
    const auto fail = [&c](const QString& message) {
        c.error = message;
        return c;
    };
    const auto takesValue = [](const QString& a) {
        for (const char* name : {"--white", "--select", "--panel-reflectance", "--dark", "--dark-reflectance"}) {
            if (a == QLatin1String(name)) return true;
        }
        return false;
    };
    std::optional<WhiteValues> dark;
    std::optional<std::pair<float, float>> panelReflectance, darkReflectance;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        QString value;
        bool hasValue = false;
        if (argument.startsWith(QLatin1String("--")) && argument.contains(QLatin1Char('='))) {
            value = argument.section(QLatin1Char('='), 1);
            argument = argument.section(QLatin1Char('='), 0, 0);
            hasValue = true;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            c.help = true;
        } else if (argument == QLatin1String("--version")) {
            c.version = true;
        } else if (takesValue(argument)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) return fail(QStringLiteral("%1 の値がありません").arg(argument));
                value = arguments[++i];
            }
            if (argument == QLatin1String("--white")) {
                const auto v = engine::integerPair(value.toStdString());
                if (!v || v->first < 1 || v->first > 255 || v->second < 1 || v->second > 255) {
                    return fail(QStringLiteral("--white には NIR,RED を 1〜255 の整数2つで指定してください: '%1'").arg(value));
                }
                c.white = WhiteValues{v->first, v->second};
            } else if (argument == QLatin1String("--dark")) {
                const auto v = engine::integerPair(value.toStdString());
                if (!v || v->first < 0 || v->first > 254 || v->second < 0 || v->second > 254) {
                    return fail(QStringLiteral("--dark には NIR,RED を 0〜254 の整数2つで指定してください: '%1'").arg(value));
                }
                dark = WhiteValues{v->first, v->second};
            } else if (argument == QLatin1String("--select")) {
                RectangleFault fault{};
                c.select = parseRectangle(value, &fault);
                if (!c.select && fault == RectangleFault::NotFourIntegers) {
                    return fail(QStringLiteral("--select には X1,Y1,X2,Y2 を整数4つで指定してください: '%1'").arg(value));
                }
                if (!c.select) {
                    return fail(QStringLiteral("--select の範囲は X1≦X2、Y1≦Y2 で指定してください: '%1'").arg(value));
                }
            } else {
                // 0 to 1, so the picture shows what was typed.
                const auto v = engine::reflectancePair(value.toStdString());
                const auto inRange = [](float r) { return r >= 0.0f && r <= 1.0f; };
                if (!v || !inRange(v->first) || !inRange(v->second)) {
                    return fail(QStringLiteral("%1 には NIR,RED を 0〜1 の数（小数点以下3桁まで）2つで指定してください: '%2'")
                                    .arg(argument, value));
                }
                (argument == QLatin1String("--panel-reflectance") ? panelReflectance : darkReflectance) = *v;
            }
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            return fail(QStringLiteral("不明なオプションです: %1").arg(arguments[i]));
        } else if (!c.file.isEmpty()) {
            return fail(QStringLiteral("開けるファイルは1つです: %1").arg(argument));
        } else {
            c.file = argument;
        }
    }
    // A dark target's reflectance means nothing without its bytes.
    if (darkReflectance && !dark) return fail(QStringLiteral("--dark-reflectance は --dark と一緒に指定してください"));
    if (c.white || panelReflectance || dark) {
        const WhiteValues white = c.white.value_or(WhiteValues{});
        engine::NdviModel m = engine::NdviModel::plain(static_cast<float>(white.nir), static_cast<float>(white.red));
        if (panelReflectance) {
            m.nir.rWhite = panelReflectance->first;
            m.red.rWhite = panelReflectance->second;
        }
        if (dark) {
            m.nir.dnDark = static_cast<float>(dark->nir);
            m.red.dnDark = static_cast<float>(dark->red);
        }
        if (darkReflectance) {
            m.nir.rDark = darkReflectance->first;
            m.red.rDark = darkReflectance->second;
        }
        if (const auto problem = engine::modelProblem(m)) return fail(QString::fromStdString(*problem));
        c.model = m;
    }
    return c;
}

}  // namespace view
