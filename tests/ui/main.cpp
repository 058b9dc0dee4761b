// The view tests run with a QApplication on Qt's offscreen platform, rendering widgets into images.
// SIGINT and SIGTERM are blocked as in the application, so a test can stop it the way a logout does.
#include "app/StopSignals.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ferrylantern::StopSignals::blockInAllThreads();
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
