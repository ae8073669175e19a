#include <gtest/gtest.h>

#include <cstring>

#include "tarn_bench_namespace.h"

namespace {

bool OnlyListingTests(int argc, char **argv) {
    for (int index = 1; index < argc; ++index) {
        if (strcmp(argv[index], "--gtest_list_tests") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    // Modules open /dev/ttySn by number: each test process gets its own /dev before any thread exists.
    if (!OnlyListingTests(argc, argv)) {
        tarn::bench::EnterUnitTestSandbox();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
