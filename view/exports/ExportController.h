#pragma once
// The viewer's exports: the name asked for (refusing the open picture and asking before
// replacing a file), then the file written whole or not at all through the engine's
// output path, and a notice or the failure with the system's reason. What is written is
// what the window shows: the picture in memory under the model in use, the season's
// figures of its last complete run; nothing is read again.

#include "view/exports/Exports.h"

#include <QObject>
#include <QString>

#include <functional>

namespace view {

class ViewerWindow;

class ExportController : public QObject {
    Q_OBJECT
public:
    explicit ExportController(ViewerWindow& window);

    // The menu's export: asks for the name, writes, tells.
    void choose(Export which);
    // Writes to path without asking; false, after a message, when nothing or not all
    // was written.
    bool write(Export which, const QString& path);

    // A name beside the open picture: its base name and suffix.
    QString proposedName(const QString& suffix) const;
    // Refuses, after the engine's message, to write over the open picture.
    bool refuseOpenPicture(const QString& path);
    // Refuses, after its problem, while the fields give an impossible model.
    bool refuseImpossibleModel();
    // Runs write; false, after the message naming the file and why, when it failed.
    bool reportFailure(const QString& path, const std::function<void()>& write);

private:
    bool writeRaster(const QString& path);
    bool writeTiff(const QString& path);
    bool writeShownPicture(const QString& path);
    bool writeFigures(const QString& path);
    bool writeSeasonChart(const QString& path);
    bool writeSeasonTable(const QString& path);

    ViewerWindow& window_;
};

}  // namespace view
