#include "view/season/SeasonDock.h"

#include "engine/calibration/FlatField.h"
#include "view/regions/RegionTable.h"
#include "view/season/SeasonChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QLegend>
#include <QLegendMarker>
#include <QMenu>
#include <QScatterSeries>
#include <QToolButton>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cmath>

namespace view {

namespace {

std::string inputsKey(const engine::RegionSet& regions, const engine::SeasonSettings& s)
{
    std::string key = engine::regionsJson(regions);
    const auto put = [&key](double v) { key += ',' + std::to_string(v); };
    const auto model = [&put](const engine::NdviModel& m) {
        for (const auto* band : {&m.nir, &m.red}) {
            put(band->dnWhite), put(band->rWhite), put(band->dnDark), put(band->rDark);
        }
    };
    // The flat-field by its model: the same file opened again changes nothing.
    if (s.flatField) key += "|flat|" + s.flatField->path() + '|' + engine::flatFieldDescription(s.flatField->model());
    key += s.fixed ? "|fixed" : "|panel";
    if (s.fixed) {
        model(*s.fixed);
        return key;
    }
    // Each frame's panel gives its bytes: only the rule and the reflectances count, so
    // white values set from the frame on screen do not start the chart again.
    key += '|' + std::string(engine::whiteFromName(s.whiteFrom));
    for (const auto* band : {&s.reflectances.nir, &s.reflectances.red}) put(band->rWhite), put(band->rDark);
    return key;
}

}  // namespace

SeasonDock::SeasonDock(QWidget* parent) : QDockWidget(QStringLiteral("時系列"), parent)
{
    setObjectName(QStringLiteral("season"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetClosable);

    auto* body = new QWidget;
    auto* row = new QHBoxLayout(body);

    auto* side = new QVBoxLayout;
    folderLabel_ = new QLabel;
    folderLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    side->addWidget(folderLabel_);
    auto* timeRow = new QHBoxLayout;
    auto* timeLabel = new QLabel(QStringLiteral("時刻:"));
    timeField_ = new QLineEdit(QStringLiteral("mtime"));
    timeField_->setObjectName(QStringLiteral("timeSource"));
    timeField_->setToolTip(QStringLiteral("mtime（ファイルの更新時刻）か name:パターン（例 name:cam_%Y%m%d_%H%M%S）"));
    timeLabel->setBuddy(timeField_);
    timeRow->addWidget(timeLabel);
    timeRow->addWidget(timeField_, 1);
    side->addLayout(timeRow);
    timeWarning_ = new QLabel;
    timeWarning_->setObjectName(QStringLiteral("seasonTimeWarning"));
    timeWarning_->setWordWrap(true);
    timeWarning_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    timeWarning_->setStyleSheet(QStringLiteral("color: #a05000;"));
    timeWarning_->hide();
    side->addWidget(timeWarning_);
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("frames"));
    list_->setAccessibleName(QStringLiteral("フレーム"));
    side->addWidget(list_, 1);
    auto* sideWidget = new QWidget;
    sideWidget->setLayout(side);
    sideWidget->setFixedWidth(sideWidget->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 44);
    row->addWidget(sideWidget);

    auto* main = new QVBoxLayout;
    // With six plots the bands hide each other: each plot and the bands are shown or
    // hidden here, or by a click on the plot's name in the legend.
    auto* shownButton = new QToolButton;
    shownButton->setObjectName(QStringLiteral("chartShown"));
    shownButton->setText(QStringLiteral("表示する区画"));
    shownButton->setPopupMode(QToolButton::InstantPopup);
    shownMenu_ = new QMenu(shownButton);
    shownButton->setMenu(shownMenu_);
    auto* chartBar = new QHBoxLayout;
    chartBar->addStretch(1);
    chartBar->addWidget(shownButton);
    main->addLayout(chartBar);
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignRight);
    chartView_ = new QChartView(chart);
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setMinimumHeight(220);
    main->addWidget(chartView_, 1);
    auto* progressRow = new QHBoxLayout;
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("seasonStatus"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    progress_ = new QProgressBar;
    progress_->setVisible(false);
    cancelButton_ = new QPushButton(QStringLiteral("中止"));
    cancelButton_->setVisible(false);
    progressRow->addWidget(status_, 1);
    progressRow->addWidget(progress_);
    progressRow->addWidget(cancelButton_);
    main->addLayout(progressRow);
    row->addLayout(main, 1);
    setWidget(body);

    watcher_ = new QFutureWatcher<FrameOutcome>(this);
    connect(watcher_, &QFutureWatcher<FrameOutcome>::progressRangeChanged, progress_, &QProgressBar::setRange);
    connect(watcher_, &QFutureWatcher<FrameOutcome>::progressValueChanged, progress_, &QProgressBar::setValue);
    // setFuture() lets go of an earlier run: only the latest reports.
    connect(watcher_, &QFutureWatcher<FrameOutcome>::finished, this, &SeasonDock::finished);
    connect(cancelButton_, &QPushButton::clicked, this, &SeasonDock::cancel);
    connect(timeField_, &QLineEdit::editingFinished, this, [this] {
        const QString before = timeSourceText();
        if (timeField_->text() != before && setTimeSource(timeField_->text()) && timeSourceText() != before) {
            emit timeSourceEdited(before, timeSourceText());
        }
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        emit frameRequested(item->data(Qt::UserRole).toString());
    });
}

SeasonDock::~SeasonDock()
{
    // Runs still going work on copies of their inputs; they are only told to stop.
    if (cancelFlag_) cancelFlag_->store(true);
    watcher_->cancel();
}

QString SeasonDock::openFolder(const QString& folder)
{
    std::vector<SeasonEntry> listed = listSeasonFolder(folder, timeSource_);
    if (listed.empty()) {
        return QStringLiteral("フォルダーに24ビットBMP（.bmp）がありません\n%1").arg(QDir::toNativeSeparators(folder));
    }
    folder_ = QFileInfo(folder).absoluteFilePath();
    entries_ = std::move(listed);
    folderLabel_->setText(QDir::toNativeSeparators(folder_));
    folderLabel_->setToolTip(QDir::toNativeSeparators(folder_));
    // No row of the last folder's list stands for one of this one's.
    list_->clear();
    fillList();
    recompute();
    return {};
}

bool SeasonDock::setTimeSource(const QString& text)
{
    const auto source = engine::TimeSource::byText(text.trimmed().toStdString());
    if (!source) {
        status_->setText(QStringLiteral("時刻は mtime か name:パターン で指定してください: '%1'").arg(text));
        return false;
    }
    timeSource_ = *source;
    timeField_->setText(text.trimmed());
    if (!folder_.isEmpty()) {
        const QString current = currentRow() >= 0 ? entries_[static_cast<std::size_t>(currentRow())].path : QString();
        entries_ = listSeasonFolder(folder_, timeSource_);
        fillList();
        showOpened(current);
        recompute();
    }
    return true;
}

QString SeasonDock::timeSourceText() const
{
    return timeSource_.kind == engine::TimeSource::Kind::Name ? QStringLiteral("name:") + QString::fromStdString(timeSource_.pattern)
                                                              : QStringLiteral("mtime");
}

void SeasonDock::setInputs(const engine::RegionSet& regions, const engine::SeasonSettings& settings)
{
    std::string key = inputsKey(regions, settings);
    if (inputsKey_ == key) return;
    inputsKey_ = std::move(key);
    regions_ = regions;
    settings_ = settings;
    recompute();
}

void SeasonDock::cancel()
{
    if (!busy()) return;
    cancelFlag_->store(true);
    watcher_->cancel();
    running_ = false;
    progress_->setVisible(false);
    cancelButton_->setVisible(false);
    status_->setText(QStringLiteral("中止しました"));
    // The chart of earlier regions or calibration is not left to be taken for this one.
    showChart();
    emit stateChanged();
}

void SeasonDock::recompute()
{
    if (cancelFlag_) cancelFlag_->store(true);
    watcher_->cancel();
    running_ = false;
    complete_ = false;
    runEntries_.clear();
    for (SeasonEntry& e : entries_) {
        e.figures.reset();
        if (!e.time.empty()) e.problem.clear();
    }
    progress_->setVisible(false);
    cancelButton_->setVisible(false);
    const auto problem = inputsKey_ ? engine::regionsProblem(regions_) : std::nullopt;
    const auto unusable = inputsKey_ && !problem ? engine::seasonProblem(regions_, settings_) : std::nullopt;
    if (entries_.empty() || !inputsKey_ || problem || unusable) {
        fillList();
        showChart();
        status_->setText(problem ? QString::fromStdString(*problem) : unusable ? QString::fromStdString(*unusable) : QString());
        emit stateChanged();
        return;
    }
    QList<QString> paths;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].time.empty()) continue;
        runEntries_.push_back(i);
        paths.append(entries_[i].path);
    }
    cancelFlag_ = std::make_shared<std::atomic<bool>>(false);
    auto inputs = std::make_shared<const std::pair<engine::RegionSet, engine::SeasonSettings>>(regions_, settings_);
    // Frames in parallel, each read once; a cancelled run stops between blocks of rows.
    std::function<FrameOutcome(const QString&)> work = [flag = cancelFlag_, inputs](const QString& path) {
        return workOutFrame(path, inputs->first, inputs->second, flag.get());
    };
    status_->setText(QStringLiteral("%1 枚を計算中…").arg(paths.size()));
    progress_->setRange(0, static_cast<int>(paths.size()));
    progress_->setValue(0);
    progress_->setVisible(true);
    cancelButton_->setVisible(true);
    running_ = true;
    watcher_->setFuture(QtConcurrent::mapped(paths, work));
    fillList();
    emit stateChanged();
}

