#include "view/CalibrationHistory.h"

#include "view/Figures.h"

#include <QDateTime>
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

}  // namespace view
