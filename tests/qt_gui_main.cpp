// Test main for the window tests; run with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Vellquin Tool"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
