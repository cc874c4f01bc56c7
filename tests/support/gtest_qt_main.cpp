#include <QApplication>
#include <gtest/gtest.h>

// One QApplication for the whole test binary, on the offscreen platform unless
// the caller asked for another (a screenshot run under Xvfb, say).
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
