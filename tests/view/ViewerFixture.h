#pragma once
// The viewer window on the offscreen platform with its questions answered in code,
// and the tests' own NDVI, worked out apart from the engine.

#include "BmpFixture.h"
#include "NdviOracle.h"
#include "view/ViewerWindow.h"
#include "view/season/SeasonDock.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace view_testing {

using testing_support::Picture;
using testing_support::Pixel;

using testing_support::oracleNdvi;

inline QString fourDecimals(double v)
{
    return QString::number(v, 'f', 4);
}

// Each test starts from no remembered view, palette or recent files.
struct FreshSettings {
    FreshSettings() { QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view")).clear(); }
};

// The window with every question answered from the queues below.
struct Viewer {
    FreshSettings fresh;
    view::ViewerWindow window;
    std::vector<QString> messages;
    std::deque<QString> savePaths;
    std::deque<std::optional<std::int64_t>> widths;
    std::deque<bool> confirmations;
    std::vector<QString> questions;  // every one asked
    std::deque<QString> regionNames;  // empty: cancelled
    std::vector<QString> proposedNames;  // every name proposed for a region drawn
    std::deque<QString> regionsPaths;

    Viewer()
    {
        auto& p = window.prompts();
        p.openPath = [] { return QString(); };
        p.message = [this](const QString& text) { messages.push_back(text); };
        p.savePath = [this](const QString&, const QString&, const QString&, const QString&) {
            if (savePaths.empty()) return QString();
            QString path = savePaths.front();
            savePaths.pop_front();
            return path;
        };
        p.rasterWidth = [this](const QString&, std::int64_t) -> std::optional<std::int64_t> {
            if (widths.empty()) return std::nullopt;
            auto w = widths.front();
            widths.pop_front();
            return w;
        };
        p.confirm = [this](const QString& question) {
            questions.push_back(question);
            if (confirmations.empty()) return false;
            bool c = confirmations.front();
            confirmations.pop_front();
            return c;
        };
        p.regionName = [this](const QString& proposed) -> std::optional<QString> {
            proposedNames.push_back(proposed);
            if (regionNames.empty()) return std::nullopt;
            QString name = regionNames.front();
            regionNames.pop_front();
            return name;
        };
        p.openRegionsPath = [this] {
            if (regionsPaths.empty()) return QString();
            QString path = regionsPaths.front();
            regionsPaths.pop_front();
            return path;
        };
        window.resize(1000, 720);
        window.show();
        QApplication::processEvents();
    }

    bool open(const std::filesystem::path& path) { return window.openFile(QString::fromStdString(path.string())); }

    // The status label with the pointer over the middle of pixel (x, y).
    QString hover(int x, int y)
    {
        QApplication::processEvents();  // any pending layout first
        view::Canvas* canvas = window.canvas();
        // Qt drops a move to where the pointer already is, so come from beside it.
        const QPoint at = canvas->centreOfPixel(x, y).toPoint();
        QTest::mouseMove(canvas->viewport(), at + QPoint(1, 1));
        QTest::mouseMove(canvas->viewport(), at);
        QApplication::processEvents();
        return window.pointerText();
    }

    // The window's action whose text begins with prefix, or null.
    QAction* action(const QString& prefix)
    {
        for (QAction* a : window.findChildren<QAction*>()) {
            if (a->text().startsWith(prefix)) return a;
        }
        return nullptr;
    }

    // The panel line that begins with prefix; empty when there is none.
    QString line(const QString& prefix) const
    {
        for (const QString& l : window.panelLines()) {
            if (l.startsWith(prefix)) return l;
        }
        return {};
    }
};

// Waits, without a deadline of its own, for the season chart's run to finish.
inline void waitForChart(view::SeasonDock& dock)
{
    while (!dock.complete()) {
        QEventLoop loop;
        QObject::connect(&dock, &view::SeasonDock::stateChanged, &loop, &QEventLoop::quit);
        if (!dock.busy()) break;
        loop.exec();
    }
}

}  // namespace view_testing
