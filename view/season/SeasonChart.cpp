#include "view/season/SeasonChart.h"

#include "engine/calibration/Calibration.h"
#include "engine/calibration/FlatField.h"
#include "engine/calibration/Panel.h"
#include "engine/season/Phenology.h"

#include <QAreaSeries>
#include <QChart>
#include <QCoreApplication>
#include <QGraphicsLayout>
#include <QDateTimeAxis>
#include <QGraphicsScene>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <QScatterSeries>
#include <QCursor>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QToolTip>
#include <QPen>

#include <algorithm>
#include <map>
#include <cmath>
#include <iterator>

namespace view {

std::optional<qint64> chartTime(const std::string& isoTime)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t.toMSecsSinceEpoch();
}

QString flaggedText(const SeasonEntry& entry)
{
    if (!entry.figures || entry.figures->panelWarnings.empty()) return {};
    QStringList lines{QStringLiteral("⚠ 白色板か暗色板の確認に外れました。この点の値は誤りかもしれません。")};
    for (const std::string& text : entry.figures->warningTexts) lines << QString::fromStdString(text);
    return lines.join(QLatin1Char('\n'));
}

namespace {

// The chart's x of a day as the season table counts them (its local clock).
qint64 chartTimeOfDay(double day)
{
    const double whole = std::floor(day);
    const auto ms = static_cast<int>(std::lround((day - whole) * 86400000.0));
    const QDate date = QDate(1970, 1, 1).addDays(static_cast<qint64>(whole));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(std::min(ms, 86399999))).toMSecsSinceEpoch();
}

// The last fit of each plot, kept while its points stay the same: the chart is filled
// again on every change of what it shows, and a fit takes a few milliseconds a plot.
const engine::PhenologyFit& cachedFit(const std::string& plot, const std::vector<engine::PhenologyPoint>& points)
{
    struct Kept {
        std::vector<engine::PhenologyPoint> points;
        engine::PhenologyFit fit;
    };
    static std::map<std::string, Kept> kept;
    const auto same = [](const std::vector<engine::PhenologyPoint>& a, const std::vector<engine::PhenologyPoint>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
            return x.day == y.day && x.value == y.value && x.flagged == y.flagged;
        });
    };
    auto it = kept.find(plot);
    if (it == kept.end() || !same(it->second.points, points)) {
        // No bootstrap: the chart shows the curve and its dates; their intervals are
        // the batch's (`zrvimage-batch phenology`).
        engine::PhenologySettings settings;
        settings.bootstrap = 0;
        it = kept.insert_or_assign(plot, Kept{points, engine::fitPhenology(points, settings)}).first;
    }
    return it->second.fit;
}

}  // namespace

std::vector<engine::PhenologyPoint> phenologyPoints(const std::vector<SeasonEntry>& entries, std::size_t plot)
{
    std::vector<engine::PhenologyPoint> points;
    for (const SeasonEntry& e : entries) {
        if (!e.figures || plot >= e.figures->plots.size() || !e.figures->plots[plot].mean) continue;
        const auto day = engine::phenologyDay(e.time);
        if (!day) continue;
        points.push_back({*day, *e.figures->plots[plot].mean, !e.figures->panelWarnings.empty()});
    }
    return points;
}

QString phenologyMetricText(engine::PhenologyMetric metric)
{
    switch (metric) {
    case engine::PhenologyMetric::StartOfSeason: return QStringLiteral("生育開始");
    case engine::PhenologyMetric::MidGreenup: return QStringLiteral("緑化の中間");
    case engine::PhenologyMetric::Maturity: return QStringLiteral("成熟");
    case engine::PhenologyMetric::Peak: return QStringLiteral("最大");
    case engine::PhenologyMetric::Senescence: return QStringLiteral("老化の始まり");
    case engine::PhenologyMetric::MidSenescence: return QStringLiteral("老化の中間");
    case engine::PhenologyMetric::EndOfSeason: return QStringLiteral("生育終了");
    }
    return {};
}

QString flaggedSeriesName(const QString& plot)
{
    return plot + QStringLiteral(" ⚠");
}