void SeasonDock::finished()
{
    if (!running_ || watcher_->isCanceled()) return;
    running_ = false;
    const QFuture<FrameOutcome> future = watcher_->future();
    for (std::size_t k = 0; k < runEntries_.size(); ++k) {
        const FrameOutcome outcome = future.resultAt(static_cast<int>(k));
        SeasonEntry& e = entries_[runEntries_[k]];
        e.figures = outcome.figures;
        e.problem = outcome.problem;
    }
    runEntries_.clear();
    complete_ = true;
    progress_->setVisible(false);
    cancelButton_->setVisible(false);
    std::size_t charted = 0, failed = 0;
    for (const SeasonEntry& e : entries_) (e.figures ? charted : failed) += 1;
    // How the frames were calibrated, since the chart depends on it.
    const QString calibrated = calibrationRuleText(regions_, settings_);
    status_->setText((failed == 0 ? QStringLiteral("%1 枚").arg(charted)
                                  : QStringLiteral("%1 枚、読めないフレーム %2 枚（一覧に理由）").arg(charted).arg(failed)) +
                     QStringLiteral("。") + calibrated);
    fillList();
    showChart();
    emit stateChanged();
    emit computed();
}

void SeasonDock::showTimeWarning()
{
    std::vector<engine::SeasonFrame> timed;
    for (const SeasonEntry& e : entries_) {
        if (!e.time.empty()) timed.push_back({encodedPath(e.path), e.time, {}});
    }
    const auto warning = engine::seasonTimeWarning(timed, timeSource_, "時刻の欄に ");
    timeWarning_->setText(warning ? QStringLiteral("⚠ ") + QString::fromStdString(*warning) : QString());
    timeWarning_->setVisible(warning.has_value());
}

