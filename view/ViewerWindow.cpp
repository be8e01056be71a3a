#include "view/ViewerWindow.h"
#include "view/WheelGuard.h"
#include "view/window/DefaultPrompts.h"
#include "view/window/HelpText.h"
#include "view/window/PictureOpening.h"
#include "view/window/RecentFiles.h"

#include "engine/calibration/CalibrationFile.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/Messages.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"
#include "runtime/Exceptions.h"
#include "view/CommandLine.h"
#include "view/FlatFieldView.h"
#include "view/LegendWidget.h"
#include "view/ReadableLabel.h"
#include "view/exports/ExportController.h"
#include "view/exports/FiguresExport.h"
#include "view/exports/RasterExport.h"
#include "view/exports/TiffExport.h"
#include "view/exports/ViewPictureExport.h"
#include "view/exports/WholeFile.h"
#include "view/panel/AreaSection.h"
#include "view/panel/CalibrationSection.h"
#include "view/panel/ColoursSection.h"
#include "view/panel/HistogramSection.h"
#include "view/regions/Anchoring.h"
#include "view/regions/FieldTagsDialog.h"
#include "view/regions/RegionsController.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"
#include "view/season/ProjectController.h"
#include "view/season/SeasonChart.h"
#include "view/season/SeasonDock.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QtConcurrent/QtConcurrentRun>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

namespace view {

namespace {

const QString kTitle = QStringLiteral("ZRV画像ビューア");

QSettings settings()
{
    return QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view"));
}

std::string encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString decoded(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Restores the cursor however the work ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

ViewerWindow::ViewerWindow(QWidget* parent) : QMainWindow(parent), table_(std::in_place, 255.0f, 255.0f), pairColours_(std::size_t{1} << 16)
{
    setWindowTitle(kTitle);
    setAcceptDrops(true);

    useDialogs(prompts_, this);
    undo_ = new QUndoStack(this);
    regionsController_ = new RegionsController(*this);
    regions_ = &regionsController_->model();
    regionsSection_ = regionsController_->section();
    connect(regionsController_, &RegionsController::frameModelChanged, this, &ViewerWindow::refreshModelLine);

    figuresWatcher_ = new QFutureWatcher<RegionFigures>(this);
    // Only the latest computation reports: setFuture lets go of any earlier one.
    connect(figuresWatcher_, &QFutureWatcher<RegionFigures>::finished, this, [this] {
        if (!figuresPending_ || figuresWatcher_->isCanceled()) return;
        figuresPending_ = false;
        figures_ = figuresWatcher_->result();
        refreshPanel();
        updateActions();
    });

    correctionWatcher_ = new QFutureWatcher<Correction>(this);
    connect(correctionWatcher_, &QFutureWatcher<Correction>::finished, this, [this] {
        if (correctionPending_ && !correctionWatcher_->isCanceled()) takeCorrection(correctionWatcher_->result());
    });


    canvas_ = new Canvas;
    canvas_->setRegions(regions_);
    connect(canvas_, &Canvas::regionDrawn, regionsController_, &RegionsController::addDrawn);
    legend_ = new LegendWidget(&scale_);
    // A season's frame that cannot be read shows why where its picture would be.
    problemLabel_ = new QLabel;
    problemLabel_->setObjectName(QStringLiteral("frameProblem"));
    problemLabel_->setAccessibleName(QStringLiteral("読めないフレーム"));
    problemLabel_->setAlignment(Qt::AlignCenter);
    problemLabel_->setWordWrap(true);
    problemLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problemLabel_->setStyleSheet(QStringLiteral("color: #b00000; background: #f4f4f4; padding: 24px;"));
    pictureStack_ = new QStackedWidget;
    pictureStack_->addWidget(canvas_);
    pictureStack_->addWidget(problemLabel_);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pictureStack_, 1);
    layout->addWidget(legend_);
    setCentralWidget(central);

    pointerLabel_ = new QLabel;
    pointerLabel_->setObjectName(QStringLiteral("pointer"));
    pointerLabel_->setAccessibleName(QStringLiteral("ポインターの画素"));
    pointerLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // What was just written or copied, beside the pointer's pixel rather than under
    // it: the status bar's own messages give way to the readout at the next move.
    noticeLabel_ = new QLabel;
    noticeLabel_->setObjectName(QStringLiteral("notice"));
    noticeLabel_->setAccessibleName(QStringLiteral("お知らせ"));
    noticeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // As tall with Japanese text as without: a notice never moves the picture.
    noticeLabel_->setText(QStringLiteral("書き出しました"));
    noticeLabel_->setMinimumHeight(noticeLabel_->sizeHint().height());
    noticeLabel_->clear();
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    connect(noticeTimer_, &QTimer::timeout, this, &ViewerWindow::clearNotice);
    sizeLabel_ = new QLabel;
    zoomLabel_ = new QLabel;
    statusBar()->addPermanentWidget(noticeLabel_);
    statusBar()->addPermanentWidget(pointerLabel_, 1);
    statusBar()->addPermanentWidget(sizeLabel_);
    statusBar()->addPermanentWidget(zoomLabel_);

    createPanel();
    createSeason();
    project_ = new ProjectController(*this);
    exports_ = new ExportController(*this);
    connect(project_, &ProjectController::titleChanged, this, &ViewerWindow::updateTitle);
    connect(project_, &ProjectController::opened, this, [this](const QString& path) { recent_->add(path); });
    connect(project_, &ProjectController::saved, this, [this](const QString& path) {
        recent_->add(path);
        showNotice(QStringLiteral("プロジェクトを保存しました: %1").arg(QDir::toNativeSeparators(path)));
    });
    createActions();
    connect(regions_, &RegionsModel::changed, this, &ViewerWindow::updateActions);
    connect(season_, &SeasonDock::timeSourceEdited, this, [this](const QString& before, const QString& after) {
        undo_->push(new UndoStep(
            QStringLiteral("時刻"), [this, before] { season_->setTimeSource(before); },
            [this, after] { season_->setTimeSource(after); }, true));
    });
    // The fields would take Ctrl+Z for their own text: the window's history has it.
    qApp->installEventFilter(this);

    connect(canvas_, &Canvas::pointerMoved, this, [this](qint64 x, qint64 y) {
        pointer_.emplace(x, y);
        refreshPointer();
    });
    connect(canvas_, &Canvas::pointerLeft, this, [this] {
        pointer_.reset();
        refreshPointer();
    });
    connect(canvas_, &Canvas::selectionChanged, this, &ViewerWindow::selectionChanged);
    connect(canvas_, &Canvas::zoomChanged, this, [this](double zoom) {
        zoomLabel_->setText(picture_ ? QStringLiteral("倍率 %1%").arg(zoom * 100.0, 0, 'f', zoom < 0.1 ? 1 : 0)
                                     : QString());
    });

    QSettings s = settings();
    const int mode = s.value(QStringLiteral("view"), 0).toInt();
    applyingColours_ = true;
    colours_->setPaletteIndex(std::clamp(s.value(QStringLiteral("palette"), 0).toInt(), 0, 2));
    applyingColours_ = false;
    committedColours_ = colours_->state();
    restoreCalibration();
    calibrationChanged();
    showCalibrationSource();
    setView(static_cast<Canvas::Mode>(std::clamp(mode, 0, 3)));
    showFlatField();
    updateActions();
    // Room for the picture, the panel and, below them, the season beside every column
    // of the regions' figures.
    resize(QSize(1600, 1000).boundedTo(screen()->availableSize()));
}

ViewerWindow::~ViewerWindow()
{
    // First: the undo stack, deleted later with the other children, reports its
    // clearing, which the project would pass on to a window half gone.
    delete project_;
}

void ViewerWindow::createPanel()
{
    auto* panel = new QWidget;
    auto* column = new QVBoxLayout(panel);
    calibration_ = new CalibrationSection;
    connect(calibration_, &CalibrationSection::changed, this, &ViewerWindow::calibrationChanged);
    connect(calibration_, &CalibrationSection::clearDarkRequested, this, &ViewerWindow::clearDarkTarget);
    connect(calibration_, &CalibrationSection::edited, this, &ViewerWindow::commitTypedFields);
    column->addWidget(calibration_);
    colours_ = new ColoursSection;
    connect(colours_, &ColoursSection::changed, this, &ViewerWindow::coloursChanged);
    column->addWidget(colours_);
    area_ = new AreaSection;
    connect(area_, &AreaSection::whitePanelRequested, this, &ViewerWindow::applyWhitePanel);
    connect(area_, &AreaSection::darkTargetRequested, this, &ViewerWindow::applyDarkTarget);
    connect(area_, &AreaSection::rectangleTyped, this, &ViewerWindow::applyTypedRectangle);
    connect(area_, &AreaSection::whiteChoiceChanged, this, &ViewerWindow::calibrationInUseChanged);
    column->addWidget(area_);
    connect(regions_, &RegionsModel::changed, regionsController_, &RegionsController::refresh);
    connect(this, &ViewerWindow::calibrationInUseChanged, regionsController_, &RegionsController::refresh);
    // A dock of its own: the table's ten columns do not fit in the panel's width.
    regionsDock_ = new QDockWidget(QStringLiteral("領域"), this);
    regionsDock_->setObjectName(QStringLiteral("regionsDock"));
    regionsDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetClosable |
                              QDockWidget::DockWidgetFloatable);
    regionsSection_->setTitle(QString());  // the dock's title says it
    regionsDock_->setWidget(regionsSection_);
    addDockWidget(Qt::BottomDockWidgetArea, regionsDock_);
    histogramSection_ = new HistogramSection;
    column->addWidget(histogramSection_);
    column->addStretch(1);

