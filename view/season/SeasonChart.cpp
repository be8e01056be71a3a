#include "view/season/SeasonChart.h"

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

#include <algorithm>
#include <cmath>
#include <iterator>

namespace view {

std::optional<qint64> chartTime(const std::string& isoTime)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t.toMSecsSinceEpoch();
}

void fillSeasonChart(QChart& chart, const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions)
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
        auto* mean = new QLineSeries;
        mean->setName(QString::fromStdString(plots[i]->name));
        mean->setPointsVisible(true);
        auto* p95 = new QLineSeries;
        auto* p05 = new QLineSeries;
        for (const SeasonEntry& e : entries) {
            if (!e.figures || i >= e.figures->plots.size()) continue;
            const engine::RegionFigures& f = e.figures->plots[i];
            const auto x = chartTime(e.time);
            if (!x || !f.mean) continue;
            mean->append(static_cast<qreal>(*x), *f.mean);
            p05->append(static_cast<qreal>(*x), *f.p05);
            p95->append(static_cast<qreal>(*x), *f.p95);
            first = any ? std::min(first, *x) : *x;
            last = any ? std::max(last, *x) : *x;
            low = std::min(low, static_cast<double>(*f.p05));
            high = std::max(high, static_cast<double>(*f.p95));
            any = true;
        }
        // The band first, so the line and its markers lie over it.
        auto* band = new QAreaSeries(p95, p05);
        // The area does not own its edges, and they are never added to the chart: as
        // its children they go when the chart removes it.
        p95->setParent(band);
        p05->setParent(band);
        band->setName(mean->name() + QStringLiteral(" p05–p95"));
        chart.addSeries(band);
        chart.addSeries(mean);
        // Ten colours told apart (the chart's theme has five, so a sixth plot would
        // repeat the first).
        static const QRgb kColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd,
                                        0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};
        QColor colour(kColours[i % std::size(kColours)]);
        mean->setColor(colour);
        colour.setAlpha(45);
        band->setColor(colour);
        band->setBorderColor(Qt::transparent);
        for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(band), static_cast<QAbstractSeries*>(mean)}) {
            s->attachAxis(time);
            s->attachAxis(ndvi);
        }
        for (QLegendMarker* m : chart.legend()->markers(band)) m->setVisible(false);
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
    const qint64 step = (units + 7) / 8;  // at most nine ticks
    const qint64 steps = (units + step - 1) / step;
    time->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(start + steps * step * unit));
    time->setTickCount(static_cast<int>(steps) + 1);
    time->setFormat(byDays ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-dd HH:mm"));
    // Slanted when many, so that the longer labels do not run into each other.
    time->setLabelsAngle(steps > 4 ? -30 : 0);
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

QImage renderSeasonChart(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions, QSize size)
{
    QGraphicsScene scene;
    auto* chart = new QChart;  // the scene's
    scene.addItem(chart);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->resize(size);
    fillSeasonChart(*chart, entries, regions);
    scene.setSceneRect(QRectF(QPointF(0, 0), size));
    // The chart lays out its axes and legend on posted events: deliver them now, only
    // the chart's own, so that nothing else of the window runs in between.
    QCoreApplication::sendPostedEvents(chart);
    if (chart->layout()) chart->layout()->activate();
    QCoreApplication::sendPostedEvents(chart);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(QPointF(0, 0), size), scene.sceneRect());
    return image;
}

}  // namespace view
