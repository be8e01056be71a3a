#include "view/CommandLine.h"

#include <vector>

namespace view {

namespace {

// Exactly count decimal integers separated by commas.
std::optional<std::vector<int>> integers(const QString& text, int count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count) return std::nullopt;
    std::vector<int> values;
    for (const QString& part : parts) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok, 10);
        if (!ok) return std::nullopt;
        values.push_back(v);
    }
    return values;
}

}  // namespace

QString usageText()
{
    return QStringLiteral(
        "使い方: zrvimage-view [--white NIR,RED] [--select X1,Y1,X2,Y2] [ファイル]\n"
        "\n"
        "24ビットBMP、またはNDVIラスター（.raw、ENVIヘッダー .hdr があればその大きさで）を表示します。\n"
        "\n"
        "  --white NIR,RED        白色板の値（NIR と Red、1〜255 の整数。既定 255,255）\n"
        "  --select X1,Y1,X2,Y2   範囲の左上と右下の画素（両端を含む。x は左から、y は上から）\n"
        "  -h, --help             この説明を表示します\n");
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine c;
    const auto fail = [&c](const QString& message) {
        c.error = message;
        return c;
    };
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
        } else if (argument == QLatin1String("--white") || argument == QLatin1String("--select")) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) return fail(QStringLiteral("%1 の値がありません").arg(argument));
                value = arguments[++i];
            }
            if (argument == QLatin1String("--white")) {
                const auto v = integers(value, 2);
                if (!v || (*v)[0] < 1 || (*v)[0] > 255 || (*v)[1] < 1 || (*v)[1] > 255) {
                    return fail(QStringLiteral("--white には NIR,RED を 1〜255 の整数2つで指定してください: '%1'").arg(value));
                }
                c.white = WhiteValues{(*v)[0], (*v)[1]};
            } else {
                const auto v = integers(value, 4);
                if (!v) return fail(QStringLiteral("--select には X1,Y1,X2,Y2 を整数4つで指定してください: '%1'").arg(value));
                if ((*v)[0] > (*v)[2] || (*v)[1] > (*v)[3]) {
                    return fail(QStringLiteral("--select の範囲は X1≦X2、Y1≦Y2 で指定してください: '%1'").arg(value));
                }
                c.select = bitmap::Rectangle{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
            }
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            return fail(QStringLiteral("不明なオプションです: %1").arg(arguments[i]));
        } else if (!c.file.isEmpty()) {
            return fail(QStringLiteral("開けるファイルは1つです: %1").arg(argument));
        } else {
            c.file = argument;
        }
    }
    return c;
}

}  // namespace view
