#include <QApplication>
#include <gtest/gtest.h>

// Widgets need a QApplication before the first test creates one; ctest sets QT_QPA_PLATFORM=offscreen.
int main(int argc, char** argv)
{
    // Test discovery runs the program without ctest's environment: without a display, go offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
