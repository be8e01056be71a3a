#pragma once
// ファイル > 最近使ったファイル: the pictures and projects the user opened, newest first,
// kept in the viewer's settings, with the folder each lies in.

#include <QObject>
#include <QString>

class QMenu;

namespace view {

class RecentFiles : public QObject {
    Q_OBJECT
public:
    // Fills menu, which it keeps up to date.
    RecentFiles(QMenu* menu, QObject* parent);

    // path first in the list, and its folder the one the open dialogs start in.
    void add(const QString& path);

signals:
    void chosen(const QString& path);

private:
    void rebuild();

    QMenu* menu_;
};

}  // namespace view
