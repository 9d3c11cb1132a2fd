// GoogleTest main with the Qt application object the tests need: a bare
// QCoreApplication where the control must work without any GUI, a
// QApplication (offscreen platform, set by CTest) where widgets are drawn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (!testing::GTEST_FLAG(list_tests)) {
#ifdef ZIV_TEST_CORE_APP
        app = std::make_unique<QCoreApplication>(argc, argv);
#else
        app = std::make_unique<QApplication>(argc, argv);
#endif
    }
    return RUN_ALL_TESTS();
}
