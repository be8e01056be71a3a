#pragma once
// The viewer's main window: menus, tool bar, the picture, the side panel with the
// calibration (white panel and dark target), colours, the rectangle's figures and the
// NDVI histogram, and the status bar with the pointer's pixel. It holds the picture and
// the model in use; each panel section (view/panel) and each export (view/exports)
// lives in a file of its own, and the window only joins them.

#include "engine/ops/Kernels.h"
#include "view/CalibrationHistory.h"
#include "view/Canvas.h"
#include "view/ColourScale.h"
#include "view/Figures.h"
#include "view/LoadedPicture.h"
#include "view/exports/Exports.h"
#include "view/panel/ColoursSection.h"
#include "view/regions/RegionTable.h"

#include <QFutureWatcher>
#include <QMainWindow>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QDockWidget;
class QStackedWidget;
class QTimer;
class QUndoStack;

namespace view {

class AreaSection;
class CalibrationSection;
class ColoursSection;
class HistogramSection;
class HistogramWidget;
class LegendWidget;
class ProjectController;
class ExportController;
class RecentFiles;
class RegionsModel;
class RegionsSection;
class RegionsController;
class SeasonDock;

class ViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    // What the window asks the user. Qt's dialogs by default; tests answer in code.
    struct Prompts {
        std::function<QString()> openPath;  // empty: cancelled
        // The name chosen to save under, without asking about a file there: the window
        // first refuses the open picture, then asks itself. Empty: cancelled.
        std::function<QString(const QString& title, const QString& proposed, const QString& filter,
                              const QString& suffix)>
            savePath;
        // The width of a raster without a header; nothing: cancelled.
        std::function<std::optional<std::int64_t>(const QString& path, std::int64_t fileBytes)> rasterWidth;
        std::function<void(const QString& text)> message;
        std::function<bool(const QString& question)> confirm;
        // The calibration file to open; empty: cancelled.
        std::function<QString()> openCalibrationPath;
        // The time a calibration is set at, as written into its file.
        std::function<std::time_t()> now;
        // The name of a region just drawn, proposed first; nothing: cancelled.
        std::function<std::optional<QString>(const QString& proposed)> regionName;
        // The regions file to open; empty: cancelled.
        std::function<QString()> openRegionsPath;
        // The folder of a season to open; empty: cancelled.
        std::function<QString()> openFolderPath;
        // The flat-field file to open; empty: cancelled.
        std::function<QString()> openFlatFieldPath;
        // Which of the tags found (ids) stand still with the field, those in proposed
        // ticked first; nothing: cancelled.
        std::function<std::optional<std::vector<int>>(const std::vector<int>& found, const std::vector<int>& proposed)>
            fieldTags;
    };

    explicit ViewerWindow(QWidget* parent = nullptr);
    ~ViewerWindow() override;

    Prompts& prompts() noexcept { return prompts_; }

    // Shows the picture or raster (or opens the project) at path, remembered among the
    // recent files; false, after a message, when it cannot.
    bool openFile(const QString& path);
    // A frame of the season, stepped onto or chosen in its list or chart: not a recent
    // file. One that cannot be read shows its reason in place of the picture, no box;
    // false then.
    bool openFrame(const QString& path);
    // The reason shown in place of an unreadable frame; empty while a picture is shown.
    QString frameProblem() const;
    // フォルダーを開く: the folder's bitmaps listed by time in the season dock, the first
    // opened and the chart worked out; false, after a message, when it holds none.
    bool openFolder(const QString& folder);
    // PageDown, PageUp: the next or previous frame of the season's list, the regions
    // kept; nothing past either end.
    void stepFrame(int delta);
    SeasonDock* season() const noexcept { return season_; }
    // The season project open, saved and asked about before the window closes.
    ProjectController* project() const noexcept { return project_; }
    // The exports, and the checks every file written from the window passes.
    ExportController* exports() const noexcept { return exports_; }
    // The rectangle by its corners as typed (fitted to the picture like the window's
    // area fields), or none.
    void selectArea(std::optional<engine::Rectangle> typed);
    void setWhiteValues(WhiteValues white);
    WhiteValues whiteValues() const;
    void setWhiteChoice(WhiteChoice choice);
    void setView(Canvas::Mode mode);