    // A fixed width: figures of any length never move the picture.
    panel->setFixedWidth(panel->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 46);
    auto* dock = new QDockWidget(QStringLiteral("パネル"), this);
    dock->setObjectName(QStringLiteral("panel"));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetClosable);
    // Scrolled rather than stretching the window on a short screen.
    auto* scroller = new QScrollArea;
    scroller->setWidget(panel);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setFixedWidth(panel->width() + scroller->verticalScrollBar()->sizeHint().width());
    new WheelGuard(scroller);
    dock->setWidget(scroller);
    addDockWidget(Qt::RightDockWidgetArea, dock);
}

void ViewerWindow::createActions()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    QAction* open = file->addAction(QIcon::fromTheme(QStringLiteral("document-open")), QStringLiteral("開く(&O)..."),
                                    this, &ViewerWindow::chooseAndOpen);
    open->setShortcut(QKeySequence::Open);
    open->setToolTip(QStringLiteral("画像を開く（Ctrl+O）"));
    file->addAction(QStringLiteral("フォルダーを開く…"), this, [this] {
        const QString folder = prompts_.openFolderPath();
        if (!folder.isEmpty()) openFolder(folder);
    });
    project_->addActions(*file);
    recent_ = new RecentFiles(file->addMenu(QStringLiteral("最近使ったファイル(&R)")), this);
    connect(recent_, &RecentFiles::chosen, this, &ViewerWindow::openFile);
    QMenu* exports = file->addMenu(QStringLiteral("書き出し(&E)"));
    exportRasterAction_ = exports->addAction(QStringLiteral("NDVIラスター（ENVIヘッダー付き）(&N)..."), this,
                                             [this] { exports_->choose(Export::Raster); });
    exportTiffAction_ = exports->addAction(QStringLiteral("NDVI（TIFF float32）(&T)..."), this,
                                           [this] { exports_->choose(Export::Tiff); });
    exportPictureAction_ = exports->addAction(QStringLiteral("表示中の画像（PNG、凡例付き）(&P)..."), this,
                                              [this] { exports_->choose(Export::ViewPicture); });
    exportFiguresAction_ = exports->addAction(QStringLiteral("範囲の数値（CSV）(&C)..."), this,
                                              [this] { exports_->choose(Export::Figures); });
    exports->addSeparator();
    exportSeasonChartAction_ = exports->addAction(QStringLiteral("時系列グラフ（PNG）(&G)..."), this,
                                                  [this] { exports_->choose(Export::SeasonChart); });
    exportSeasonTableAction_ = exports->addAction(QStringLiteral("時系列の表（CSV）(&S)..."), this,
                                                  [this] { exports_->choose(Export::SeasonTable); });
    file->addSeparator();
    file->addAction(QStringLiteral("較正を開く(&L)..."), this, [this] {
        const QString path = prompts_.openCalibrationPath();
        if (!path.isEmpty() && openCalibration(path) && flatFieldMismatch(committed_.source).isEmpty()) {
            showNotice(QStringLiteral("較正を開きました: %1").arg(QDir::toNativeSeparators(path)));
        }
    });
    file->addAction(QStringLiteral("較正を保存(&S)..."), this, [this] {
        const QString path = prompts_.savePath(QStringLiteral("較正を保存"), exports_->proposedName(QStringLiteral(".json")),
                                               QStringLiteral("較正ファイル (*.json)"), QStringLiteral("json"));
        if (path.isEmpty()) return;
        // The save dialog leaves the question about an existing file to the window.
        if (QFileInfo::exists(path) &&
            !prompts_.confirm(QStringLiteral("%1 は既に存在します。置き換えますか？").arg(QDir::toNativeSeparators(path)))) {
            return;
        }
        if (saveCalibration(path)) {
            showNotice(QStringLiteral("較正を保存しました: %1").arg(QDir::toNativeSeparators(path)));
        }
    });
    file->addSeparator();
    file->addAction(QStringLiteral("領域を開く…"), this, [this] {
        const QString path = prompts_.openRegionsPath();
        if (!path.isEmpty() && openRegions(path)) {
            showNotice(QStringLiteral("領域を開きました: %1").arg(QDir::toNativeSeparators(path)));
        }
    });
    file->addAction(QStringLiteral("領域を保存…"), this, [this] {
        // Regions belong to the folder of frames they are drawn over, not to one frame.
        const QString folder = picture_ ? QFileInfo(decoded(picture_->path())).absolutePath()
                                        : settings().value(QStringLiteral("lastFolder")).toString();
        const QString path = prompts_.savePath(QStringLiteral("領域を保存"),
                                               QDir(folder).filePath(QStringLiteral("regions.json")),
                                               QStringLiteral("領域ファイル (*.json)"), QStringLiteral("json"));
        if (path.isEmpty()) return;
        clearNotice();
        if (QFileInfo::exists(path) &&
            !prompts_.confirm(QStringLiteral("%1 は既に存在します。置き換えますか？").arg(QDir::toNativeSeparators(path)))) {
            return;
        }
        if (saveRegions(path)) {
            showNotice(QStringLiteral("領域を保存しました: %1").arg(QDir::toNativeSeparators(path)));
        }
    });
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("終了(&X)"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    // Beside the panel's calibration, what corrects the frame before it is calibrated.
    QMenu* calibrationMenu = menuBar()->addMenu(QStringLiteral("較正(&C)"));
    calibrationMenu->addAction(QStringLiteral("周辺減光補正…"), this, [this] {
        const QString path = prompts_.openFlatFieldPath();
        if (!path.isEmpty() && openFlatField(path)) {
            showNotice(QStringLiteral("周辺減光補正: %1").arg(QDir::toNativeSeparators(path)));
        }
    });
    clearFlatFieldAction_ = calibrationMenu->addAction(QStringLiteral("周辺減光補正を解除"), this, &ViewerWindow::clearFlatField);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    // Steps that mean nothing on the frame shown are passed over, and typed fields not
    // yet a step become one first, so that undo takes back what was typed.
    QAction* undo = edit->addAction(QStringLiteral("元に戻す"), this, &ViewerWindow::undoStep);
    undo->setShortcuts(QKeySequence::Undo);
    QAction* redo = edit->addAction(QStringLiteral("やり直し"), this, &ViewerWindow::redoStep);
    for (QAction* a : {undo, redo}) {
        // Wherever the focus is, a field's own undo included (eventFilter).
        a->setShortcutContext(Qt::ApplicationShortcut);
        a->setEnabled(false);
    }
    connect(undo_, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    connect(undo_, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
    connect(undo_, &QUndoStack::undoTextChanged, undo, [undo](const QString& text) {
        undo->setText(QStringLiteral("元に戻す %1").arg(text).trimmed());
    });
    connect(undo_, &QUndoStack::redoTextChanged, redo, [redo](const QString& text) {
        redo->setText(QStringLiteral("やり直し %1").arg(text).trimmed());
    });
    // Ctrl+Shift+Z everywhere, not only where the platform's redo key is Ctrl+Y.
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    const QKeySequence shiftZ(QStringLiteral("Ctrl+Shift+Z"));
    if (!redoKeys.contains(shiftZ)) redoKeys.prepend(shiftZ);
    redo->setShortcuts(redoKeys);
    edit->addSeparator();
    copyAction_ = edit->addAction(QStringLiteral("範囲の数値をコピー(&C)"), this, [this] {
        QApplication::clipboard()->setText(figuresLine());
        showNotice(QStringLiteral("範囲の数値をコピーしました"));
    });
    copyAction_->setShortcut(QKeySequence::Copy);
    copyRectAction_ = edit->addAction(QStringLiteral("範囲 X1,Y1,X2,Y2 をコピー(&R)"), this, [this] {
        if (const auto area = canvas_->selection()) QApplication::clipboard()->setText(rectangleText(*area));
        showNotice(QStringLiteral("範囲をコピーしました（zrvimage-batch --rect に使えます）"));
    });
    copyRectAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    clearRectAction_ = edit->addAction(QStringLiteral("範囲を解除(&D)"), this, [this] { selectArea(std::nullopt); });
    clearRectAction_->setShortcut(QKeySequence(Qt::Key_Escape));
    edit->addSeparator();
    regionToolAction_ = edit->addAction(QStringLiteral("領域を描く(&G)"));
    regionToolAction_->setCheckable(true);
    regionToolAction_->setShortcut(QKeySequence(QStringLiteral("G")));
    regionToolAction_->setIconText(QStringLiteral("領域を描く"));
    regionToolAction_->setToolTip(
        QStringLiteral("領域を描く（G）: ドラッグで長方形、クリックで多角形の頂点（ダブルクリックかEnterで閉じ、Escで取り消し）"));
    connect(regionToolAction_, &QAction::toggled, this,
            [this](bool on) { setTool(on ? Canvas::Tool::Region : Canvas::Tool::Rectangle); });
    anchorAction_ = edit->addAction(QStringLiteral("領域をマーカーに固定(&M)"), this, [this] {
        if (anchorRegionsToMarkers()) {
            QStringList ids;
            for (const int id : regions_->set().markers->field) ids << QString::number(id);
            showNotice(QStringLiteral("領域を圃場のマーカー %1 に固定しました（ファイル > 領域を保存… で保存します）")
                           .arg(ids.join(QStringLiteral(", "))));
        }
    });
    anchorAction_->setToolTip(
        QStringLiteral("この画像で見つかったマーカー（AprilTag tag36h11）に領域を固定し、他のフレームでも同じ場所に置きます"));

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    viewGroup_ = new QActionGroup(this);
    const QString names[] = {QStringLiteral("カラー"), QStringLiteral("NIR"), QStringLiteral("Red"),
                             QStringLiteral("NDVI"), QStringLiteral("NIRゲイン"), QStringLiteral("Redゲイン")};
    const QString tips[] = {QStringLiteral("記録されたバイトのままのカラー（1）"),
                            QStringLiteral("赤バイト（近赤外）をグレーで（2）"),
                            QStringLiteral("緑バイト（可視の赤）をグレーで（3）"),
                            QStringLiteral("白色板と暗色板の較正で計算したNDVI（4）"),
                            QStringLiteral("周辺減光補正の赤バイト（近赤外）のゲインをグレーで、最大が1（5）"),
                            QStringLiteral("周辺減光補正の緑バイト（可視の赤）のゲインをグレーで、最大が1（6）")};
    for (int i = 0; i < 6; ++i) {
        QAction* a = viewMenu->addAction(names[i]);
        a->setCheckable(true);
        a->setShortcut(QKeySequence(Qt::Key_1 + i));
        a->setToolTip(tips[i]);
        a->setActionGroup(viewGroup_);
        connect(a, &QAction::triggered, this, [this, i] { setView(static_cast<Canvas::Mode>(i)); });
        viewActions_.push_back(a);
    }
    viewMenu->addSeparator();
    fitAction_ = viewMenu->addAction(QIcon::fromTheme(QStringLiteral("zoom-fit-best")), QStringLiteral("全体表示(&F)"),
                                     canvas_, &Canvas::fitToWindow);
    fitAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));
    actualSizeAction_ = viewMenu->addAction(QIcon::fromTheme(QStringLiteral("zoom-original")),
                                            QStringLiteral("等倍(&A)"), canvas_, &Canvas::showActualSize);
    actualSizeAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
    zoomInAction_ = viewMenu->addAction(QStringLiteral("拡大(&I)"), this, [this] { canvas_->zoomBy(2.0); });
    zoomInAction_->setShortcuts({QKeySequence::ZoomIn, QKeySequence(QStringLiteral("Ctrl+="))});
    zoomOutAction_ = viewMenu->addAction(QStringLiteral("縮小(&O)"), this, [this] { canvas_->zoomBy(0.5); });
    zoomOutAction_->setShortcut(QKeySequence::ZoomOut);
    viewMenu->addSeparator();
    QDockWidget* dock = findChild<QDockWidget*>(QStringLiteral("panel"));
    QAction* panelToggle = dock->toggleViewAction();
    panelToggle->setText(QStringLiteral("パネル(&P)"));
    viewMenu->addAction(panelToggle);
    QAction* regionsToggle = regionsDock_->toggleViewAction();
    regionsToggle->setText(QStringLiteral("領域(&R)"));
    viewMenu->addAction(regionsToggle);
    QAction* seasonToggle = season_->toggleViewAction();
    seasonToggle->setText(QStringLiteral("時系列(&S)"));
    viewMenu->addAction(seasonToggle);
    viewMenu->addSeparator();
    // Window-wide, so that they step the season from the picture, the list or the chart.
    QAction* next = viewMenu->addAction(QStringLiteral("次のフレーム(&N)"), this, [this] { stepFrame(1); });
    next->setShortcut(QKeySequence(Qt::Key_PageDown));
    QAction* previous = viewMenu->addAction(QStringLiteral("前のフレーム(&B)"), this, [this] { stepFrame(-1); });
    previous->setShortcut(QKeySequence(Qt::Key_PageUp));

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    QAction* usage = help->addAction(QStringLiteral("使い方(&U)"), this, &ViewerWindow::showHelp);
    usage->setShortcut(QKeySequence::HelpContents);

    QToolBar* tools = addToolBar(QStringLiteral("ツールバー"));
    tools->setObjectName(QStringLiteral("tools"));
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addAction(open);
    tools->addSeparator();
    for (QAction* a : viewActions_) tools->addAction(a);
    tools->addSeparator();
    tools->addAction(fitAction_);
    tools->addAction(actualSizeAction_);
    tools->addSeparator();
    tools->addAction(regionToolAction_);
    open->setIconText(QStringLiteral("開く"));
}

