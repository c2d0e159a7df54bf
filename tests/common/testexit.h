#pragma once
// The exit code of a test program as CTest reads it: a failure is a failure whatever else happened; a
// program that passed but skipped cases for its environment exits with kSkippedExitCode, which
// kest_add_test declares as SKIP_RETURN_CODE, so that the run shows it as skipped and not as passed.
// (Matching "[  SKIPPED ]" in the output instead would also call a program skipped when one of its
// other cases failed, and CTest would then count the failure as a skip.)

#include <gtest/gtest.h>

constexpr int kSkippedExitCode = 77;

inline int KestTestExitCode(int runAllTestsResult)
{
    if (runAllTestsResult != 0)
        return runAllTestsResult;
    return ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? kSkippedExitCode : 0;
}
