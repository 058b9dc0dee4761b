// GoogleTest's main with a Qt application object, which queued invocations and timers need.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int result = [&] {
        QCoreApplication application(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }();
    // Qt's PulseAudio backend keeps its connection in a global that is torn down after main returns,
    // and libpulse can then abort on a packet still in flight ("Assertion 'pd' failed"), turning a
    // passed run into a failed one. Every result has been reported by now, so leave without running
    // the global destructors.
    std::fflush(nullptr);
    std::_Exit(result);
}
