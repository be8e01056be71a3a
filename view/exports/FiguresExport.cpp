#include "view/exports/FiguresExport.h"

#include "view/exports/WholeFile.h"

namespace view {

QByteArray figuresCsv(const QString& source, const RegionFigures& figures, const engine::NdviModel* model,
                      const QString& flatField)
{
    QString quoted = source;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    QString corrected = flatField.isEmpty() ? QString() : QStringLiteral("; 周辺減光補正: ") + flatField;
    corrected.replace(QLatin1Char('"'), QLatin1String("\"\""));
    const QString described = model ? QLatin1Char('"') + QString::fromStdString(engine::describeModel(*model)) +
                                          corrected + QLatin1Char('"')
                                    : QString();
    const QString text = QStringLiteral("ファイル,") + figureFieldNames(figures.index).join(QLatin1Char(',')) +
                         QStringLiteral(",較正,NIR白色板,Red白色板\r\n\"") + quoted + QStringLiteral("\",") +
                         figureFieldValues(figures).join(QLatin1Char(',')) + QLatin1Char(',') + described +
                         QLatin1Char(',') + (model ? QString::number(model->nir.dnWhite) : QString()) +
                         QLatin1Char(',') + (model ? QString::number(model->red.dnWhite) : QString()) +
                         QStringLiteral("\r\n");
    // The byte-order mark lets spreadsheet programs read the Japanese names as UTF-8.
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void writeFiguresCsv(const QString& source, const RegionFigures& figures, const engine::NdviModel* model,
                     const std::string& path, const QString& flatField)
{
    writeWhole(path, figuresCsv(source, figures, model, flatField));
}

}  // namespace view
