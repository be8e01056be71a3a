#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
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

    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        // A user types into the focused name field, and typing there drops the file
        // list's selection (the proposed file, once its folder has loaded), which would
        // otherwise win over the typed name. Until the dialog is active, try again.
        if (!nameEdit->hasFocus()) {
            dialog->activateWindow();
            nameEdit->setFocus(Qt::OtherFocusReason);
            if (!nameEdit->hasFocus()) return;
        }
        dialogs.push_back({dialog->windowTitle(), dialog->nameFilters(), dialog->defaultSuffix(),
                           nameEdit ? nameEdit->text() : QString(), dialog->acceptMode() == QFileDialog::AcceptSave});
        std::optional<QString> answer;
        if (!fileAnswers.empty()) {
            answer = fileAnswers.front();
            fileAnswers.pop_front();
        }
        if (!answer) {
            dialog->reject();
            return;
        }
        // Typed into the name field and confirmed with Enter, as a user does.
        nameEdit->setText(*answer);
        QTest::keyClick(nameEdit, Qt::Key_Return);
        if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "accept");
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes.push_back({box->windowTitle(), box->text(), box->icon()});
        if (echoBoxes) std::fprintf(stderr, "%s\n", box->text().toUtf8().constData());
        if (onBox) onBox(ShownBox(boxes.back()));
        QTest::keyClick(box, Qt::Key_Return);
        if (box->isVisible()) box->done(QMessageBox::Ok);
    }
}