QString SeasonDock::timeWarningText() const
{
    return timeWarning_->text();
}

void SeasonDock::fillList()
{
    showTimeWarning();
    const int row = list_->currentRow();
    list_->clear();
    for (const SeasonEntry& e : entries_) {
        const QString name = QFileInfo(e.path).fileName();
        QString text = e.time.empty() ? name : QString::fromStdString(e.time).replace(QLatin1Char('T'), QLatin1Char(' ')) + QStringLiteral("  ") + name;
        if (!e.problem.isEmpty()) text += QStringLiteral(" — ") + e.problem;
        if (e.figures && !e.figures->panelWarnings.empty()) text += QStringLiteral(" ⚠");
        auto* item = new QListWidgetItem(text, list_);
        item->setData(Qt::UserRole, e.path);
        QString tip = e.problem.isEmpty() ? QDir::toNativeSeparators(e.path) : e.problem;
        if (e.figures && e.figures->registration) tip += QStringLiteral("\n") + placementText(*e.figures->registration);
        if (e.figures && !e.figures->panelWarnings.empty()) {
            QStringList keys;
            for (const engine::PanelCheck check : e.figures->panelWarnings) keys << QString::fromLatin1(engine::panelCheckKey(check));
            tip += QStringLiteral("\n⚠ 白色板か暗色板の確認に外れました（CSVの panel_warning 列: %1）").arg(keys.join(QLatin1Char(';')));
            for (const std::string& text : e.figures->warningTexts) tip += QStringLiteral("\n") + QString::fromStdString(text);
        }
        item->setToolTip(tip);
        if (!e.problem.isEmpty()) item->setForeground(Qt::red);
    }
    if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
}

void SeasonDock::showChart()
{
    QChart* c = chart();
    fillSeasonChart(*c, complete_ ? entries_ : std::vector<SeasonEntry>{}, regions_, shown_);
    for (QAbstractSeries* s : c->series()) {
        if (auto* line = qobject_cast<QLineSeries*>(s)) connect(line, &QLineSeries::clicked, this, &SeasonDock::pointClicked);
        if (auto* points = qobject_cast<QScatterSeries*>(s)) connect(points, &QScatterSeries::clicked, this, &SeasonDock::pointClicked);
        if (auto* band = qobject_cast<QAreaSeries*>(s)) connect(band, &QAreaSeries::clicked, this, &SeasonDock::pointClicked);
    }
    for (QLegendMarker* marker : c->legend()->markers()) {
        const std::string name = marker->label().toStdString();
        connect(marker, &QLegendMarker::clicked, this, [this, name] {
            ChartShown shown = shown_;
            shown.hiddenPlots.insert(name);
            setChartShown(shown);
        });
    }
    fillShownMenu();
}

