#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "ui/vek_application.h"

int main(int argc, char** argv) {
    // Offscreen unless a run asks for a real display (the X server tests under Xvfb).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows' journal never goes to the user's own folder from a test.
    QTemporaryDir dataDir;
    if (!qEnvironmentVariableIsSet("VEK_DATA_DIR"))
        qputenv("VEK_DATA_DIR", dataDir.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    VekApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
