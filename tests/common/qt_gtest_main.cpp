// GoogleTest main for tests that need a Qt application object (event loop, timers, widgets offscreen); its
// exit code tells CTest about skips (testexit.h).
#include <QCoreApplication>
#ifdef KEST_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "testexit.h"

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef KEST_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return KestTestExitCode(RUN_ALL_TESTS());
}
