// Test entry point: a QApplication on the platform the environment chose (offscreen for
// unit tests), except when GoogleTest is only asked to list tests: test discovery runs
// without the test's environment, where no display may exist.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    bool listingOnly = false;
    for (int i = 1; i < argc; ++i)
        listingOnly = listingOnly || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> application;
    if (!listingOnly)
        application = std::make_unique<QApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