void ViewerWindow::showHelp()
{
    QMessageBox::information(this, kTitle, viewerHelpText());
}

void ViewerWindow::createSeason()
{
    season_ = new SeasonDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, season_);
    // The chart beside the regions' figures, the table keeping its width.
    splitDockWidget(season_, regionsDock_, Qt::Horizontal);
    season_->hide();
    connect(season_, &SeasonDock::frameRequested, this, &ViewerWindow::openFrame);
    connect(season_, &SeasonDock::stateChanged, this, &ViewerWindow::updateActions);
    connect(regions_, &RegionsModel::changed, this, &ViewerWindow::giveSeasonInputs);
    connect(this, &ViewerWindow::calibrationInUseChanged, this, &ViewerWindow::giveSeasonInputs);
}

void ViewerWindow::giveSeasonInputs()
{
    if (!season_) return;  // the calibration restored on start comes first
    season_->setInputs(regions_->set(), seasonSettingsFor(regions_->set(), model_, whiteFrom(), committed_.flat));
}

bool ViewerWindow::openFolder(const QString& folder)
{
    if (!project_->maySetAside()) return false;
    giveSeasonInputs();
    const QString problem = season_->openFolder(folder);
    if (!problem.isEmpty()) {
        prompts_.message(problem);
        return false;
    }
    if (season_->isHidden()) {
        season_->show();
        // Tall enough for the chart to be read.
        resizeDocks({season_}, {std::max(season_->height(), height() * 2 / 5)}, Qt::Vertical);
        // The regions' table no wider than its columns: the rest is the chart's.
        if (regionsDock_->isVisible()) {
            resizeDocks({regionsDock_}, {regionsSection_->table()->sizeHint().width() + 24}, Qt::Horizontal);
        }
    }
    project_->leave();
    QSettings s = settings();
    s.setValue(QStringLiteral("lastFolder"), season_->folder());
    if (const QString first = season_->step(1); !first.isEmpty()) openFrame(first);
    return true;
}

