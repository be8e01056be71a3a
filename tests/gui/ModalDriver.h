#pragma once
// Answers the window's modal dialogs and boxes the way a user would, from a timer
// that looks at QApplication::activeModalWidget(), and records what was shown.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QFileDialog;

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QStringList buttons;    // the buttons' texts, in the box's order
    QString defaultButton;  // the one Enter presses
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
    // Buttons to click on questions (boxes with more than one button), in order. Every
    // other box, and a question with none left, is answered with Enter, which presses
    // its default button.
    std::deque<QMessageBox::StandardButton> boxAnswers;
    // Types each name key by key and presses Enter only once the name field's
    // completion list has come up, as a user who types a path sees it.
    bool typeNames = false;
    std::vector<ShownBox> boxes;
    std::vector<ShownDialog> dialogs;
    // Called on every poll, also while an operation pumps events.
    std::function<void()> onPoll;
    // Called when a box is seen, while it is still up.
    std::function<void(const ShownBox&)> onBox;
    // Called when a file dialog is seen, before it is answered.
    std::function<void(QFileDialog&)> onDialog;
    // Also writes each box's text to standard error, for tests of a process that ends.
    bool echoBoxes = false;

private:
    void answer();
    void answerDialog(QFileDialog& dialog);
    void answerBox(QMessageBox& box);
    void confirm(QFileDialog& dialog);
    QTimer timer_;
    QTimer pollTimer_;
    QPointer<QFileDialog> typedInto_;  // typed into, waiting for the completion list
    bool confirming_ = false;          // Enter is on its way to a dialog
};
