#include "view/season/ProjectController.h"

#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "runtime/Exceptions.h"
#include "view/ViewerWindow.h"
#include "view/panel/CalibrationSection.h"
#include "view/regions/RegionsModel.h"
#include "view/season/SeasonDock.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUndoStack>

#include <charconv>
#include <cstdlib>

namespace view {

namespace {

const QString kTitle = QStringLiteral("ZRV画像ビューア");
const QString kLastProject = QStringLiteral("lastProject");

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

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A path as the project writes it: relative to the project's folder.
std::string relativeTo(const QString& projectFile, const QString& path)
{
    const QString relative = QFileInfo(projectFile).absoluteDir().relativeFilePath(QFileInfo(path).absoluteFilePath());
    return encoded(relative.isEmpty() ? QStringLiteral(".") : relative);
}

// A path the project gives, as the window opens it.
QString resolved(const QString& projectFile, const std::string& written)
{
    return QDir::cleanPath(QFileInfo(decoded(engine::projectPath(encoded(projectFile), written))).absoluteFilePath());
}

// The reflectance the field shows as the decimal a person would write: 0.92, not the
// float's 0.9200000166893005.
double decimalOf(float value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

std::array<double, 2> pairOf(float nir, float red)
{
    return {decimalOf(nir), decimalOf(red)};
}

bool hasRole(const engine::RegionSet& set, engine::RegionRole role)
{
    for (const engine::Region& r : set.regions) {
        if (r.role == role) return true;
    }
    return false;
}

// What the window's failed write says: the engine's message names the file and why.
QString failureOf(const std::function<void()>& write)
{
    try {
        write();
    } catch (const runtime::Exception& e) {
        return QString::fromStdString(e.message());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

}  // namespace

ProjectController::ProjectController(ViewerWindow& window) : QObject(&window), window_(window)
{
    prompts_.openPath = [this] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getOpenFileName(&window_, QStringLiteral("プロジェクトを開く"), dir,
                                            QStringLiteral("プロジェクトファイル (*.json);;すべてのファイル (*)"));
    };
    prompts_.unsaved = [this](const QString& name) {
        QMessageBox box(QMessageBox::Warning, kTitle, QStringLiteral("プロジェクト %1 の変更を保存しますか？").arg(name),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, &window_);
        box.button(QMessageBox::Save)->setText(QStringLiteral("保存"));
        box.button(QMessageBox::Discard)->setText(QStringLiteral("保存しない"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Save: return Answer::Save;
        case QMessageBox::Discard: return Answer::Discard;
        default: return Answer::Cancel;
        }
    };
    // Every change the project holds passes one of these.
    connect(&window_.regions(), &RegionsModel::changed, this, &ProjectController::refresh);
    connect(&window_, &ViewerWindow::calibrationInUseChanged, this, &ProjectController::refresh);
    connect(window_.season(), &SeasonDock::stateChanged, this, &ProjectController::refresh);
    connect(window_.undoStack(), &QUndoStack::indexChanged, this, &ProjectController::refresh);
}

bool ProjectController::isProjectName(const QString& path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) != 0) return false;
    QFile file(path);
    // One that cannot be read is the project reader's to explain.
    if (!file.open(QIODevice::ReadOnly)) return true;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(qint64{16} << 20));
    if (!document.isObject()) return true;
    return document.object().value(QStringLiteral("format")).toString() == QLatin1String(engine::kProjectFormat);
}

std::optional<engine::SeasonProject> ProjectController::current(const QString& file, QString* problem) const
{
    const SeasonDock& season = *window_.season();
    if (season.folder().isEmpty()) {
        if (problem) {
            *problem = QStringLiteral("プロジェクトにするフレームのフォルダーがありません。ファイル > フォルダーを開く… で開いてください");
        }
        return std::nullopt;
    }
    engine::SeasonProject p;
    p.frames = relativeTo(file, season.folder());
    p.time = season.timeSourceText().toStdString();
    p.regions = window_.regions().set();
    const engine::NdviModel& model = window_.model();
    // As the season's chart is worked out (seasonSettingsFor): each frame by its own
    // panel when there is a white region, otherwise the window's model for every frame.
    if (hasRole(p.regions, engine::RegionRole::White)) {
        p.whiteFrom = window_.whiteFrom();
        p.panelReflectance = pairOf(model.nir.rWhite, model.red.rWhite);
        if (hasRole(p.regions, engine::RegionRole::Dark) || model.nir.rDark != 0 || model.red.rDark != 0) {
            p.darkReflectance = pairOf(model.nir.rDark, model.red.rDark);
        }
    } else {
        p.calibration = engine::calibrationText({model, window_.calibrationState().source});
        while (!p.calibration->empty() && (p.calibration->back() == '\n' || p.calibration->back() == ' ')) {
            p.calibration->pop_back();
        }
    }
    if (const engine::FlatField* flat = window_.flatField()) p.flatfield = relativeTo(file, decoded(flat->path()));
    p.index = index_;
    return p;
}

QString ProjectController::currentKey() const
{
    const auto p = current(path_);
    return p ? QString::fromStdString(engine::seasonProjectJson(*p)) : QString();
}

void ProjectController::refresh()
{
    // A project is a season: without a folder of frames there is nothing to save.
    const bool season = !window_.season()->folder().isEmpty();
    for (QAction* a : {saveAction_, saveAsAction_}) {
        if (a) a->setEnabled(season);
    }
    if (applying_) return;
    const bool modified = !path_.isEmpty() && (savedKey_.isEmpty() || currentKey() != savedKey_);
    if (modified == modified_) return;
    modified_ = modified;
    emit titleChanged();
}

void ProjectController::setProject(const QString& path, bool faithful)
{
    path_ = QFileInfo(path).absoluteFilePath();
    // A project the window could not show as its file says stays unsaved.
    savedKey_ = faithful ? currentKey() : QString();
    modified_ = savedKey_.isEmpty();
    settings().setValue(kLastProject, path_);
    emit titleChanged();
}

QString ProjectController::titleName() const
{
    if (path_.isEmpty()) return {};
    // A literal [*] in a name is written twice, so that Qt shows it as it is.
    return QFileInfo(path_).fileName().replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")) + QStringLiteral("[*]");
}

void ProjectController::addActions(QMenu& file)
{
    file.addAction(QStringLiteral("プロジェクトを開く…"), this, [this] {
        const QString path = prompts_.openPath();
        if (!path.isEmpty()) open(path);
    });
    saveAction_ = file.addAction(QStringLiteral("プロジェクトを保存"), this, [this] { save(); });
    saveAction_->setShortcut(QKeySequence::Save);
    saveAsAction_ = file.addAction(QStringLiteral("名前を付けて保存…"), this, [this] { saveAs(); });
    refresh();
}

bool ProjectController::open(const QString& path)
{
    const auto refuse = [this](const QString& text) {
        window_.prompts().message(text);
        return false;
    };
    // Everything is read and checked before the window changes: a project that cannot
    // be opened leaves it as it was.
    engine::SeasonProject p;
    std::vector<std::string> frames;
    try {
        p = engine::readSeasonProject(encoded(path));
        frames = engine::projectFrames(encoded(path), p);
    } catch (const engine::SeasonProjectError& e) {
        return refuse(QString::fromUtf8(e.what()));
    }
    const QString folder = resolved(path, p.frames);
    if (frames.empty()) {
        return refuse(QStringLiteral("フレームのフォルダーに24ビットBMP（.bmp）がありません\n%1\n%2").arg(shown(folder), shown(path)));
    }
    std::optional<engine::CalibrationRecord> record;
    engine::NdviModel reflectances = window_.fieldsModel();
    if (p.calibration) {
        try {
            record = engine::parseCalibration(*p.calibration, encoded(path));
        } catch (const engine::CalibrationFileError& e) {
            return refuse(QStringLiteral("較正: ") + QString::fromStdString(e.problem()) + QLatin1Char('\n') + shown(path));
        }
    } else {
        // The defaults zrvimage-batch series takes for what the project leaves out.
        const std::array<double, 2> white = p.panelReflectance.value_or(std::array<double, 2>{1, 1});
        const std::array<double, 2> dark = p.darkReflectance.value_or(std::array<double, 2>{0, 0});
        reflectances.nir.rWhite = static_cast<float>(white[0]);
        reflectances.red.rWhite = static_cast<float>(white[1]);
        reflectances.nir.rDark = static_cast<float>(dark[0]);
        reflectances.red.rDark = static_cast<float>(dark[1]);
    }
    // The fields hold three decimals: a value they cannot show is refused rather than
    // quietly rounded into another season.
    if (CalibrationSection::asShown(record ? record->model : reflectances) != (record ? record->model : reflectances)) {
        return refuse(QStringLiteral("反射率は小数第3位までにしてください") + QLatin1Char('\n') + shown(path));
    }
    if (!maySetAside()) return false;

    applying_ = true;
    bool faithful = true;
    const QString flat = p.flatfield ? resolved(path, *p.flatfield) : QString();
    const engine::FlatField* inUse = window_.flatField();
    // The flat-field in use may not fit the new frames: none while they come in.
    if (inUse && (flat.isEmpty() || QDir::cleanPath(QFileInfo(decoded(inUse->path())).absoluteFilePath()) != flat)) {
        window_.clearFlatField();
    }
    const QString time = QString::fromStdString(p.time.value_or("mtime"));
    faithful = window_.season()->setTimeSource(time) && faithful;
    window_.regions().setSet(p.regions);
    if (!window_.openFolder(folder)) {
        applying_ = false;
        refresh();
        return false;
    }
    if (!flat.isEmpty() && !window_.flatField()) faithful = window_.openFlatField(flat) && faithful;
    if (record) {
        faithful = window_.setCalibration(*record, path) && faithful;
    } else {
        window_.setWhiteChoice(p.whiteFrom.value_or(engine::WhiteFrom::Maximum));
        engine::NdviModel fields = window_.fieldsModel();
        fields.nir.rWhite = reflectances.nir.rWhite;
        fields.red.rWhite = reflectances.red.rWhite;
        fields.nir.rDark = reflectances.nir.rDark;
        fields.red.rDark = reflectances.red.rDark;
        window_.setModel(fields);
        faithful = window_.model() == fields && faithful;
    }
    // A fixed calibration over a white region: the viewer works each frame out by its
    // panel, unlike the file; saving would change the season.
    if (record && hasRole(p.regions, engine::RegionRole::White)) faithful = false;
    // The viewer's season list and chart are of NDVI; the project's index is the batch's,
    // kept as it was when saved.
    index_ = p.index;
    // Another document: undo does not go back into the last one.
    window_.undoStack()->clear();
    applying_ = false;
    setProject(path, faithful);
    emit opened(path_);
    return true;
}

bool ProjectController::save()
{
    return path_.isEmpty() ? saveAs() : saveTo(path_);
}

bool ProjectController::saveAs()
{
    QString problem;
    if (!current(path_, &problem)) {
        window_.prompts().message(problem);
        return false;
    }
    const QString proposed = path_.isEmpty() ? window_.season()->proposedName(QStringLiteral(".json")) : path_;
    const QString path = window_.prompts().savePath(QStringLiteral("プロジェクトを保存"), proposed,
                                                    QStringLiteral("プロジェクトファイル (*.json)"), QStringLiteral("json"));
    if (path.isEmpty()) return false;
    if (QFileInfo::exists(path) &&
        !window_.prompts().confirm(QStringLiteral("%1 は既に存在します。置き換えますか？").arg(shown(path)))) {
        return false;
    }
    return saveTo(path);
}

bool ProjectController::saveTo(const QString& path)
{
    QString problem;
    const auto p = current(path, &problem);
    if (!p) {
        window_.prompts().message(problem);
        return false;
    }
    const QString failure = failureOf([&] { engine::writeSeasonProject(encoded(path), *p); });
    if (!failure.isEmpty()) {
        window_.prompts().message(failure);
        return false;
    }
    setProject(path, true);
    emit saved(path_);
    return true;
}

bool ProjectController::maySetAside()
{
    if (applying_ || !modified_) return true;
    switch (prompts_.unsaved(QFileInfo(path_).fileName())) {
    case Answer::Save: return save();
    case Answer::Discard: return true;
    case Answer::Cancel: break;
    }
    return false;
}

void ProjectController::leave()
{
    if (applying_ || path_.isEmpty()) return;
    path_.clear();
    index_.reset();
    savedKey_.clear();
    modified_ = false;
    settings().remove(kLastProject);
    emit titleChanged();
}

bool ProjectController::reopenLast()
{
    const QString path = settings().value(kLastProject).toString();
    if (path.isEmpty()) return false;
    if (!QFileInfo(path).isFile()) {
        settings().remove(kLastProject);
        return false;
    }
    return open(path);
}

}  // namespace view
