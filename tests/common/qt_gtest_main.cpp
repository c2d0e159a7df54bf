// GoogleTest main for tests that need a Qt application object (event loop, timers, widgets offscreen).
#include <QCoreApplication>
#ifdef KEST_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

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
    return RUN_ALL_TESTS();
}
