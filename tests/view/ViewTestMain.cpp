// The viewer's tests run the real window on Qt's offscreen platform.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    // Recent files, the last view and the calibration kept between runs go to a
    // settings folder of this run's own, never the user's.
    const QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
