// Message boxes, the cursor and the message loop on the desktop.
#include "desktop_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace desktop_test;

namespace {

// Answers the next message box by clicking the button with the given text, noting what the
// box showed.
class BoxClicker {
public:
    explicit BoxClicker(QString button) : button_(std::move(button)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            buttons << b->text();
            if (b->text() == button_) {
                timer_.stop();
                b->click();
            }
        }
    }
    QString button_;
    QTimer timer_;
};

}  // namespace

TEST_F(DesktopTest, AMessageBoxShowsItsButtonsAndReturnsTheClickedAnswer) {
    struct Case {
        unsigned flags;
        const char* click;
        int answer;
        QMessageBox::Icon icon;
        QStringList buttons;
    };
    const Case cases[] = {
        {MB_OK, "OK", IDOK, QMessageBox::NoIcon, {"OK"}},
        {MB_YESNOCANCEL | MB_ICONQUESTION,
         "No",
         IDNO,
         QMessageBox::Question,
         {"Yes", "No", "Cancel"}},
        {MB_ABORTRETRYIGNORE | MB_ICONERROR,
         "Retry",
         IDRETRY,
         QMessageBox::Critical,
         {"Abort", "Retry", "Ignore"}},
        {MB_CANCELTRYCONTINUE | MB_ICONWARNING,
         "Continue",
         IDCONTINUE,
         QMessageBox::Warning,
         {"Cancel", "Try Again", "Continue"}},
        {MB_RETRYCANCEL | MB_ICONINFORMATION,
         "Cancel",
         IDCANCEL,
         QMessageBox::Information,
         {"Retry", "Cancel"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.click);
        BoxClicker clicker(c.click);
        EXPECT_EQ(MessageBox("Camera not found", "", c.flags), c.answer);
        EXPECT_EQ(clicker.title, "Error");
        EXPECT_EQ(clicker.text, "Camera not found");
        EXPECT_EQ(clicker.icon, c.icon);
        QStringList shown = clicker.buttons, expected = c.buttons;
        shown.sort();
        expected.sort();
        EXPECT_EQ(shown, expected);
    }
}

TEST_F(DesktopTest, ABoxAskedOnAnotherThreadIsShownOnTheGuiThread) {
    BoxClicker clicker("Yes");
    std::atomic<int> answer{0};
    std::thread live([&] { answer = MessageBox("Stop the live video?", "Live", MB_YESNO); });
    // The GUI thread waits in a loop of its own, dispatching as the control's loops do.
    EXPECT_TRUE(WaitUntil([&] {
        ProcessMessages();
        return answer != 0;
    }));
    live.join();
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(clicker.title, "Live");
}

TEST_F(DesktopTest, ABoxWhoseOwnerFormGoesAwayWhileItIsUpAnswersItsEscapeButton) {
    auto form = std::make_unique<TForm>();
    form->Show();
    const HWND owner = form->Handle();
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) == nullptr) return;
        closer.stop();
        form.reset();
    });
    closer.start();
    EXPECT_EQ(MessageBox(owner, "Camera gone", "Live", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(form, nullptr);
}

TEST(DesktopBlocked, ABoxTheGuiThreadCannotGetToGoesToThePreviousBackend) {
    auto scripted = std::make_shared<ScriptedUi>();
    scripted->QueueAnswer(IDNO);
    ScopedUiBackend previous(scripted);
    desktop::Options options;
    options.box_pickup_timeout = std::chrono::milliseconds(100);
    ASSERT_TRUE(desktop::Install(options));
    int answer = 0;
    std::thread live([&] { answer = MessageBox("Stop?", "Live", MB_YESNO); });
    live.join();  // the GUI thread blocks on the thread asking, as a bounded stop would
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(scripted->BoxCount(), 1u);
    // The request left queued for the GUI thread shows nothing when it finally runs.
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    desktop::Uninstall();
    EXPECT_EQ(CurrentUiBackend(), scripted);
}

TEST_F(DesktopTest, TheScreenCursorIsTheApplicationsOverrideCursor) {
    {
        TCursorGuard busy;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    std::thread([] { Screen().SetCursor(crHourGlass); }).join();
    EXPECT_TRUE(WaitUntil([] { return QGuiApplication::overrideCursor() != nullptr; }));
    desktop::Uninstall();  // gives the cursor back
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    Screen().SetCursor(crDefault);
    ASSERT_TRUE(desktop::Install());
}

TEST_F(DesktopTest, ProcessMessagesRunsQtsEventsAndQtsLoopDispatchesPostedMessages) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    ProcessMessages();
    EXPECT_TRUE(ran) << "pending Qt events run in ProcessMessages";

    TForm form;
    std::vector<uint32_t> seen;
    const int handler = AddMessageHandler([&](const TMessage& m) {
        if (m.Window == form.Handle()) seen.push_back(m.Msg);
    });
    std::thread([&] { PostMessage(form.Handle(), WM_USER + 1); }).join();
    EXPECT_TRUE(WaitUntil([&] { return !seen.empty(); }))
        << "dispatched from the Qt event loop without a ProcessMessages call";
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1}));
    RemoveMessageHandler(handler);
}