    // Every calibration field at once: the bytes rounded to whole numbers, the
    // reflectances to the fields' three decimals.
    void setModel(const engine::NdviModel& model);
    // What the fields say now, possible or not.
    engine::NdviModel fieldsModel() const;
    // What the NDVI view and figures use: the fields' model, or while that is
    // impossible the last possible one.
    const engine::NdviModel& model() const noexcept { return model_; }
    // How the white value is taken from a white panel: the rectangle's and each frame's
    // white region's.
    WhiteChoice whiteFrom() const;
    // The named regions drawn over every frame.
    RegionsModel& regions() noexcept { return *regions_; }

    // 白色板に設定: the rectangle's white values into the spin boxes.
    void applyWhitePanel();
    // 暗色板に設定: the rectangle's means as the dark target's bytes, the rectangle
    // marked on the picture. 暗色板を解除: no dark target (bytes and reflectances 0).
    void applyDarkTarget();
    void clearDarkTarget();
    // 較正を保存: the calibration in use with its source, as zrvimage-batch calibrate
    // writes it. 較正を開く: a calibration file's model into the fields, its source
    // shown. False, after a message naming the file, when it cannot.
    bool saveCalibration(const QString& path);
    bool openCalibration(const QString& path);
    // A calibration's model and source into the fields, one undo step; false, after a
    // message naming named, when the fields cannot show it.
    bool setCalibration(const engine::CalibrationRecord& record, const QString& named);
    // Where the calibration in use came from, as the panel shows it, and its warnings.
    const CalibrationState& calibrationState() const noexcept { return committed_; }

    // 周辺減光補正…: the flat-field file through which every figure of a bitmap is then
    // worked out, one undo step; refused, after the engine's message, when it cannot be
    // read or is not the open picture's size. 周辺減光補正を解除: none again. A white
    // panel or dark target taken from the open picture is read again through the new
    // correction in the same step.
    bool openFlatField(const QString& path);
    void clearFlatField();
    const engine::FlatField* flatField() const noexcept { return committed_.flat.get(); }
    // The open bitmap's NDVI through the flat-field in use, row-major; null without one.
    const float* correctedNdvi() const noexcept { return corrected_.get(); }
    // One history over the regions, the calibration, the flat-field, the time rule and
    // the colours, kept from frame to frame.
    QUndoStack* undoStack() const noexcept { return undo_; }
    // 元に戻す, やり直し: typed fields not yet a step first become one; steps that mean
    // nothing on the frame shown (its rectangles) are passed over.
    void undoStep();
    void redoStep();

    // 領域を開く and 領域を保存: the regions file through the engine, whole or not at
    // all. False, after a message naming the file, when it cannot.
    bool openRegions(const QString& path);
    bool saveRegions(const QString& path);
    // 領域をマーカーに固定: the regions, as they lie on the open bitmap, anchored to the
    // tags found on it as zrvimage-batch anchor does; the field's tags asked for when the
    // set names none yet. False, after a message naming the tags missing, with the
    // regions as they were, when fewer than two field tags are found.
    bool anchorRegionsToMarkers();
    // The left button's tool: the rectangle, or drawing regions.
    void setTool(Canvas::Tool tool);
    const RegionsSection* regionsSection() const noexcept { return regionsSection_; }

    // The exports, to path; false, after a message, when nothing or not all was written.
    bool exportRaster(const QString& path);
    bool exportTiff(const QString& path);
    bool exportViewPicture(const QString& path);
    bool exportFigures(const QString& path);
    // The season's chart as PNG, and its table as zrvimage-batch series writes it.
    bool exportSeasonChart(const QString& path);
    bool exportSeasonTable(const QString& path);
    // The rectangle's figures as one tab-separated line, and its corners.
    QString figuresLine() const;