void SeasonDock::fillShownMenu()
{
    shownMenu_->clear();
    QAction* bands = shownMenu_->addAction(QStringLiteral("p05–p95 の帯"));
    bands->setCheckable(true);
    bands->setChecked(shown_.bands);
    connect(bands, &QAction::toggled, this, [this](bool on) {
        ChartShown shown = shown_;
        shown.bands = on;
        setChartShown(shown);
    });
    QAction* phenology = shownMenu_->addAction(QStringLiteral("季節の曲線と日付"));
    phenology->setCheckable(true);
    phenology->setChecked(shown_.phenology);
    phenology->setToolTip(QStringLiteral("各区画の値に季節の曲線を当てはめ、生育開始から生育終了までの日付を示します"));
    connect(phenology, &QAction::toggled, this, [this](bool on) {
        ChartShown shown = shown_;
        shown.phenology = on;
        setChartShown(shown);
    });
    shownMenu_->addSeparator();
    const auto plots = regions_.plots();
    if (plots.size() > 1) {
        shownMenu_->addAction(QStringLiteral("すべての区画を表示"), this, [this] {
            ChartShown shown = shown_;
            shown.hiddenPlots.clear();
            setChartShown(shown);
        });
    }
    for (const engine::Region* plot : plots) {
        QAction* a = shownMenu_->addAction(QString::fromStdString(plot->name));
        a->setCheckable(true);
        a->setChecked(!shown_.hiddenPlots.count(plot->name));
        connect(a, &QAction::toggled, this, [this, name = plot->name](bool on) {
            ChartShown shown = shown_;
            if (on) {
                shown.hiddenPlots.erase(name);
            } else {
                shown.hiddenPlots.insert(name);
            }
            setChartShown(shown);
        });
    }
}

void SeasonDock::setChartShown(const ChartShown& shown)
{
    // Queued: the menu's action or the legend's marker that asked is deleted by the
    // chart filled again.
    QMetaObject::invokeMethod(this, [this, shown] {
        shown_ = shown;
        showChart();
    }, Qt::QueuedConnection);
}

QStringList SeasonDock::chartCaption() const
{
    const QString title = QStringLiteral("NDVI の推移: %1").arg(QDir(folder_).dirName());
    return seasonChartCaption(title, complete_ ? entries_ : std::vector<SeasonEntry>{}, regions_, settings_);
}

QString SeasonDock::step(int delta)
{
    if (entries_.empty()) return {};
    const int row = list_->currentRow() < 0 ? (delta > 0 ? 0 : -1) : list_->currentRow() + delta;
    if (row < 0 || row >= list_->count()) return {};
    list_->setCurrentRow(row);
    return entries_[static_cast<std::size_t>(row)].path;
}

void SeasonDock::showOpened(const QString& path)
{
    const QString wanted = QFileInfo(path).absoluteFilePath();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].path == wanted) {
            list_->setCurrentRow(static_cast<int>(i));
            return;
        }
    }
    list_->setCurrentRow(-1);
}

int SeasonDock::currentRow() const
{
    return list_->currentRow();
}

void SeasonDock::pointClicked(const QPointF& point)
{
    const SeasonEntry* nearest = nullptr;
    double distance = 0;
    for (const SeasonEntry& e : entries_) {
        const auto x = e.figures ? chartTime(e.time) : std::nullopt;
        if (!x) continue;
        const double d = std::abs(static_cast<double>(*x) - point.x());
        if (!nearest || d < distance) nearest = &e, distance = d;
    }
    if (nearest) emit frameRequested(nearest->path);
}

std::size_t SeasonDock::failedCount() const
{
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [](const SeasonEntry& e) { return !e.problem.isEmpty(); }));
}

QChart* SeasonDock::chart() const
{
    return chartView_->chart();
}

QString SeasonDock::statusText() const
{
    return status_->text();
}

QStringList SeasonDock::listTexts() const
{
    QStringList texts;
    for (int i = 0; i < list_->count(); ++i) texts << list_->item(i)->text();
    return texts;
}

std::string SeasonDock::csv() const
{
    return seasonCsv(entries_, regions_);
}

QImage SeasonDock::chartImage(QSize size) const
{
    return renderSeasonChart(complete_ ? entries_ : std::vector<SeasonEntry>{}, regions_, size, shown_, chartCaption());
}

QString SeasonDock::proposedName(const QString& suffix) const
{
    const QDir dir(folder_);
    return dir.filePath(dir.dirName() + suffix);
}

}  // namespace view
