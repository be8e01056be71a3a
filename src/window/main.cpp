// Start-up: the application object, the one window, the event loop. Errors that
// escape an event handler are shown in the error box and the program goes on; one
// that escapes the start-up itself is shown the same way, then the program ends.

#include "window/Unit87.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include <exception>
#include <memory>

namespace {

void showStartupError(const std::string& message)
{
    const QString title = QString::fromStdString(runtime::applicationTitle(
        QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString()));
    QMessageBox box(QMessageBox::Critical, title, QString::fromStdString(runtime::errorBoxText(message)),
                    QMessageBox::Ok);
    box.exec();
}

// Shows the error being handled; called from inside a catch block.
void showCaughtError()
{
    if (const auto text = runtime::caughtErrorText()) showStartupError(*text);
}

class Application : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            showCaughtError();
        }
        return false;
    }
};

}  // namespace

int main(int argc, char* argv[])
{
    Application app(argc, argv);
    // The dialogs' own labels and buttons in Japanese like the window, whatever the
    // desktop's language.
    installJapaneseQtTexts(app);
    // The installed desktop entry's name (packaging/), so desktops match the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZRV_APP_ID));
    try {
        auto form = std::make_unique<TForm87>();
        form->show();
        return app.exec();
    } catch (...) {
        showCaughtError();
    }
    return 0;
}
