#include "view/window/DefaultPrompts.h"

#include "view/regions/FieldTagsDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>

#include <algorithm>

namespace view {

namespace {

const QString kTitle = QStringLiteral("ZRV画像ビューア");

QSettings settings()
{
    return QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view"));
}

}  // namespace

void useDialogs(ViewerWindow::Prompts& prompts, QWidget* parent)
{
    prompts.openPath = [parent] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getOpenFileName(
            parent, QStringLiteral("画像を開く"), dir,
            QStringLiteral("画像とNDVIラスター (*.bmp *.BMP *.raw *.RAW *.tif *.TIF *.tiff *.TIFF);;24ビットBMP (*.bmp *.BMP);;"
                           "NDVIラスター (*.raw *.RAW *.tif *.TIF *.tiff *.TIFF);;すべてのファイル (*)"));
    };
    prompts.savePath = [parent](const QString& title, const QString& proposed, const QString& filter,
                               const QString& suffix) {
        QFileDialog dialog(parent, title, proposed, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // Asked by the window after its own checks: no question about replacing the
        // open picture before it is refused.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setDefaultSuffix(suffix);
        dialog.selectFile(proposed);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                        : QString();
    };
    prompts.rasterWidth = [parent](const QString& path, std::int64_t fileBytes) -> std::optional<std::int64_t> {
        bool ok = false;
        const auto most = static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(fileBytes / 4, 1), 1'000'000));
        const int width = QInputDialog::getInt(
            parent, QStringLiteral("ラスターの幅"),
            QStringLiteral("%1 にはENVIヘッダー（.hdr）がありません。\n1行の画素数（幅）を入力してください。")
                .arg(QFileInfo(path).fileName()),
            std::min(settings().value(QStringLiteral("rasterWidth"), 2048).toInt(), most), 1, most, 1, &ok);
        if (!ok) return std::nullopt;
        settings().setValue(QStringLiteral("rasterWidth"), width);
        return width;
    };
    prompts.message = [parent](const QString& text) { QMessageBox::warning(parent, kTitle, text); };
    prompts.confirm = [parent](const QString& question) {
        return QMessageBox::question(parent, kTitle, question) == QMessageBox::Yes;
    };
    prompts.openCalibrationPath = [parent] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getOpenFileName(parent, QStringLiteral("較正を開く"), dir,
                                            QStringLiteral("較正ファイル (*.json);;すべてのファイル (*)"));
    };
    prompts.now = [] { return std::time(nullptr); };
    prompts.regionName = [parent](const QString& proposed) -> std::optional<QString> {
        bool ok = false;
        const QString name = QInputDialog::getText(parent, QStringLiteral("領域の名前"), QStringLiteral("名前:"),
                                                   QLineEdit::Normal, proposed, &ok);
        if (!ok) return std::nullopt;
        return name;
    };
    prompts.openRegionsPath = [parent] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getOpenFileName(parent, QStringLiteral("領域を開く"), dir,
                                            QStringLiteral("領域ファイル (*.json);;すべてのファイル (*)"));
    };
    prompts.openFolderPath = [parent] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("フォルダーを開く"), dir);
    };
    prompts.openFlatFieldPath = [parent] {
        const QString dir = settings().value(QStringLiteral("lastFolder")).toString();
        return QFileDialog::getOpenFileName(parent, QStringLiteral("周辺減光補正"), dir,
                                            QStringLiteral("周辺減光補正ファイル (*.tif *.TIF *.tiff *.TIFF);;すべてのファイル (*)"));
    };
    prompts.fieldTags = [parent](const std::vector<int>& found, const std::vector<int>& proposed) {
        return askFieldTags(parent, found, proposed);
    };
}

}  // namespace view
