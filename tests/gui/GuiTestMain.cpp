// The window's tests run the real TForm87 on Qt's offscreen platform.
#include "window/Unit87.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Each death test starts this program anew, so a child has a fresh application.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QApplication app(argc, argv);
    // Qt's own texts in Japanese, as the program loads them.
    installJapaneseQtTexts(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
