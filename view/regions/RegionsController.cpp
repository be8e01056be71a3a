#include "view/regions/RegionsController.h"

#include "view/CalibrationHistory.h"
#include "view/ViewerWindow.h"
#include "view/exports/ExportController.h"
#include "view/regions/Anchoring.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUndoStack>
#include <QtConcurrent/QtConcurrentRun>

namespace view {

namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view"));
}

std::string encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// Restores the cursor however the work ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

RegionsController::RegionsController(ViewerWindow& window)
    : QObject(&window), window_(window), model_(new RegionsModel(this)), section_(new RegionsSection(model_))
{
    watcher_ = new QFutureWatcher<RegionTable>(this);
    connect(watcher_, &QFutureWatcher<RegionTable>::finished, this, [this] {
        if (!pending_ || watcher_->isCanceled()) return;
        pending_ = false;
        showTable(watcher_->result());
    });
    connect(section_, &RegionsSection::refused, this, [this](const QString& text) { window_.prompts().message(text); });
    connect(model_, &RegionsModel::edited, this, &RegionsController::pushStep);
}

void RegionsController::setPicture(std::shared_ptr<const LoadedPicture> picture, std::shared_ptr<PictureTags> tags)
{
    picture_ = std::move(picture);
    pictureTags_ = std::move(tags);
}

void RegionsController::addDrawn(engine::Region region)
{
    auto placed = toReference(std::move(region));
    if (!placed) return;
    region = std::move(*placed);
    QString proposed = model_->freeName();
    for (;;) {
        const auto answer = window_.prompts().regionName(proposed);
        if (!answer) return;
        const QString name = answer->trimmed();
        if (const auto problem = model_->nameProblem(name)) {
            window_.prompts().message(*problem);
            if (!name.isEmpty()) proposed = name;
            continue;
        }
        region.name = name.toStdString();
        break;
    }
    // What the file would refuse, such as a polygon round no pixel's centre, is
    // refused now rather than at saving.
    engine::RegionSet with = model_->set();
    with.regions.push_back(region);
    if (const auto problem = engine::regionsProblem(with)) {
        window_.prompts().message(QString::fromStdString(*problem));
        return;
    }
    model_->add(std::move(region));
}

void RegionsController::refresh()
{
    engine::SeasonSettings settings = seasonSettingsFor(model_->set(), window_.model(), window_.whiteFrom(), window_.calibrationState().flat);
    // The regions' figures are of the index the view shows, as series --index gives them.
    settings.index = window_.index();
    section_->setIndexName(indexName(settings.index));
    auto work = [picture = picture_, tags = pictureTags_, set = model_->set(), settings] {
        return regionTable(picture.get(), set, settings, tags.get());
    };
    // As the rectangle's figures: small regions at once, large ones in the background.
    constexpr std::int64_t kAtOnce = std::int64_t{1} << 22;
    if (!picture_ || regionTableWork(model_->set(), picture_.get()) <= kAtOnce) {
        watcher_->cancel();
        pending_ = false;
        showTable(work());
    } else {
        pending_ = true;
        section_->showPending();
        frameModel_.reset();
        emit frameModelChanged();
        // The places of the last frame or regions are not shown meanwhile.
        window_.canvas()->setPlacement(std::nullopt);
        watcher_->setFuture(QtConcurrent::run(work));
    }
}

void RegionsController::showTable(const RegionTable& table)
{
    section_->showTable(table);
    window_.canvas()->setPlacement(table.registration);
    frameModel_ = table.ownPanel && picture_ ? table.model : std::nullopt;
    emit frameModelChanged();
}

std::optional<engine::Region> RegionsController::toReference(engine::Region region)
{
    auto placed = regionToReference(model_->set(), window_.canvas()->placement(), std::move(region));
    if (!placed) {
        window_.prompts().message(QStringLiteral("この画像では圃場のマーカーから領域の位置が決まらないため、領域を描けません。"
                                        "マーカーが写っている画像で描いてください。"));
    }
    return placed;
}

bool RegionsController::anchorToMarkers()
{
    if (!picture_ || picture_->kind() != LoadedPicture::Kind::Bitmap || model_->size() == 0) return false;
    std::vector<engine::FoundTag> tags;
    try {
        WaitCursor wait;
        tags = pictureTags_->of(*picture_);
    } catch (const std::exception& e) {
        window_.prompts().message(QString::fromUtf8(e.what()));
        return false;
    }
    AnchorOutcome anchored = anchorToTags(model_->set(), tags, picture_->width(), picture_->height(), window_.prompts().fieldTags);
    if (!anchored.problem.isEmpty()) window_.prompts().message(anchored.problem);
    if (!anchored.set) return false;
    change(QStringLiteral("領域をマーカーに固定"), std::move(*anchored.set));
    return true;
}

void RegionsController::pushStep(const QString& text, const engine::RegionSet& before)
{
    window_.undoStack()->push(new UndoStep(
        text, [this, before] { model_->setSet(before); }, [this, after = model_->set()] { model_->setSet(after); },
        true));
}

void RegionsController::change(const QString& text, engine::RegionSet set)
{
    engine::RegionSet before = model_->set();
    model_->setSet(std::move(set));
    pushStep(text, before);
}

bool RegionsController::open(const QString& path)
{
    engine::RegionSet set;
    try {
        set = engine::readRegionsFile(encoded(path));
    } catch (const std::exception& e) {
        // The engine's message names the file and the region at fault.
        window_.prompts().message(QString::fromUtf8(e.what()));
        return false;
    }
    change(QStringLiteral("領域を開く"), std::move(set));
    settings().setValue(QStringLiteral("lastFolder"), QFileInfo(path).absolutePath());
    return true;
}

bool RegionsController::save(const QString& path)
{
    if (const auto problem = engine::regionsProblem(model_->set())) {
        window_.prompts().message(QString::fromStdString(*problem));
        return false;
    }
    if (window_.exports()->refuseOpenPicture(path)) return false;
    if (!window_.exports()->reportFailure(path, [&] { engine::writeRegionsFile(encoded(path), model_->set()); })) return false;
    settings().setValue(QStringLiteral("lastFolder"), QFileInfo(path).absolutePath());
    return true;
}

}  // namespace view
