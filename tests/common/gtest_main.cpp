// GoogleTest main for tests without a Qt application object; its exit code tells CTest about skips.
#include <gtest/gtest.h>

#include "testexit.h"

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return KestTestExitCode(RUN_ALL_TESTS());
}
