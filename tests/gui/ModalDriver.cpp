#include "ModalDriver.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>

ModalDriver::ModalDriver()
{
    // Two timers: Qt never re-enters a timer that is still in its handler, and onPoll
    // may open a box that the other one must answer.
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::answer);
    timer_.start();
    pollTimer_.setInterval(2);
    connect(&pollTimer_, &QTimer::timeout, this, [this] {
        if (onPoll) onPoll();
    });
    pollTimer_.start();
}

void ModalDriver::answer()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) answerDialog(*dialog);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) answerBox(*box);
}

void ModalDriver::answerDialog(QFileDialog& dialog)
{
    if (confirming_) return;
    auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (typedInto_ == &dialog) {
        const QCompleter* completer = nameEdit->completer();
        if (!completer || !completer->popup()->isVisible()) return;
        typedInto_ = nullptr;
        confirm(dialog);
        return;
    }
    // A user types into the focused name field, and typing there drops the file
    // list's selection (the proposed file, once its folder has loaded), which would
    // otherwise win over the typed name. Until the dialog is active, try again.
    if (!nameEdit->hasFocus()) {
        dialog.activateWindow();
        nameEdit->setFocus(Qt::OtherFocusReason);
        if (!nameEdit->hasFocus()) return;
    }
    dialogs.push_back({dialog.windowTitle(), dialog.nameFilters(), dialog.defaultSuffix(), nameEdit->text(),
                       dialog.acceptMode() == QFileDialog::AcceptSave});
    if (onDialog) onDialog(dialog);
    std::optional<QString> answer;
    if (!fileAnswers.empty()) {
        answer = fileAnswers.front();
        fileAnswers.pop_front();
    }
    if (!answer) {
        dialog.reject();
        return;
    }
    if (typeNames) {
        nameEdit->clear();
        QTest::keyClicks(nameEdit, *answer);
        typedInto_ = &dialog;
        return;
    }
    nameEdit->setText(*answer);
    confirm(dialog);
}

// Enter goes in from the next turn of the event loop, so that this timer is free to
// answer the replace question that it may bring up.
void ModalDriver::confirm(QFileDialog& dialog)
{
    confirming_ = true;
    QTimer::singleShot(0, this, [this, dialog = QPointer<QFileDialog>(&dialog)] {
        if (!dialog) {
            confirming_ = false;
            return;
        }
        const std::size_t boxesBefore = boxes.size();
        // Through the dialog's window, where a real key goes: to the completion list
        // first when it is up.
        QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
        // A dialog that asked and was told "No" stays up for the next answer.
        if (dialog && dialog->isVisible() && boxes.size() == boxesBefore) {
            QMetaObject::invokeMethod(dialog, "accept");
        }
        confirming_ = false;
    });
}

void ModalDriver::answerBox(QMessageBox& box)
{
    QStringList buttons;
    for (QAbstractButton* button : box.buttons()) buttons << button->text();
    boxes.push_back({box.windowTitle(), box.text(), box.icon(), buttons,
                     box.defaultButton() ? box.defaultButton()->text() : QString()});
    if (echoBoxes) std::fprintf(stderr, "%s\n", box.text().toUtf8().constData());
    if (onBox) onBox(ShownBox(boxes.back()));
    if (buttons.size() > 1 && !boxAnswers.empty()) {
        QAbstractButton* button = box.button(boxAnswers.front());
        boxAnswers.pop_front();
        if (button) {
            button->click();
            return;
        }
    }
    QTest::keyClick(&box, Qt::Key_Return);
    if (box.isVisible()) box.done(QMessageBox::Ok);
}