void ViewerWindow::stepFrame(int delta)
{
    if (const QString path = season_->step(delta); !path.isEmpty()) openFrame(path);
}

void ViewerWindow::chooseAndOpen()
{
    const QString path = prompts_.openPath();
    if (!path.isEmpty()) openFile(path);
}

bool ViewerWindow::openFile(const QString& path)
{
    if (ProjectController::isProjectName(path)) return project_->open(path);
    return openPicture(path, true);
}

bool ViewerWindow::openFrame(const QString& path)
{
    return openPicture(path, false);
}

bool ViewerWindow::openPicture(const QString& path, bool byUser)
{
    std::unique_ptr<LoadedPicture> loaded;
    QString failure = readPicture(path, prompts_.rasterWidth, loaded);
    // A frame the flat-field in use does not fit is refused as zrvimage-batch refuses it:
    // its figures would be worked out through no correction or a wrong one.
    if (failure.isEmpty() && loaded && committed_.flat && loaded->kind() == LoadedPicture::Kind::Bitmap) {
        failure = flatFieldRefusal(*committed_.flat, path, loaded->width(), loaded->height(), path);
    }
    if (!failure.isEmpty()) {
        // Stepping through a season, the list already shows such a frame in red: its
        // reason stands where the picture would, with no box to click away each time.
        if (byUser) {
            prompts_.message(failure);
        } else {
            showUnreadable(path, failure);
        }
        return false;
    }
    if (!loaded) return false;  // the width was not given
    install(std::move(loaded), path, byUser);
    return true;
}

void ViewerWindow::showUnreadable(const QString& path, const QString& reason)
{
    canvas_->setPicture(nullptr);
    commitTypedFields();
    ++pictureGeneration_;
    committedArea_.reset();
    committed_.darkMark.reset();
    picture_.reset();
    pictureTags_ = std::make_shared<PictureTags>();
    regionsController_->setPicture(picture_, pictureTags_);
    refreshCorrection();
    figures_.reset();
    figuresPending_ = false;
    figuresWatcher_->cancel();
    pointer_.reset();
    unreadable_ = path;
    problemLabel_->setText(QStringLiteral("このフレームは読めません\n\n%1").arg(reason));
    pictureStack_->setCurrentWidget(problemLabel_);
    legend_->setVisible(false);
    sizeLabel_->clear();
    zoomLabel_->clear();
    refreshModelLine();
    updateTitle();
    season_->showOpened(path);
    refreshPointer();
    refreshPanel();
    regionsController_->refresh();
    updateActions();
}

QString ViewerWindow::frameProblem() const
{
    return pictureStack_->currentWidget() == problemLabel_ ? problemLabel_->text() : QString();
}