void fillSeasonChart(QChart& chart, const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions,
                     const ChartShown& shown)
{
    chart.removeAllSeries();
    for (QAbstractAxis* axis : chart.axes()) {
        chart.removeAxis(axis);
        delete axis;
    }
    auto* time = new QDateTimeAxis;
    time->setTitleText(QStringLiteral("時刻"));
    auto* ndvi = new QValueAxis;
    ndvi->setTitleText(QStringLiteral("NDVI"));
    chart.addAxis(time, Qt::AlignBottom);
    chart.addAxis(ndvi, Qt::AlignLeft);

    qint64 first = 0, last = 0;
    double low = 1, high = -1;
    bool any = false;
    const std::vector<const engine::Region*> plots = regions.plots();
    for (std::size_t i = 0; i < plots.size(); ++i) {
        // Hidden plots keep their colour: showing one again does not repaint the others.
        if (shown.hiddenPlots.count(plots[i]->name)) continue;
        const QString name = QString::fromStdString(plots[i]->name);
        auto* mean = new QLineSeries;
        mean->setName(name);
        auto* points = new QScatterSeries;
        auto* flagged = new QScatterSeries;
        flagged->setName(flaggedSeriesName(name));
        QStringList pointTips, flaggedTips;
        auto* p95 = new QLineSeries;
        auto* p05 = new QLineSeries;
        for (const SeasonEntry& e : entries) {
            if (!e.figures || i >= e.figures->plots.size()) continue;
            const engine::RegionFigures& f = e.figures->plots[i];
            const auto x = chartTime(e.time);
            if (!x || !f.mean) continue;
            mean->append(static_cast<qreal>(*x), *f.mean);
            const QString warning = flaggedText(e);
            const QString tip = QStringLiteral("%1  %2\n%3 平均 %4（p05 %5, p95 %6）")
                                    .arg(QString::fromStdString(e.time).replace(QLatin1Char('T'), QLatin1Char(' ')),
                                         QFileInfo(e.path).fileName(), name, QString::number(*f.mean, 'f', 4),
                                         QString::number(*f.p05, 'f', 4), QString::number(*f.p95, 'f', 4));
            if (warning.isEmpty()) {
                points->append(static_cast<qreal>(*x), *f.mean);
                pointTips << tip;
            } else {
                flagged->append(static_cast<qreal>(*x), *f.mean);
                flaggedTips << tip + QLatin1Char('\n') + warning;
            }
            p05->append(static_cast<qreal>(*x), *f.p05);
            p95->append(static_cast<qreal>(*x), *f.p95);
            first = any ? std::min(first, *x) : *x;
            last = any ? std::max(last, *x) : *x;
            low = std::min(low, static_cast<double>(shown.bands ? *f.p05 : *f.mean));
            high = std::max(high, static_cast<double>(shown.bands ? *f.p95 : *f.mean));
            any = true;
        }
        // Ten colours told apart (the chart's theme has five, so a sixth plot would
        // repeat the first).
        static const QRgb kColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd,
                                        0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};
        const QColor colour(kColours[i % std::size(kColours)]);
        std::vector<QAbstractSeries*> added;
        // The band first, so the line and its markers lie over it.
        if (shown.bands) {
            auto* band = new QAreaSeries(p95, p05);
            // The area does not own its edges, and they are never added to the chart: as
            // its children they go when the chart removes it.
            p95->setParent(band);
            p05->setParent(band);
            band->setName(name + QStringLiteral(" p05–p95"));
            QColor fill = colour;
            fill.setAlpha(30);
            band->setColor(fill);
            band->setBorderColor(Qt::transparent);
            chart.addSeries(band);
            added.push_back(band);
        } else {
            delete p95;
            delete p05;
        }
        mean->setColor(colour);
        chart.addSeries(mean);
        added.push_back(mean);
        points->setColor(colour);
        points->setBorderColor(colour);
        points->setMarkerSize(8);
        points->setProperty("tips", pointTips);
        chart.addSeries(points);
        added.push_back(points);
        // Hollow: a figure that may be wrong is not drawn like the others.
        flagged->setBrush(Qt::white);
        flagged->setPen(QPen(colour, 2));
        flagged->setMarkerSize(11);
        flagged->setProperty("tips", flaggedTips);
        chart.addSeries(flagged);
        added.push_back(flagged);
        // The fitted curve, dashed, and its dates on it as triangles (their names and
        // times in the tips); a plot without a seasonal cycle gets neither.
        QScatterSeries* dates = nullptr;
        if (shown.phenology) {
            const engine::PhenologyFit& fit = cachedFit(plots[i]->name, phenologyPoints(entries, i));
            if (fit.method != engine::PhenologyMethod::None) {
                auto* curve = new QLineSeries;
                for (std::size_t k = 0; k < fit.curveDays.size(); ++k) {
                    curve->append(static_cast<qreal>(chartTimeOfDay(fit.curveDays[k])), fit.curveValues[k]);
                }
                QPen pen(colour, 1.5, Qt::DashLine);
                curve->setPen(pen);
                chart.addSeries(curve);
                added.push_back(curve);
                dates = new QScatterSeries;
                dates->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
                dates->setMarkerSize(12);
                dates->setColor(colour);
                dates->setBorderColor(Qt::black);
                QStringList tips;
                for (const engine::PhenologyDate& d : fit.dates) {
                    if (!d.day) continue;
                    dates->append(static_cast<qreal>(chartTimeOfDay(*d.day)), d.value);
                    tips << QStringLiteral("%1  %2（%3）\n%4 ごろ、曲線の値 %5\n%6 の曲線による。区間は zrvimage-batch phenology で")
                                .arg(name, phenologyMetricText(d.metric),
                                     QString::fromLatin1(engine::phenologyMetricName(d.metric)),
                                     QString::fromStdString(engine::phenologyTime(*d.day)).left(10),
                                     QString::number(d.value, 'f', 3),
                                     fit.method == engine::PhenologyMethod::Spline ? QStringLiteral("平滑化スプライン")
                                                                                   : QStringLiteral("二重ロジスティック"));
                }
                dates->setProperty("tips", tips);
                chart.addSeries(dates);
                added.push_back(dates);
            }
        }
        for (QAbstractSeries* s : added) {
            s->attachAxis(time);
            s->attachAxis(ndvi);
            if (s != mean) {
                for (QLegendMarker* m : chart.legend()->markers(s)) m->setVisible(false);
            }
        }
        for (QScatterSeries* s : {points, flagged, dates}) {
            if (!s) continue;
            QObject::connect(s, &QScatterSeries::hovered, s, [s](const QPointF& point, bool state) {
                if (!state) {
                    QToolTip::hideText();
                    return;
                }
                const int k = static_cast<int>(s->points().indexOf(point));
                const QStringList tips = s->property("tips").toStringList();
                if (k >= 0 && k < tips.size()) QToolTip::showText(QCursor::pos(), tips[k]);
            });
        }
    }
    // Dates as the season list writes them, year first, so that the chart and its
    // exported picture tell the season's year.
    time->setFormat(QStringLiteral("yyyy-MM-dd"));
    if (!any) {
        const QDateTime today = QDateTime(QDate::currentDate(), QTime(0, 0));
        time->setRange(today.addDays(-1), today);
        time->setTickCount(2);
        ndvi->setRange(-1, 1);
        return;
    }
    // Ticks on whole days (or hours for a short season), the points between the ends.
    constexpr qint64 kHour = 3600 * 1000, kDay = 24 * kHour;
    const QDateTime firstTime = QDateTime::fromMSecsSinceEpoch(first);
    const bool byDays = last - first >= 2 * kDay;
    const qint64 unit = byDays ? kDay : kHour;
    const qint64 start = byDays ? firstTime.date().startOfDay().toMSecsSinceEpoch()
                                : QDateTime(firstTime.date(), QTime(firstTime.time().hour(), 0)).toMSecsSinceEpoch();
    const qint64 units = std::max<qint64>(1, (last - start) / unit + 1);
    // At most five ticks: more would be elided to "2026-…" in a dock beside the table.
    const qint64 step = (units + 3) / 4;
    const qint64 steps = (units + step - 1) / step;
    time->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(start + steps * step * unit));
    time->setTickCount(static_cast<int>(steps) + 1);
    time->setFormat(byDays ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-dd HH:mm"));
    // NDVI on round steps of 0.02 to 0.5, at most six ticks: more overlap in a low dock
    // and are cut short.
    const double spanNeeded = std::max(0.04, high - low);
    double tick = 0.02;
    for (const double t : {0.02, 0.05, 0.1, 0.2, 0.25, 0.5}) {
        tick = t;
        if (spanNeeded / t <= 4) break;
    }
    const double bottom = std::max(-1.0, std::floor(low / tick - 0.2) * tick);
    const double top = std::min(1.0, std::ceil(high / tick + 0.2) * tick);
    ndvi->setRange(bottom, top);
    ndvi->setTickCount(static_cast<int>(std::lround((top - bottom) / tick)) + 1);
    ndvi->setLabelFormat(QStringLiteral("%.2f"));
}

