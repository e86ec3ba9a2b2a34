#include <QApplication>
#include <gtest/gtest.h>

// Widgets need a QApplication before the first test creates one; ctest sets QT_QPA_PLATFORM=offscreen.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
