// Entry point of the Wine suites. Wine may end a crashed program with exit
// status 0, so the suite's verdict is the last line it prints.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int failed = RUN_ALL_TESTS();
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    bool passed = failed == 0 && unit.Passed() && unit.test_to_run_count() > 0;
    std::printf("zorek win32 result: %s (%d passed, %d failed)\n", passed ? "PASS" : "FAIL",
                unit.successful_test_count(), unit.failed_test_count());
    std::fflush(stdout);
    return passed ? 0 : 1;
}
