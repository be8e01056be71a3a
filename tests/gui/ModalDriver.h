#pragma once
// Answers the window's modal dialogs and boxes the way a user would, from a timer
// that looks at QApplication::activeModalWidget(), and records what was shown.

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
};

struct ShownDialog {
    QString title;
    QStringList nameFilters;
    QString defaultSuffix;
    QString proposed;  // the name the dialog offered when it opened
    bool save;
};

class ModalDriver : public QObject {
public:
    ModalDriver();

    // Answers for file dialogs in order: a path to type and confirm, or nullopt to
    // cancel. With none left a dialog is cancelled.
    std::deque<std::optional<QString>> fileAnswers;
    std::vector<ShownBox> boxes;
    std::vector<ShownDialog> dialogs;
    // Called on every poll, also while an operation pumps events.
    std::function<void()> onPoll;
    // Called when a box is seen, while it is still up.
    std::function<void(const ShownBox&)> onBox;
    // Also writes each box's text to standard error, for tests of a process that ends.
    bool echoBoxes = false;

private:
    void answer();
    QTimer timer_;
    QTimer pollTimer_;
};
