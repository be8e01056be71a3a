#include "view/window/RecentFiles.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace view {

namespace {

constexpr int kRecentFiles = 8;

QSettings settings()
{
    return QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view"));
}

}  // namespace

RecentFiles::RecentFiles(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu)
{
    rebuild();
}

void RecentFiles::add(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    QSettings s = settings();
    QStringList files = s.value(QStringLiteral("recentFiles")).toStringList();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > kRecentFiles) files.removeLast();
    s.setValue(QStringLiteral("recentFiles"), files);
    s.setValue(QStringLiteral("lastFolder"), QFileInfo(full).absolutePath());
    rebuild();
}

void RecentFiles::rebuild()
{
    menu_->clear();
    const QStringList files = settings().value(QStringLiteral("recentFiles")).toStringList();
    int n = 0;
    for (const QString& f : files) {
        // The folder too: frames from several days often share their names.
        const QFileInfo info(f);
        const QString shown = QStringLiteral("%1（%2）").arg(info.fileName(), QDir::toNativeSeparators(info.path()));
        QAction* a = menu_->addAction(
            QStringLiteral("&%1 %2").arg(++n).arg(QString(shown).replace(QLatin1Char('&'), QStringLiteral("&&"))), this,
            [this, f] { emit chosen(f); });
        a->setToolTip(QDir::toNativeSeparators(f));
        a->setStatusTip(QDir::toNativeSeparators(f));
    }
    if (files.isEmpty()) {
        menu_->addAction(QStringLiteral("（なし）"))->setEnabled(false);
        return;
    }
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("履歴を消去"), this, [this] {
        settings().remove(QStringLiteral("recentFiles"));
        rebuild();
    });
}

}  // namespace view
