// The gui tests' main: one QApplication with the toolkit's desktop backend, made when tests
// run (not when CTest lists them).
#include <bxplatform/ui_desktop.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // no display needed to list
    // Simulated time runs ten times faster unless the environment says otherwise; read at the
    // clock's first use, which is later.
    ::setenv("BX_TIME_WARP", "10", 0);
    QApplication app(argc, argv);
    bx::ui::desktop::Backend desktop;
    if (!desktop.Installed()) return 1;
    return RUN_ALL_TESTS();
}
