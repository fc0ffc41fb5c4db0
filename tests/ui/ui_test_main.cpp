#include <gtest/gtest.h>

#include "ui/vek_application.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    VekApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