QString calibrationRuleText(const engine::RegionSet& regions, const engine::SeasonSettings& settings)
{
    if (settings.fixed) {
        return QStringLiteral("較正: %1（全フレーム同じ）").arg(QString::fromStdString(engine::describeModel(*settings.fixed)));
    }
    const engine::Region* panel = regions.white();
    const engine::Region* dark = regions.dark();
    if (!panel) return {};
    const auto reflectance = [](float nir, float red) {
        return QStringLiteral("NIR %1, Red %2").arg(QString::number(nir, 'f', 3), QString::number(red, 'f', 3));
    };
    QString text = QStringLiteral("各フレームの白色板「%1」（%2、反射率 %3）")
                       .arg(QString::fromStdString(panel->name), QString::fromLatin1(engine::whiteFromName(settings.whiteFrom)),
                            reflectance(settings.reflectances.nir.rWhite, settings.reflectances.red.rWhite));
    if (dark) {
        text += QStringLiteral("と暗色板「%1」（反射率 %2）")
                    .arg(QString::fromStdString(dark->name),
                         reflectance(settings.reflectances.nir.rDark, settings.reflectances.red.rDark));
    }
    return text + QStringLiteral("で較正");
}

QStringList seasonChartCaption(const QString& title, const std::vector<SeasonEntry>& entries,
                               const engine::RegionSet& regions, const engine::SeasonSettings& settings)
{
    QStringList lines{title};
    std::string first, last;
    std::size_t charted = 0, flagged = 0, failed = 0;
    for (const SeasonEntry& e : entries) {
        if (!e.figures) {
            ++failed;
            continue;
        }
        ++charted;
        if (!flaggedText(e).isEmpty()) ++flagged;
        if (first.empty() || e.time < first) first = e.time;
        if (last.empty() || e.time > last) last = e.time;
    }
    const auto date = [](const std::string& t) { return QString::fromStdString(t).replace(QLatin1Char('T'), QLatin1Char(' ')); };
    QString span = charted ? QStringLiteral("%1 〜 %2（%3 枚）").arg(date(first), date(last)).arg(charted)
                           : QStringLiteral("グラフにできるフレームがありません");
    if (failed) span += QStringLiteral("、読めないフレーム %1 枚を除く").arg(failed);
    if (flagged) span += QStringLiteral("、白抜きの点は白色板か暗色板の確認に外れたフレーム（%1 枚）").arg(flagged);
    lines << span;
    if (const QString rule = calibrationRuleText(regions, settings); !rule.isEmpty()) lines << rule;
    lines << (settings.flatField ? QStringLiteral("周辺減光補正: %1")
                                       .arg(QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(settings.flatField->path()))))
                                 : QStringLiteral("周辺減光補正: なし"));
    return lines;
}