    const LoadedPicture* picture() const noexcept { return picture_.get(); }
    // What the exports write from: the NDVI of each byte pair under model(), the
    // colours of the NDVI and gain views, the rectangle's figures when complete.
    const engine::NdviTable& ndviTable() const { return *table_; }
    // The vegetation index the NDVI view, its figures and the raster exports are of
    // (指数 in the colours' section), NDVI unless another is chosen.
    const engine::VegetationIndex& index() const noexcept { return index_; }
    void setIndex(const engine::VegetationIndex& index);
    const ColourScale& ndviScale() const noexcept { return scale_; }
    const ColourScale& gainScale() const noexcept { return gainScale_; }
    const std::optional<RegionFigures>& figures() const noexcept { return figures_; }
    // Waits for a correction still being worked out and takes it.
    void settleCorrection();
    // Beside the pointer's pixel for a while: what was just written or copied.
    void showNotice(const QString& text);
    void clearNotice();
    Canvas* canvas() const noexcept { return canvas_; }
    QString pointerText() const;
    // What was last written or copied, shown beside the pointer's pixel for a while.
    QString noticeText() const;
    QStringList panelLines() const;
    const HistogramWidget* histogram() const noexcept;

signals:
    // model() or whiteFrom() changed: what a frame's figures are worked out with.
    void calibrationInUseChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createPanel();
    bool openPicture(const QString& path, bool byUser);
    // remember: among the recent files.
    void install(std::unique_ptr<LoadedPicture> picture, const QString& path, bool remember);
    // No picture, and in its place why the frame at path cannot be shown.
    void showUnreadable(const QString& path, const QString& reason);
    void calibrationChanged();
    // Typed fields that differ from the committed state become one undo step.
    void commitTypedFields();
    // One undo step from the committed state to after, applied now.
    void pushCalibration(const QString& text, const CalibrationState& after);
    void applyCalibration(const CalibrationState& state);
    void showCalibrationSource();
    void keepCalibration();
    void restoreCalibration();
    void rectangleChanged();
    std::string nowText() const;
    // The model line: the model in use, or for a raster the one it was made with.
    void refreshModelLine();
    void coloursChanged();
    // The table, the correction and the whole picture's histogram of index.
    void applyIndex(const engine::VegetationIndex& index);
    void selectionChanged();
    // Enter in the panel's rectangle field: the corners typed, fitted to the picture,
    // or a message and the rectangle as it was; an empty field, no rectangle.
    void applyTypedRectangle(const QString& text);
    void computeFigures(bool channelsToo);
    void refreshPanel();
    void refreshPointer();
    void updateActions();
    void chooseAndOpen();
    void showHelp();
    // The folder the open dialogs start in.
    void rememberFolder(const QString& path);
    void createSeason();
    // The project's name and mark, the picture's name, the program's.
    void updateTitle();
    // The regions and the calibration in use, for the season's chart.
    void giveSeasonInputs();
    // The corrected NDVI of the open bitmap for the model and flat-field in use, with the
    // whole picture's histogram of it: at once for a picture of a few million pixels,
    // in the background for a larger one (the figures wait for it).
    void refreshCorrection();
    struct Correction {
        std::shared_ptr<const float[]> values;
        engine::NdviStats histogram;
    };
    void takeCorrection(Correction correction);
    // The flat-field's parts of the window: the panel's line, the fields' range, the gain
    // views and their scale.
    void showFlatField();
    // The white panel's and the dark target's values read again from their rectangles on
    // the open picture through state's flat-field (or none); the others stay.
    void rereadPanel(CalibrationState& state) const;
    // Why a picture of width x height at path cannot be shown through the flat-field in
    // use (it does not fit, or its corrected NDVI does not fit in memory), naming named;
    // empty when it can.
    QString flatFieldRefusal(const engine::FlatField& flat, const QString& path, std::int64_t width,
                             std::int64_t height, const QString& named) const;
    // What to tell about a calibration made through another flat-field than the one in
    // use (or none); empty when they agree.
    QString flatFieldMismatch(const engine::CalibrationSource& source) const;

