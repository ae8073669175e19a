#include <gtest/gtest.h>

// Each integration test builds its own sandbox; the test process itself stays on the host.
int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