QString ViewerWindow::flatFieldRefusal(const engine::FlatField& flat, const QString& path, std::int64_t width,
                                       std::int64_t height, const QString& named) const
{
    if (const auto problem = flat.sizeProblem(width, height)) {
        return QString::fromStdString(*problem) + QLatin1Char('\n') + QDir::toNativeSeparators(named);
    }
    try {
        // The picture's bytes and the corrected NDVI beside them.
        requireMemoryFor(encoded(path), width, height, 3 + 4);
    } catch (const ViewError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

void ViewerWindow::install(std::unique_ptr<LoadedPicture> picture, const QString& path, bool remember)
{
    unreadable_.clear();
    pictureStack_->setCurrentWidget(canvas_);
    // The canvas lets go of the old picture before it is freed.
    canvas_->setPicture(nullptr);
    // The history goes on over every frame; its rectangles are the old picture's and
    // stay there (pictureGeneration_).
    commitTypedFields();
    ++pictureGeneration_;
    committedArea_.reset();
    committed_.darkMark.reset();
    picture_ = std::move(picture);
    pictureTags_ = std::make_shared<PictureTags>();
    regionsController_->setPicture(picture_, pictureTags_);
    refreshCorrection();
    figures_.reset();
    figuresPending_ = false;
    figuresWatcher_->cancel();
    pointer_.reset();
    const bool raster = picture_->kind() == LoadedPicture::Kind::Raster;
    if (raster) {
        wholeHistogram_ = wholePictureHistogram(*picture_, nullptr, nullptr, index_);
        setView(Canvas::Mode::Ndvi);
    } else {
        if (!committed_.flat) wholeHistogram_ = wholePictureHistogram(*picture_, &*table_, nullptr, index_);
        // The gain views look at the flat-field in use and are kept from frame to frame.
        const Canvas::Mode shown = canvas_->mode();
        const bool gains = committed_.flat && (shown == Canvas::Mode::NirGain || shown == Canvas::Mode::RedGain);
        setView(gains ? shown
                      : static_cast<Canvas::Mode>(std::clamp(settings().value(QStringLiteral("view"), 0).toInt(), 0, 3)));
    }
    canvas_->setPicture(picture_.get());
    // A raster that names its index is shown as that index, not as the one chosen last.
    if (raster) {
        if (const auto named = indexNamedBy(picture_->description()); named && *named != index_) {
            applyingColours_ = true;
            colours_->setIndex(*named);
            applyingColours_ = false;
            committedColours_ = colours_->state();
        }
    }
    refreshModelLine();
    updateTitle();
    sizeLabel_->setText(QStringLiteral("%1×%2").arg(picture_->width()).arg(picture_->height()));
    // Frames stepped through are the season's, not files the user chose.
    if (remember) recent_->add(path);
    season_->showOpened(path);
    refreshPointer();
    refreshPanel();
    regionsController_->refresh();
    updateActions();
    canvas_->setFocus();
}

void ViewerWindow::setTool(Canvas::Tool tool)
{
    canvas_->setTool(tool);
    const QSignalBlocker block(regionToolAction_);
    regionToolAction_->setChecked(tool == Canvas::Tool::Region);
}








void ViewerWindow::undoStep()
{
    commitTypedFields();
    undoLive(*undo_);
}

void ViewerWindow::redoStep()
{
    commitTypedFields();
    redoLive(*undo_);
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool history = key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
                             QKeySequence(key->keyCombination()) == QKeySequence(QStringLiteral("Ctrl+Shift+Z"));
        bool ours = false;
        for (QObject* o = watched; o && !ours; o = o->parent()) ours = o == this;
        if (history && ours) {
            // Not taken by the field: the shortcut map then gives it to the window's
            // undo or redo.
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void ViewerWindow::rememberFolder(const QString& path)
{
    settings().setValue(QStringLiteral("lastFolder"), QFileInfo(path).absolutePath());
}



bool ViewerWindow::anchorRegionsToMarkers()
{
    return regionsController_->anchorToMarkers();
}

bool ViewerWindow::openRegions(const QString& path)
{
    return regionsController_->open(path);
}

bool ViewerWindow::saveRegions(const QString& path)
{
    return regionsController_->save(path);
}

void ViewerWindow::setView(Canvas::Mode mode)
{
    // A raster has only its values; the view chosen for pictures is kept for the next.
    // The gain views only while a flat-field is in use, and never remembered: the next
    // start has none.
    const bool gains = mode == Canvas::Mode::NirGain || mode == Canvas::Mode::RedGain;
    if (picture_ && picture_->kind() == LoadedPicture::Kind::Raster) {
        mode = Canvas::Mode::Ndvi;
    } else if (gains && !committed_.flat) {
        mode = static_cast<Canvas::Mode>(std::clamp(settings().value(QStringLiteral("view"), 0).toInt(), 0, 3));
    } else if (!gains) {
        settings().setValue(QStringLiteral("view"), static_cast<int>(mode));
    }
    viewActions_[static_cast<std::size_t>(mode)]->setChecked(true);
    canvas_->setMode(mode);
    const bool gainView = mode == Canvas::Mode::NirGain || mode == Canvas::Mode::RedGain;
    legend_->setScale(gainView ? &gainScale_ : &scale_, !gainView);
    legend_->setVisible(picture_ && (mode == Canvas::Mode::Ndvi || gainView));
}

void ViewerWindow::setWhiteValues(WhiteValues white)
{
    calibration_->setWhiteValues(white);
}

void ViewerWindow::setModel(const engine::NdviModel& model)
{
    calibration_->setModel(model);
    commitTypedFields();
}

engine::NdviModel ViewerWindow::fieldsModel() const
{
    return calibration_->fieldsModel();
}

WhiteValues ViewerWindow::whiteValues() const
{
    return calibration_->whiteValues();
}

WhiteChoice ViewerWindow::whiteFrom() const
{
    return area_->whiteChoice();
}

void ViewerWindow::setWhiteChoice(WhiteChoice choice)
{
    area_->setWhiteChoice(choice);
}

void ViewerWindow::calibrationChanged()
{
    const engine::NdviModel wanted = fieldsModel();
    const auto problem = engine::modelProblem(wanted);
    calibration_->showProblem(problem, canvas_->darkTarget().has_value());
    if (problem) return;
    model_ = wanted;
    refreshModelLine();
    table_.emplace(model_, index_);
    refreshCorrection();
    if (picture_ && picture_->kind() == LoadedPicture::Kind::Bitmap && !committed_.flat) {
        wholeHistogram_ = wholePictureHistogram(*picture_, &*table_, nullptr, index_);
    }
    keepCalibration();
    emit calibrationInUseChanged();
    coloursChanged();
    refreshPointer();
    // The picture first; the rectangle's NDVI figures after.
    canvas_->viewport()->repaint();
    if (canvas_->selection()) computeFigures(!figures_.has_value());
}

void ViewerWindow::refreshCorrection()
{
    correctionWatcher_->cancel();
    correctionPending_ = false;
    const std::shared_ptr<const engine::FlatField> flat = committed_.flat;
    if (!picture_ || picture_->kind() != LoadedPicture::Kind::Bitmap || !flat ||
        flat->sizeProblem(picture_->width(), picture_->height())) {
        corrected_.reset();
        canvas_->setCorrectedNdvi(nullptr);
        return;
    }
    auto work = [picture = picture_, flat, model = model_, table = *table_, index = index_] {
        Correction c;
        c.values = view::correctedNdvi(*picture, *flat, model, index);
        c.histogram = wholePictureHistogram(*picture, &table, c.values.get(), index);
        return c;
    };
    // About 50 ms for a camera frame's three million pixels: at once, as the pairs'
    // colours are; a larger picture in the background, the view keeping the last values.
    constexpr std::int64_t kAtOnce = std::int64_t{1} << 22;
    if (picture_->width() * picture_->height() <= kAtOnce) {
        WaitCursor wait;
        takeCorrection(work());
    } else {
        correctionPending_ = true;
        correctionWatcher_->setFuture(QtConcurrent::run(work));
    }
}

void ViewerWindow::takeCorrection(Correction correction)
{
    const bool waited = correctionPending_;
    correctionPending_ = false;
    corrected_ = std::move(correction.values);
    wholeHistogram_ = correction.histogram;
    canvas_->setCorrectedNdvi(corrected_.get());
    if (!waited) return;  // the caller goes on to the figures
    refreshPointer();
    if (canvas_->selection()) {
        computeFigures(!figures_.has_value());
    } else {
        refreshPanel();
    }
}

void ViewerWindow::settleCorrection()
{
    if (!correctionPending_) return;
    correctionWatcher_->waitForFinished();
    takeCorrection(correctionWatcher_->result());
}

void ViewerWindow::showFlatField()
{
    const engine::FlatField* flat = committed_.flat.get();
    calibration_->setCorrectedLevels(flat != nullptr);
    calibration_->showFlatField(flat ? flatFieldText(*flat) : QString());
    // Gains from the lowest to 1, the largest any has: the two bands on one scale.
    gainScale_ = ColourScale(Palette::Grey, flat ? std::min(lowestGain(*flat), 0.99f) : 0.0f, 1.0f);
    canvas_->setFlatField(flat, &gainScale_);
    // A gain view without a flat-field goes back to the view remembered.
    setView(canvas_->mode());
    legend_->update();
    updateActions();
}

void ViewerWindow::refreshModelLine()
{
    if (picture_ && picture_->kind() == LoadedPicture::Kind::Raster) {
        calibration_->showRasterModel(QString::fromStdString(picture_->description()));
    } else {
        calibration_->showProblem(engine::modelProblem(fieldsModel()), canvas_->darkTarget().has_value());
        // With a white region the regions and the season use each frame's own panel, not
        // the fields: said so, with this frame's values once they are known.
        const engine::Region* panel = regions_->set().white();
        if (panel) {
            calibration_->showOwnPanelInUse(QString::fromStdString(panel->name), regionsController_->frameModel(), model_);
        } else {
            calibration_->showModelInUse(model_);
        }
    }
}

void ViewerWindow::coloursChanged()
{
    if (!applyingColours_ && colours_->state() != committedColours_) {
        const auto apply = [this](const ColoursSection::State& state) {
            applyingColours_ = true;
            committedColours_ = state;
            colours_->setState(state);
            applyingColours_ = false;
        };
        auto* step = new UndoStep(
            QStringLiteral("指数と色"), [apply, before = committedColours_] { apply(before); },
            [apply, after = colours_->state()] { apply(after); }, true);
        // A range typed digit by digit, or stepped with its arrows, is one step.
        step->setMergeKind(1);
        committedColours_ = colours_->state();
        undo_->push(step);
    }
    const bool otherIndex = colours_->index() != index_;
    if (otherIndex) applyIndex(colours_->index());
    scale_ = colours_->scale();
    // NDVI's legend goes without a title, as it always has.
    scale_.setTitle(index_.isNdvi() ? QString() : QString::fromStdString(index_.label()));
    settings().setValue(QStringLiteral("palette"), colours_->paletteIndex());
    for (int nir = 0; nir < 256; ++nir) {
        for (int red = 0; red < 256; ++red) {
            pairColours_[static_cast<std::size_t>(nir << 8 | red)] =
                scale_.colourOf((*table_)(static_cast<std::uint8_t>(nir), static_cast<std::uint8_t>(red)));
        }
    }
    canvas_->setNdviColours(&pairColours_, &scale_);
    legend_->update();
    refreshPanel();
    if (!otherIndex) return;
    regionsController_->refresh();
    refreshPointer();
    canvas_->viewport()->update();
    if (canvas_->selection()) computeFigures(false);
}

void ViewerWindow::setIndex(const engine::VegetationIndex& index)
{
    colours_->setIndex(index);
}

void ViewerWindow::applyIndex(const engine::VegetationIndex& index)
{
    index_ = index;
    table_.emplace(model_, index_);
    histogramSection_->setIndexLabel(QString::fromStdString(index_.label()));
    refreshCorrection();
    if (!picture_ || corrected_ || correctionPending_) return;
    const bool raster = picture_->kind() == LoadedPicture::Kind::Raster;
    wholeHistogram_ = wholePictureHistogram(*picture_, raster ? nullptr : &*table_, nullptr, index_);
}

void ViewerWindow::selectArea(std::optional<engine::Rectangle> typed)
{
    if (!picture_) return;
    if (typed) typed = engine::clampToPicture(*typed, picture_->width(), picture_->height());
    canvas_->setSelection(typed);
}

void ViewerWindow::applyTypedRectangle(const QString& text)
{
    if (!picture_) return;
    QString corners = text;
    corners.remove(QRegularExpression(QStringLiteral("\\s")));
    area_->discardTyped();
    if (corners.isEmpty()) {
        selectArea(std::nullopt);
        refreshPanel();
        return;
    }
    RectangleFault fault{};
    const auto typed = parseRectangle(corners, &fault);
    if (!typed) {
        // The rectangle stays as it was, and its field says so again.
        refreshPanel();
        prompts_.message(fault == RectangleFault::NotFourIntegers
                             ? QStringLiteral("範囲には X1,Y1,X2,Y2 を整数4つで指定してください: '%1'").arg(text)
                             : QStringLiteral("範囲は X1≦X2、Y1≦Y2 で指定してください: '%1'").arg(text));
        return;
    }
    selectArea(typed);
    // The same rectangle again changes nothing, but its field shows it fitted.
    refreshPanel();
}

void ViewerWindow::selectionChanged()
{
    rectangleChanged();
    figures_.reset();
    computeFigures(true);
}

void ViewerWindow::computeFigures(bool channelsToo)
{
    if (!picture_ || !canvas_->selection()) {
        figuresWatcher_->cancel();
        figuresPending_ = false;
        refreshPanel();
        updateActions();
        return;
    }
    const engine::Rectangle area = *canvas_->selection();
    if (correctionPending_) {
        // Worked out once the corrected values are there (takeCorrection).
        figuresWatcher_->cancel();
        figures_.reset();
        figuresPending_ = true;
        refreshPanel();
        updateActions();
        return;
    }
    std::optional<RegionFigures> known = channelsToo ? std::nullopt : figures_;
    // Channels on one core, the NDVI statistics on the other, each in row order.
    auto work = [picture = picture_, corrected = corrected_, area, table = *table_, known, index = index_]() {
        auto ndvi =
            std::async(std::launch::async, [&] { return ndviFigures(*picture, area, &table, corrected.get(), index); });
        RegionFigures f = known ? *known : channelFigures(*picture, area);
        f.ndvi = ndvi.get();
        f.index = indexName(index);
        return f;
    };
    const std::int64_t pixels = area.x1 <= area.x2 && area.y1 <= area.y2 ? (area.x2 - area.x1 + 1) * (area.y2 - area.y1 + 1) : 0;
    // Rectangles up to a few million pixels take a few tens of milliseconds; larger ones
    // are worked out in the background so the picture is repainted at once.
    constexpr std::int64_t kAtOnce = std::int64_t{1} << 22;
    if (pixels <= kAtOnce) {
        figuresWatcher_->cancel();
        figuresPending_ = false;
        figures_ = work();
    } else {
        figures_.reset();
        figuresPending_ = true;
        figuresWatcher_->setFuture(QtConcurrent::run(work));
    }
    refreshPanel();
    updateActions();
}

void ViewerWindow::refreshPanel()
{
    if (!area_ || !histogramSection_) return;
    // The bins span the index's range (NDVI's -1..+1), as indexBin counts them.
    const engine::IndexRange range = index_.isNdvi() ? engine::IndexRange{-1.0, 1.0, true} : engine::indexRange(index_);
    if (figuresPending_) {
        const engine::Rectangle area = *canvas_->selection();
        area_->setFigures(QStringLiteral("範囲: %1\n画素数: %2\n計算中…")
                              .arg(rectangleText(area))
                              .arg((area.x2 - area.x1 + 1) * (area.y2 - area.y1 + 1)));
        histogramSection_->showTitle(QStringLiteral("範囲内（計算中…）"));
    } else if (figures_) {
        area_->setFigures(figureLines(*figures_).join(QLatin1Char('\n')));
        histogramSection_->showCounts(QStringLiteral("範囲内（%1 画素）").arg(figures_->ndvi.count),
                                      figures_->ndvi.histogram, scale_, range.low, range.high);
    } else {
        area_->setFigures(picture_ ? QStringLiteral("範囲: なし\n画像の上をドラッグして範囲を選びます。")
                                   : QStringLiteral("範囲: なし"));
        histogramSection_->showCounts(
            picture_ ? QStringLiteral("画像全体（%1 画素）").arg(wholeHistogram_.count) : QString(),
            picture_ ? wholeHistogram_.histogram : decltype(wholeHistogram_.histogram){}, scale_, range.low,
            range.high);
    }
}

void ViewerWindow::refreshPointer()
{
    if (!picture_ || !pointer_ || pointer_->first >= picture_->width() || pointer_->second >= picture_->height()) {
        setReadableText(pointerLabel_, QString());
        return;
    }
    QString text = view::pointerText(*picture_, &*table_, pointer_->first, pointer_->second, corrected_.get(),
                                     indexName(index_));
    if (corrected_) {
        // The gains the pixel's bands were divided by.
        const engine::FlatField& flat = *committed_.flat;
        std::vector<float> nir(static_cast<std::size_t>(flat.width())), red(nir.size());
        flat.rowGains(pointer_->second, nir.data(), red.data());
        const auto x = static_cast<std::size_t>(pointer_->first);
        text += QStringLiteral("  ゲイン NIR=%1 Red=%2").arg(QString::number(nir[x], 'f', 4), QString::number(red[x], 'f', 4));
    }
    setReadableText(pointerLabel_, text);
}

QString ViewerWindow::pointerText() const
{
    return pointerLabel_->text();
}

QStringList ViewerWindow::panelLines() const
{
    return area_->lines();
}

const HistogramWidget* ViewerWindow::histogram() const noexcept
{
    return histogramSection_->histogram();
}

void ViewerWindow::updateActions()
{
    const bool open = picture_ != nullptr;
    const bool bitmapOpen = open && picture_->kind() == LoadedPicture::Kind::Bitmap;
    const bool area = figures_.has_value();
    for (int i = 0; i < 3; ++i) viewActions_[static_cast<std::size_t>(i)]->setEnabled(!open || bitmapOpen);
    // The gains are shown over the picture they correct.
    for (int i = 4; i < 6; ++i) viewActions_[static_cast<std::size_t>(i)]->setEnabled(bitmapOpen && committed_.flat);
    clearFlatFieldAction_->setEnabled(committed_.flat != nullptr);
    exportRasterAction_->setEnabled(bitmapOpen);
    exportTiffAction_->setEnabled(bitmapOpen);
    exportPictureAction_->setEnabled(open);
    exportFiguresAction_->setEnabled(area);
    exportSeasonChartAction_->setEnabled(season_->complete());
    exportSeasonTableAction_->setEnabled(season_->complete());
    copyAction_->setEnabled(area);
    copyRectAction_->setEnabled(area);
    clearRectAction_->setEnabled(area);
    for (QAction* a : {fitAction_, actualSizeAction_, zoomInAction_, zoomOutAction_}) a->setEnabled(open);
    area_->setButtonsEnabled(bitmapOpen && area && figures_->pixels > 0);
    area_->setRectangleEnabled(open);
    // A raster's values are already NDVI: no calibration applies to them.
    calibration_->setFieldsEnabled(!open || bitmapOpen);
    anchorAction_->setEnabled(bitmapOpen && regions_->size() > 0);
}

void ViewerWindow::applyWhitePanel()
{
    if (!figures_ || !figures_->channels || figures_->pixels == 0) return;
    commitTypedFields();
    const WhiteChoice choice = area_->whiteChoice();
    CalibrationState after = committed_;
    const std::string frame = engine::calibrationFramePath(picture_->path());
    // A dark target's rectangle from another frame is not this frame's: its values
    // stay, as if typed.
    if (after.source.frame != frame) {
        after.source.darkRect.reset();
        after.darkWarnings.clear();
    }
    after.source.frame = frame;
    after.source.whiteRect = figures_->area;
    after.source.whiteFrom = choice;
    after.source.date = nowText();
    // Through the flat-field in use the values are corrected ones, and so is the dark
    // target's when it was read through another correction.
    rereadPanel(after);
    pushCalibration(QStringLiteral("白色板に設定"), after);
}

void ViewerWindow::applyDarkTarget()
{
    if (!figures_ || !figures_->channels || figures_->pixels == 0) return;
    commitTypedFields();
    CalibrationState after = committed_;
    const std::string frame = engine::calibrationFramePath(picture_->path());
    if (after.source.frame != frame) {
        after.source.whiteRect.reset();
        after.warnings.clear();
    }
    after.source.frame = frame;
    after.source.darkRect = figures_->area;
    after.source.date = nowText();
    after.darkMark = figures_->area;
    rereadPanel(after);
    pushCalibration(QStringLiteral("暗色板に設定"), after);
}

void ViewerWindow::clearDarkTarget()
{
    commitTypedFields();
    CalibrationState after = committed_;
    after.fields.nir.dnDark = after.fields.red.dnDark = 0;
    after.fields.nir.rDark = after.fields.red.rDark = 0;
    after.darkMark.reset();
    after.source.darkRect.reset();
    after.darkWarnings.clear();
    if (after.fields == committed_.fields && !committed_.darkMark && !committed_.source.darkRect) return;
    if (!after.source.whiteRect) after.source.frame.clear();
    after.source.date = nowText();
    pushCalibration(QStringLiteral("暗色板を解除"), after);
}

void ViewerWindow::rereadPanel(CalibrationState& state) const
{
    view::rereadPanel(picture_.get(), state);
}

bool ViewerWindow::openFlatField(const QString& path)
{
    commitTypedFields();
    std::shared_ptr<const engine::FlatField> flat;
    try {
        flat = std::make_shared<const engine::FlatField>(engine::FlatField::read(encoded(path)));
    } catch (const engine::FlatFieldError& e) {
        prompts_.message(QString::fromStdString(e.problem()) + QLatin1Char('\n') + QDir::toNativeSeparators(path));
        return false;
    }
    if (picture_ && picture_->kind() == LoadedPicture::Kind::Bitmap) {
        if (const QString refusal = flatFieldRefusal(*flat, decoded(picture_->path()), picture_->width(),
                                                     picture_->height(), path);
            !refusal.isEmpty()) {
            prompts_.message(refusal);
            return false;
        }
    }
    CalibrationState after = committed_;
    after.flat = std::move(flat);
    rereadPanel(after);
    pushCalibration(QStringLiteral("周辺減光補正"), after);
    rememberFolder(path);
    return true;
}

void ViewerWindow::clearFlatField()
{
    if (!committed_.flat) return;
    commitTypedFields();
    CalibrationState after = committed_;
    after.flat.reset();
    rereadPanel(after);
    pushCalibration(QStringLiteral("周辺減光補正を解除"), after);
}

QString ViewerWindow::flatFieldMismatch(const engine::CalibrationSource& source) const
{
    return view::flatFieldMismatch(source, committed_.flat.get());
}

void ViewerWindow::commitTypedFields()
{
    if (applying_) return;
    const engine::NdviModel fields = fieldsModel();
    if (fields == committed_.fields) return;
    pushCalibration(QStringLiteral("較正の値"), typedInto(committed_, fields, nowText()));
}

void ViewerWindow::pushCalibration(const QString& text, const CalibrationState& after)
{
    undo_->push(new UndoStep(
        text, [this, before = committed_] { applyCalibration(before); }, [this, after] { applyCalibration(after); }));
}

void ViewerWindow::applyCalibration(const CalibrationState& state)
{
    applying_ = true;
    const bool flatChanged = committed_.flat != state.flat;
    committed_ = state;
    if (flatChanged) {
        showFlatField();
        // With the fields impossible the model in use stays, but not the old correction.
        if (engine::modelProblem(state.fields)) refreshCorrection();
    }
    // A dark target marked on another frame is not marked on this one.
    const bool here = picture_ && picture_->kind() == LoadedPicture::Kind::Bitmap && !state.source.frame.empty() &&
                      sameFile(picture_->identity(), state.source.frame);
    canvas_->setDarkTarget(here ? state.darkMark : std::nullopt);
    calibration_->setModel(state.fields);  // recomputes, and keeps the calibration for the next start
    applying_ = false;
    showCalibrationSource();
}

void ViewerWindow::showCalibrationSource()
{
    calibration_->showSource(sourceText(committed_));
    std::vector<std::string> warnings = committed_.warnings;
    warnings.insert(warnings.end(), committed_.darkWarnings.begin(), committed_.darkWarnings.end());
    calibration_->showWarnings(warnings);
}

void ViewerWindow::keepCalibration()
{
    // The model in use and where it came from, typed fields not yet a step included,
    // in the calibration file's own form.
    const engine::CalibrationRecord record{model_, typedInto(committed_, model_, committed_.source.date).source};
    QSettings s = settings();
    s.setValue(QStringLiteral("calibration"), QString::fromStdString(engine::calibrationText(record)));
    // The flat-field in use, opened again at the next start while it can be.
    if (committed_.flat) {
        s.setValue(QStringLiteral("flatField"), decoded(committed_.flat->path()));
    } else {
        s.remove(QStringLiteral("flatField"));
    }
}

void ViewerWindow::restoreCalibration()
{
    const QString text = settings().value(QStringLiteral("calibration")).toString();
    if (text.isEmpty()) return;
    CalibrationState state;
    try {
        const engine::CalibrationRecord record = engine::parseCalibration(text.toStdString(), "settings");
        state.fields = record.model;
        state.source = record.source;
    } catch (const engine::CalibrationFileError&) {
        return;  // not ours to complain about: the defaults, as on a first start
    }
    if (CalibrationSection::asShown(state.fields) != state.fields) return;
    if (const QString flat = settings().value(QStringLiteral("flatField")).toString(); !flat.isEmpty()) {
        try {
            state.flat = std::make_shared<const engine::FlatField>(engine::FlatField::read(encoded(flat)));
        } catch (const engine::FlatFieldError&) {
            // Gone or changed since: none, as the panel then shows.
        }
    }
    applyCalibration(state);
}

void ViewerWindow::rectangleChanged()
{
    if (applying_) return;
    const auto area = canvas_->selection();
    const auto same = [](const std::optional<engine::Rectangle>& a, const std::optional<engine::Rectangle>& b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->x1 == b->x1 && a->y1 == b->y1 && a->x2 == b->x2 && a->y2 == b->y2));
    };
    if (same(area, committedArea_)) return;
    commitTypedFields();
    const auto show = [this](std::optional<engine::Rectangle> r) {
        applying_ = true;
        committedArea_ = r;
        canvas_->setSelection(r);
        applying_ = false;
    };
    // Already on screen: pushing does not set it again.
    auto* step = new UndoStep(
        QStringLiteral("範囲"), [show, before = committedArea_] { show(before); }, [show, area] { show(area); }, true);
    step->setLive([this, generation = pictureGeneration_] { return generation == pictureGeneration_; });
    undo_->push(step);
    committedArea_ = area;
}

std::string ViewerWindow::nowText() const
{
    return engine::isoDateUtc(prompts_.now());
}

bool ViewerWindow::saveCalibration(const QString& path)
{
    commitTypedFields();
    if (exports_->refuseImpossibleModel() || exports_->refuseOpenPicture(path)) return false;
    engine::CalibrationRecord record{fieldsModel(), committed_.source};
    if (record.source.date.empty()) record.source.date = nowText();
    return exports_->reportFailure(path, [&] { engine::writeCalibrationFile(encoded(path), record); });
}

bool ViewerWindow::openCalibration(const QString& path)
{
    commitTypedFields();
    engine::CalibrationRecord record;
    try {
        record = engine::readCalibrationFile(encoded(path));
    } catch (const engine::CalibrationFileError& e) {
        prompts_.message(QString::fromStdString(e.problem()) + QLatin1Char('\n') + QDir::toNativeSeparators(path));
        return false;
    }
    return setCalibration(record, path);
}

bool ViewerWindow::setCalibration(const engine::CalibrationRecord& record, const QString& path)
{
    commitTypedFields();
    // The fields hold whole bytes and three decimals: a model they cannot show is
    // refused rather than quietly rounded into another one.
    if (CalibrationSection::asShown(record.model) != record.model) {
        prompts_.message(QStringLiteral("反射率は小数第3位までにしてください") + QLatin1Char('\n') +
                         QDir::toNativeSeparators(path));
        return false;
    }
    CalibrationState after;
    after.fields = record.model;
    after.source = record.source;
    // Its dark target is marked when it was taken from the picture open now.
    if (picture_ && picture_->kind() == LoadedPicture::Kind::Bitmap && record.source.darkRect &&
        !record.source.frame.empty() && sameFile(picture_->identity(), record.source.frame) &&
        engine::insidePicture(*record.source.darkRect, picture_->width(), picture_->height())) {
        after.darkMark = record.source.darkRect;
    }
    after.flat = committed_.flat;
    pushCalibration(QStringLiteral("較正を開く"), after);
    // Opened all the same: the values may still be close, and the user decides.
    if (const QString mismatch = flatFieldMismatch(record.source); !mismatch.isEmpty()) showNotice(mismatch);
    return true;
}


bool ViewerWindow::exportRaster(const QString& path)
{
    return exports_->write(Export::Raster, path);
}

bool ViewerWindow::exportTiff(const QString& path)
{
    return exports_->write(Export::Tiff, path);
}

bool ViewerWindow::exportViewPicture(const QString& path)
{
    return exports_->write(Export::ViewPicture, path);
}

bool ViewerWindow::exportFigures(const QString& path)
{
    return exports_->write(Export::Figures, path);
}

bool ViewerWindow::exportSeasonChart(const QString& path)
{
    return exports_->write(Export::SeasonChart, path);
}

bool ViewerWindow::exportSeasonTable(const QString& path)
{
    return exports_->write(Export::SeasonTable, path);
}

QString ViewerWindow::figuresLine() const
{
    if (!figures_) return {};
    return figureFieldValues(*figures_).join(QLatin1Char('\t'));
}



void ViewerWindow::showNotice(const QString& text)
{
    setReadableText(noticeLabel_, text);
    noticeTimer_->start(8000);
}

void ViewerWindow::clearNotice()
{
    noticeTimer_->stop();
    setReadableText(noticeLabel_, QString());
}

QString ViewerWindow::noticeText() const
{
    return noticeLabel_->text();
}









void ViewerWindow::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) event->acceptProposedAction();
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    if (project_->maySetAside()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void ViewerWindow::updateTitle()
{
    QStringList parts;
    if (const QString project = project_->titleName(); !project.isEmpty()) parts << project;
    const QString shown = picture_ ? decoded(picture_->path()) : unreadable_;
    if (!shown.isEmpty()) parts << QFileInfo(shown).fileName().replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    parts << kTitle;
    setWindowTitle(parts.join(QStringLiteral(" - ")));
    setWindowModified(project_->isModified());
}

void ViewerWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Opened after the drop has finished, so a message box does not hold the source.
    QMetaObject::invokeMethod(this, [this, path] { openFile(path); }, Qt::QueuedConnection);
}

}  // namespace view
