// zrvimage-view [--white NIR,RED] [--panel-reflectance NIR,RED] [--dark NIR,RED]
//               [--dark-reflectance NIR,RED] [--select X1,Y1,X2,Y2] [FILE]
#include "view/CommandLine.h"
#include "view/ViewerWindow.h"
#include "view/season/ProjectController.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

int main(int argc, char** argv)
{
    // The line is read before any window system is asked for, so --help, --version and
    // bad usage answer without a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const view::CommandLine line = view::parseCommandLine(arguments);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "zrvimage-view: %s\n\n%s", line.error.toUtf8().constData(),
                     view::usageText().toUtf8().constData());
        return 2;
    }
    if (line.help) {
        std::fputs(view::usageText().toUtf8().constData(), stdout);
        return 0;
    }
    if (line.version) {
        std::fputs("zrvimage-view " ZRV_VERSION "\n", stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zrvimage-view"));
    QApplication::setOrganizationName(QStringLiteral("zrvimage"));
    QGuiApplication::setDesktopFileName(QStringLiteral(ZRV_VIEW_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/view/icon-48.png")));
    // Qt's own buttons and dialogs in Japanese too, like every other text.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtTexts);
    }

    view::ViewerWindow window;
    if (line.model) window.setModel(*line.model);
    window.show();
    if (!line.file.isEmpty()) {
        if (window.openFile(line.file) && line.select) window.selectArea(*line.select);
    } else {
        // The season left open last time, as the recent files are kept.
        window.project()->reopenLast();
    }
    return app.exec();
}
