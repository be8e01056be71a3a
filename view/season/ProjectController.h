#pragma once
// The season project the viewer has open: the file it was opened from or saved to, the
// engine::SeasonProject made from what the window shows (the season's folder and time
// rule, the regions, the calibration and the flat-field in use), and whether that
// differs from the file. Opening one puts it back into the window; saving writes it
// whole or not at all through the engine's output path.

#include "engine/season/SeasonProject.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace view {

class ViewerWindow;

class ProjectController : public QObject {
    Q_OBJECT
public:
    enum class Answer { Save, Discard, Cancel };
    // What the controller asks the user. Qt's dialogs by default; tests answer in code.
    // Messages, the name to save under and the question about replacing a file are the
    // window's own prompts.
    struct Prompts {
        std::function<QString()> openPath;  // empty: cancelled
        // The project named has changes not yet saved: 保存, 保存しない or キャンセル.
        std::function<Answer(const QString& name)> unsaved;
    };

    explicit ProjectController(ViewerWindow& window);

    Prompts& prompts() noexcept { return prompts_; }
    // The file of the project open; empty when none is.
    const QString& path() const noexcept { return path_; }
    // What the window shows is not what the project's file holds.
    bool isModified() const noexcept { return modified_; }

    // A name the viewer opens as a project rather than a picture: .json, unless the file
    // is JSON of another kind (a regions or calibration file).
    static bool isProjectName(const QString& path);

    // The project as the window shows it, saved at file (frames and flat-field written
    // relative to its folder); the problem in Japanese when there is no season to save.
    std::optional<engine::SeasonProject> current(const QString& file, QString* problem = nullptr) const;

    // The menu's three actions: プロジェクトを開く…, プロジェクトを保存, 名前を付けて保存….
    void addActions(QMenu& file);

    // Opens the project at path into the window, after asking about unsaved changes;
    // false, after a message naming the file, when it cannot (the window as it was).
    bool open(const QString& path);
    // プロジェクトを保存: to its file, or asks for one when there is none yet.
    bool save();
    // 名前を付けて保存…: asks for a name, and whether to replace a file there.
    bool saveAs();
    // Writes to path without asking. On failure a message says why, and the project
    // stays as it was: unsaved, under its old name.
    bool saveTo(const QString& path);
    // Before the window closes or another season comes in: asks about unsaved changes.
    // False: キャンセル (or saving failed), and everything stays as it is.
    bool maySetAside();
    // Another season has come in: no project is open any more.
    void leave();
    // The project open when the viewer last ended, opened again; nothing, and no
    // message, when there was none or its file is gone.
    bool reopenLast();
    // The project's name for the window title with Qt's [*] mark; empty without one.
    QString titleName() const;

signals:
    void opened(const QString& path);
    void saved(const QString& path);
    // The project's name or its unsaved mark changed.
    void titleChanged();

private:
    QString currentKey() const;
    void refresh();
    void setProject(const QString& path, bool faithful);

    ViewerWindow& window_;
    Prompts prompts_;
    QString path_;
    // The opened project's index ("index"), written back when saved.
    std::optional<engine::VegetationIndex> index_;
    QString savedKey_;  // of the window's state when last saved or opened; empty: unknown
    bool modified_ = false;
    bool applying_ = false;  // opening one: its own changes are not the user's
    QAction* saveAction_ = nullptr;
    QAction* saveAsAction_ = nullptr;
};

}  // namespace view
