#include <gtest/gtest.h>

#include "ui/vek_application.h"

int main(int argc, char** argv) {
    // Offscreen unless a run asks for a real display (the X server tests under Xvfb).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    VekApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
