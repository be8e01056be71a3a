#include "view/CalibrationHistory.h"

#include "engine/calibration/Panel.h"
#include "view/Figures.h"
#include "view/FlatFieldView.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <utility>

namespace view {

CalibrationState typedInto(const CalibrationState& before, const engine::NdviModel& fields, std::string date)
{
    CalibrationState after = before;
    after.fields = fields;
    const engine::NdviModel& was = before.fields;
    if (fields.nir.dnWhite != was.nir.dnWhite || fields.red.dnWhite != was.red.dnWhite) {
        after.source.whiteRect.reset();
        after.warnings.clear();
    }
    if (fields.nir.dnDark != was.nir.dnDark || fields.red.dnDark != was.red.dnDark) {
        after.source.darkRect.reset();
        after.darkMark.reset();
        after.darkWarnings.clear();
    }
    if (!after.source.whiteRect && !after.source.darkRect) after.source.frame.clear();
    after.source.date = std::move(date);
    return after;
}

// The file keeps the time in UTC, as the batch writes it; people read their own clock,
// in the season list's form.
QString localTime(const std::string& iso)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODate);
    if (!t.isValid()) return QString::fromStdString(iso);
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString sourceText(const CalibrationState& state)
{
    const engine::CalibrationSource& source = state.source;
    if (source.frame.empty() && source.date.empty() && state.fields == engine::NdviModel::plain(255, 255)) {
        return QStringLiteral("較正元: 既定値");
    }
    // The names the panel's choice of white value shows.
    static const QString kWhiteFrom[] = {QStringLiteral("最大値"), QStringLiteral("平均値"),
                                         QStringLiteral("99パーセンタイル")};
    const QString date = source.date.empty() ? QString()
                                             : QStringLiteral("（%1）").arg(localTime(source.date));
    if (source.frame.empty()) return QStringLiteral("較正元: 入力") + date;
    QStringList lines{QStringLiteral("較正元: %1").arg(QFileInfo(QFile::decodeName(QByteArray::fromStdString(source.frame))).fileName()) + date};
    lines << (source.whiteRect ? QStringLiteral("白色板 %1（%2）")
                                     .arg(rectangleText(*source.whiteRect),
                                          kWhiteFrom[static_cast<int>(source.whiteFrom)])
                               : QStringLiteral("白色板 入力"));
    if (source.darkRect) lines << QStringLiteral("暗色板 %1").arg(rectangleText(*source.darkRect));
    if (!source.flatfield.empty()) {
        lines << QStringLiteral("値の周辺減光補正: %1")
                     .arg(QFileInfo(QFile::decodeName(QByteArray::fromStdString(source.flatfield))).fileName());
    }
    return lines.join(QLatin1Char('\n'));
}

void rereadPanel(const LoadedPicture* picture, CalibrationState& state)
{
    if (!picture || picture->kind() != LoadedPicture::Kind::Bitmap || state.source.frame.empty() ||
        !sameFile(picture->identity(), state.source.frame)) {
        return;
    }
    const engine::FlatField* flat = state.flat.get();
    if (flat && flat->sizeProblem(picture->width(), picture->height())) return;
    const auto inside = [picture](const std::optional<engine::Rectangle>& r) {
        return r && engine::insidePicture(*r, picture->width(), picture->height());
    };
    const bool white = inside(state.source.whiteRect);
    const bool dark = inside(state.source.darkRect);
    if (!white && !dark) return;
    if (white) {
        const engine::Rectangle& area = *state.source.whiteRect;
        state.warnings.clear();
        if (flat) {
            PanelReading r = correctedWhite(*picture, *flat, area, state.source.whiteFrom);
            state.fields.nir.dnWhite = r.nir;
            state.fields.red.dnWhite = r.red;
            state.warnings = std::move(r.warnings);
        } else {
            const RegionFigures f = channelFigures(*picture, area);
            const WhiteValues v = whiteValuesOf(f, state.source.whiteFrom);
            state.fields.nir.dnWhite = static_cast<float>(v.nir);
            state.fields.red.dnWhite = static_cast<float>(v.red);
            for (const auto& w : engine::panelChecks(panelPixelsOf(f), v.nir, v.red)) state.warnings.push_back(w.text);
        }
    }
    if (dark) {
        const engine::Rectangle& area = *state.source.darkRect;
        // Checked against the white values in use, the frame's own when just read.
        const float nirWhite = state.fields.nir.dnWhite, redWhite = state.fields.red.dnWhite;
        state.darkWarnings.clear();
        if (flat) {
            PanelReading r = correctedDark(*picture, *flat, area, nirWhite, redWhite);
            state.fields.nir.dnDark = r.nir;
            state.fields.red.dnDark = r.red;
            state.darkWarnings = std::move(r.warnings);
        } else {
            const RegionFigures f = channelFigures(*picture, area);
            const DarkValues v = darkValuesOf(f);
            state.fields.nir.dnDark = v.nir;
            state.fields.red.dnDark = v.red;
            for (const auto& w : engine::darkChecks(engine::darkSpread(panelPixelsOf(f)), v.nir, v.red, nirWhite, redWhite)) {
                state.darkWarnings.push_back(w.text);
            }
        }
    }
    state.source.flatfield = flat ? engine::calibrationFramePath(flat->path()) : std::string();
}

QString flatFieldMismatch(const engine::CalibrationSource& source, const engine::FlatField* inUseFlat)
{
    const std::string inUse = inUseFlat ? engine::calibrationFramePath(inUseFlat->path()) : std::string();
    if (source.flatfield == inUse) return {};
    const auto name = [](const std::string& path) {
        return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
    };
    if (source.flatfield.empty()) {
        return QStringLiteral("この較正は周辺減光補正なしで作られました（使用中の周辺減光補正: %1）").arg(name(inUse));
    }
    return QStringLiteral("この較正は周辺減光補正 %1 を通して作られました（使用中の周辺減光補正: %2）")
        .arg(name(source.flatfield), inUse.empty() ? QStringLiteral("なし") : name(inUse));
}

UndoStep::UndoStep(const QString& text, std::function<void()> undo, std::function<void()> redo, bool alreadyDone)
    : QUndoCommand(text), undo_(std::move(undo)), redo_(std::move(redo)), skipRedo_(alreadyDone)
{
}

void UndoStep::undo()
{
    undo_();
}

void UndoStep::redo()
{
    if (skipRedo_) {
        skipRedo_ = false;
        return;
    }
    redo_();
}

bool UndoStep::mergeWith(const QUndoCommand* other)
{
    if (other->id() != id() || kind_ < 0) return false;
    redo_ = static_cast<const UndoStep*>(other)->redo_;
    return true;
}

namespace {

bool isLive(const QUndoCommand* command)
{
    const auto* step = dynamic_cast<const UndoStep*>(command);
    return !step || step->live();
}

}  // namespace

void undoLive(QUndoStack& stack)
{
    while (stack.canUndo()) {
        const bool live = isLive(stack.command(stack.index() - 1));
        stack.undo();
        if (live) return;
    }
}

void redoLive(QUndoStack& stack)
{
    while (stack.canRedo()) {
        const bool live = isLive(stack.command(stack.index()));
        stack.redo();
        if (live) return;
    }
}

}  // namespace view