    Prompts prompts_;
    // Shared with a figures computation still running for a large rectangle.
    std::shared_ptr<const LoadedPicture> picture_;
    // Its tags once searched for; shared with a table still being worked out.
    std::shared_ptr<PictureTags> pictureTags_;
    engine::NdviModel model_ = engine::NdviModel::plain(255, 255);
    engine::VegetationIndex index_;
    std::optional<engine::NdviTable> table_;  // of model_ and index_
    // The bitmap's NDVI through the flat-field in use; shared with a computation of
    // figures still running.
    std::shared_ptr<const float[]> corrected_;
    QFutureWatcher<Correction>* correctionWatcher_ = nullptr;
    bool correctionPending_ = false;
    ColourScale gainScale_;
    ColourScale scale_;
    std::vector<QRgb> pairColours_;
    std::optional<RegionFigures> figures_;  // complete, for the rectangle shown
    bool figuresPending_ = false;
    QFutureWatcher<RegionFigures>* figuresWatcher_ = nullptr;
    engine::NdviStats wholeHistogram_;
    std::optional<std::pair<std::int64_t, std::int64_t>> pointer_;  // x, y
    QUndoStack* undo_ = nullptr;
    RegionsModel* regions_ = nullptr;  // the controller's
    CalibrationState committed_;
    std::optional<engine::Rectangle> committedArea_;  // the rectangle as last undoable
    bool applying_ = false;  // a step's own changes are not steps
    // Counts the pictures shown: a rectangle's step lives on the one it was drawn on.
    std::uint64_t pictureGeneration_ = 0;
    ColoursSection::State committedColours_;
    bool applyingColours_ = false;

    Canvas* canvas_ = nullptr;
    QStackedWidget* pictureStack_ = nullptr;
    QLabel* problemLabel_ = nullptr;
    QString unreadable_;  // the frame whose reason is shown in place of the picture
    LegendWidget* legend_ = nullptr;
    QLabel* pointerLabel_ = nullptr;
    QLabel* noticeLabel_ = nullptr;
    QTimer* noticeTimer_ = nullptr;
    QLabel* sizeLabel_ = nullptr;
    QLabel* zoomLabel_ = nullptr;
    CalibrationSection* calibration_ = nullptr;
    ColoursSection* colours_ = nullptr;
    AreaSection* area_ = nullptr;
    HistogramSection* histogramSection_ = nullptr;
    RegionsSection* regionsSection_ = nullptr;  // the controller's
    RegionsController* regionsController_ = nullptr;
    QDockWidget* regionsDock_ = nullptr;
    SeasonDock* season_ = nullptr;
    ProjectController* project_ = nullptr;
    ExportController* exports_ = nullptr;

    RecentFiles* recent_ = nullptr;
    QActionGroup* viewGroup_ = nullptr;
    std::vector<QAction*> viewActions_;
    QAction* exportRasterAction_ = nullptr;
    QAction* exportTiffAction_ = nullptr;
    QAction* exportPictureAction_ = nullptr;
    QAction* exportFiguresAction_ = nullptr;
    QAction* exportSeasonChartAction_ = nullptr;
    QAction* exportSeasonTableAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* copyRectAction_ = nullptr;
    QAction* clearRectAction_ = nullptr;
    QAction* fitAction_ = nullptr;
    QAction* actualSizeAction_ = nullptr;
    QAction* zoomInAction_ = nullptr;
    QAction* zoomOutAction_ = nullptr;
    QAction* regionToolAction_ = nullptr;
    QAction* anchorAction_ = nullptr;
    QAction* clearFlatFieldAction_ = nullptr;
};

}  // namespace view
