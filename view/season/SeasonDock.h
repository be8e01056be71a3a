#pragma once
// The season dock: a folder's frames listed by time, the time source, and the chart of
// the plot regions' NDVI over those frames, worked out in the background (frames in
// parallel, each read once) with a progress bar and a cancel button. The window gives it
// the regions and the calibration settings, opens the frames it asks for, and tells it
// which file it opened, so that the list's current row follows.

#include "view/season/SeasonChart.h"
#include "view/season/SeasonFrames.h"

#include <QDockWidget>
#include <QFutureWatcher>

#include <atomic>
#include <memory>

class QChart;
class QChartView;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

namespace view {

class SeasonDock : public QDockWidget {
    Q_OBJECT
public:
    explicit SeasonDock(QWidget* parent = nullptr);
    ~SeasonDock() override;

    // Lists the folder's bitmaps and works the chart out again; the problem in Japanese
    // when it holds none (the list is then left as it was).
    QString openFolder(const QString& folder);
    const QString& folder() const noexcept { return folder_; }
    // "mtime" or "name:PATTERN", as in the field; false, with the field as it was, for
    // any other text. The list is made again in the new order.
    bool setTimeSource(const QString& text);
    // The time source in use, as setTimeSource() takes it.
    QString timeSourceText() const;

    // The regions and how each frame is calibrated; the chart is worked out again when
    // they differ from the last ones given.
    void setInputs(const engine::RegionSet& regions, const engine::SeasonSettings& settings);

    // The path of the frame delta rows from the current one (the first when there is
    // none), made current; empty past either end.
    QString step(int delta);
    // The window opened path: the row that lists it becomes current.
    void showOpened(const QString& path);
    int currentRow() const;

    const std::vector<SeasonEntry>& entries() const noexcept { return entries_; }
    const engine::RegionSet& regions() const noexcept { return regions_; }
    // A computation has started and its results are not yet shown.
    bool busy() const noexcept { return running_; }
    // Every listed frame worked out (or failed) for the regions and settings given last.
    bool complete() const noexcept { return complete_; }
    // Listed frames without figures: unreadable, outside the regions, or without a time.
    std::size_t failedCount() const;
    QChart* chart() const;
    QString statusText() const;
    // The warning shown when the frames' modification times cannot be when they were
    // taken (engine::seasonTimeWarning); empty when there is none.
    QString timeWarningText() const;
    QStringList listTexts() const;

    // The table of the complete chart, as zrvimage-batch series writes it.
    std::string csv() const;
    // The chart as exported: the plots and bands shown, under its caption.
    QImage chartImage(QSize size) const;
    // The exported chart's caption: its title, the dates with their year, the
    // calibration rule and the flat-field.
    QStringList chartCaption() const;
    // Which plots and whether their bands are shown; the menu follows.
    const ChartShown& chartShown() const noexcept { return shown_; }
    void setChartShown(const ChartShown& shown);
    // A name for an export, in the folder: its own name and suffix.
    QString proposedName(const QString& suffix) const;

public slots:
    void cancel();
    // A click on the chart at point: the frame nearest in time is asked for.
    void pointClicked(const QPointF& point);

signals:
    void frameRequested(const QString& path);
    // A run has finished with every frame worked out or failed.
    void computed();
    // Busy or complete changed, for the window's actions.
    void stateChanged();
    // The user changed the time rule in its field: one step for the undo history.
    void timeSourceEdited(const QString& before, const QString& after);

private:
    void recompute();
    void finished();
    void fillList();
    void showChart();
    void showTimeWarning();
    void fillShownMenu();

    QString folder_;
    engine::TimeSource timeSource_;
    std::vector<SeasonEntry> entries_;
    engine::RegionSet regions_;
    engine::SeasonSettings settings_;
    std::optional<std::string> inputsKey_;  // of the regions and settings given last
    bool complete_ = false;
    ChartShown shown_;

    QFutureWatcher<FrameOutcome>* watcher_ = nullptr;
    std::shared_ptr<std::atomic<bool>> cancelFlag_;
    bool running_ = false;  // until its results are taken or it is cancelled
    std::vector<std::size_t> runEntries_;  // the entries of the running computation, in its order

    QLabel* folderLabel_ = nullptr;
    QLineEdit* timeField_ = nullptr;
    QListWidget* list_ = nullptr;
    QChartView* chartView_ = nullptr;
    QMenu* shownMenu_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* timeWarning_ = nullptr;
};

}  // namespace view