QImage renderSeasonChart(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions, QSize size,
                         const ChartShown& shown, const QStringList& caption)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    int top = 0;
    if (!caption.isEmpty()) {
        // The caption is drawn by hand: the chart's own title is one line.
        QFont font = painter.font();
        font.setPixelSize(std::max(12, size.height() / 45));
        QFont bold = font;
        bold.setBold(true);
        bold.setPixelSize(font.pixelSize() * 4 / 3);
        const int margin = font.pixelSize();
        top = margin / 2;
        painter.setPen(Qt::black);
        for (int k = 0; k < caption.size(); ++k) {
            painter.setFont(k == 0 ? bold : font);
            const QFontMetrics metrics(painter.font());
            const QRect line(margin, top, size.width() - 2 * margin, metrics.height());
            painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(caption[k], Qt::ElideMiddle, line.width()));
            top += metrics.height() + metrics.height() / 4;
        }
    }
    const QSize chartSize(size.width(), std::max(1, size.height() - top));
    QGraphicsScene scene;
    auto* chart = new QChart;  // the scene's
    scene.addItem(chart);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->resize(chartSize);
    fillSeasonChart(*chart, entries, regions, shown);
    scene.setSceneRect(QRectF(QPointF(0, 0), chartSize));
    // The chart lays out its axes and legend on posted events: deliver them now, only
    // the chart's own, so that nothing else of the window runs in between.
    QCoreApplication::sendPostedEvents(chart);
    if (chart->layout()) chart->layout()->activate();
    QCoreApplication::sendPostedEvents(chart);
    scene.render(&painter, QRectF(QPointF(0, top), chartSize), scene.sceneRect());
    return image;
}

}  // namespace view
