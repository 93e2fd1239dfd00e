// Shared by the desktop tests: the backend installed for each test, and waiting on a
// condition (with a bound) while Qt processes events.
#pragma once

#include <bxplatform/ui.h>
#include <bxplatform/ui_desktop.h>

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <type_traits>

namespace desktop_test {

using namespace bx::ui;

// Processes events until `condition` holds, for at most `ms`; returns the condition.
template <class F>
bool WaitUntil(F condition, int ms = 5000) {
    return QTest::qWaitFor(condition, ms);
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(desktop::Install()); }
    void TearDown() override {
        desktop::Uninstall();
        DiscardMessages();
    }

    template <class W = QWidget>
    W* WidgetOf(TControl* control) {
        return qobject_cast<W*>(desktop::WidgetFor(control));
    }
};

}  // namespace desktop_test
