// Message boxes, beeps, the cursor and the message queue.
#include <bxplatform/ui.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

using namespace bx::ui;

namespace {

// Each test starts with its own scripted backend and an empty queue.
class Services : public ::testing::Test {
protected:
    void SetUp() override { DiscardMessages(); }
    void TearDown() override { DiscardMessages(); }
    std::shared_ptr<ScriptedUi> ui = std::make_shared<ScriptedUi>();
    ScopedUiBackend scope{ui};
};

}  // namespace

TEST_F(Services, BoxesAndBeepsAreRecordedInOrderWithQueuedAnswers) {
    ui->QueueAnswers({IDRETRY, IDCANCEL});
    EXPECT_EQ(MessageBox("KvCam_GrabFrame() error!", "Error", MB_ABORTRETRYIGNORE), IDRETRY);
    Beep();
    EXPECT_EQ(MessageBox("Warning - Changing These Settings Affects Existing Protocols",
                         "Consult Your User Manual", MB_OKCANCEL | MB_ICONWARNING),
              IDCANCEL);
    MessageBeep(MB_ICONERROR);
    EXPECT_EQ(Application().MessageBox("Queue frame failed.", "Error"), IDOK);  // nothing queued

    std::vector<UiEvent> events = ui->Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_TRUE(events[0].IsBox());
    EXPECT_EQ(events[0].box.Text, "KvCam_GrabFrame() error!");
    EXPECT_EQ(events[0].box.Caption, "Error");
    EXPECT_EQ(events[0].box.Buttons(), MB_ABORTRETRYIGNORE);
    EXPECT_EQ(events[0].answer, IDRETRY);
    EXPECT_TRUE(events[1].IsBeep());
    EXPECT_EQ(events[1].beepType, MB_OK);
    EXPECT_EQ(events[2].box.Icon(), MB_ICONWARNING);
    EXPECT_EQ(events[2].box.Caption, "Consult Your User Manual");
    EXPECT_EQ(events[3].beepType, MB_ICONERROR);
    EXPECT_EQ(events[4].answer, IDOK);
    EXPECT_EQ(ui->BoxCount(), 3u);
    EXPECT_EQ(ui->BeepCount(), 2u);
    EXPECT_EQ(ui->PendingAnswers(), 0u);
}

TEST_F(Services, UnscriptedBoxesTakeTheirDefaultButton) {
    EXPECT_EQ(MessageBox("q", "c", MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(MessageBox("q", "c", MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBox("q", "c", MB_RETRYCANCEL | MB_DEFBUTTON3), IDRETRY)
        << "a default button the box lacks falls back to the first";
    // A scripted answer the box does not offer is used up and replaced by the default, so a
    // wrong script shows in the recorded answer instead of an impossible return value.
    ui->QueueAnswer(IDYES);
    EXPECT_EQ(MessageBox("q", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(ui->PendingAnswers(), 0u);
}

TEST_F(Services, UnknownButtonSetsShowNothingAndAnswerZero) {
    EXPECT_EQ(MessageBox("q", "c", 0x0F), 0);
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(Services, ResponderAnswersWhenTheQueueIsEmpty) {
    int seen = 0;
    ui->SetResponder([&](const MessageBoxRequest& box) {
        ++seen;
        // A responder may itself use the toolkit (the backend's lock is not held).
        Beep();
        return box.Text == "abort" ? IDABORT : IDIGNORE;
    });
    ui->QueueAnswer(IDRETRY);
    EXPECT_EQ(MessageBox("abort", "", MB_ABORTRETRYIGNORE), IDRETRY);  // queue first
    EXPECT_EQ(MessageBox("abort", "", MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(MessageBox("other", "", MB_ABORTRETRYIGNORE), IDIGNORE);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(ui->BeepCount(), 2u);
    EXPECT_EQ(ui->Boxes().front().ShownCaption(), "Error") << "no caption shows the default one";
}

TEST(ConsoleBackend, PrintsTheBoxAndAnswersTheConfiguredChoice) {
    std::ostringstream out;
    auto console = std::make_shared<ConsoleUi>(IDCANCEL, &out);
    ScopedUiBackend scope(console);
    EXPECT_EQ(MessageBox("No Response", "Initialising", MB_RETRYCANCEL | MB_ICONWARNING), IDCANCEL);
    EXPECT_EQ(MessageBox("Done", "Info", MB_OK), IDOK) << "a choice the box lacks: its default";
    Beep();
    const std::string text = out.str();
    EXPECT_NE(text.find("Initialising (warning): No Response [Retry/Cancel] -> Cancel"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Info: Done [OK] -> OK"), std::string::npos) << text;
    EXPECT_NE(text.find("[beep]"), std::string::npos);

    std::ostringstream out2;
    ScopedUiBackend first(std::make_shared<ConsoleUi>(ConsoleUi::kDefaultButton, &out2));
    EXPECT_EQ(MessageBox("q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
}

TEST_F(Services, CursorGuardShowsTheHourglassAndRestores) {
    Screen().SetCursor(crDefault);
    ui->Clear();
    {
        TCursorGuard busy;
        EXPECT_EQ(Screen().Cursor(), crHourGlass);
        {
            TCursorGuard nested;  // already the hourglass: no change reported
            EXPECT_EQ(Screen().Cursor(), crHourGlass);
        }
        EXPECT_EQ(Screen().Cursor(), crHourGlass) << "the inner guard restores the hourglass";
    }
    EXPECT_EQ(Screen().Cursor(), crDefault);
    EXPECT_EQ(ui->Cursors(), (std::vector<TCursor>{crHourGlass, crDefault}));
}

TEST_F(Services, ProcessMessagesDispatchesInPostedOrder) {
    std::vector<uint32_t> seen;
    int id = AddMessageHandler([&](const TMessage& m) { seen.push_back(m.Msg); });
    ASSERT_GT(id, 0);
    PostThreadMessage(WM_USER + 1);
    PostThreadMessage(WM_RBUTTONUP);
    PostThreadMessage(WM_USER + 2, 7, 9);
    EXPECT_EQ(PendingMessageCount(), 3u);
    EXPECT_TRUE(seen.empty()) << "nothing is dispatched before ProcessMessages";
    EXPECT_EQ(ProcessMessages(), 3u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1, WM_RBUTTONUP, WM_USER + 2}));
    EXPECT_EQ(ProcessMessages(), 0u);
    EXPECT_TRUE(RemoveMessageHandler(id));
    EXPECT_FALSE(RemoveMessageHandler(id));
    PostThreadMessage(WM_USER);
    ProcessMessages();
    EXPECT_EQ(seen.size(), 3u) << "a removed handler sees nothing";
}

TEST_F(Services, AHandlerThatPostsCannotMakeProcessMessagesRunForever) {
    int dispatched = 0;
    int id = AddMessageHandler([&](const TMessage&) {
        ++dispatched;
        PostThreadMessage(WM_USER);  // reposts on every dispatch
    });
    PostThreadMessage(WM_USER);
    EXPECT_EQ(ProcessMessages(), 1u);
    EXPECT_EQ(ProcessMessages(), 1u);
    EXPECT_EQ(dispatched, 2);
    RemoveMessageHandler(id);
}

TEST_F(Services, MessagesPostedFromAnotherThreadArriveInOrder) {
    std::vector<uintptr_t> seen;
    int id = AddMessageHandler([&](const TMessage& m) { seen.push_back(m.WParam); });
    constexpr uintptr_t kCount = 500;
    std::thread poster([] {
        for (uintptr_t i = 0; i < kCount; ++i) PostThreadMessage(WM_USER, i);
    });
    // The UI thread keeps pumping while the other thread posts, as a grab loop does.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.size() < kCount && std::chrono::steady_clock::now() < deadline) {
        ProcessMessages();
        std::this_thread::yield();
    }
    poster.join();
    ProcessMessages();
    ASSERT_EQ(seen.size(), kCount);
    for (uintptr_t i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], i);
    RemoveMessageHandler(id);
}

TEST_F(Services, DesktopHooksPumpOnceForNestedDispatchesAndMayAnswerWindowRects) {
    int pumps = 0, posts = 0;
    TForm form;
    form.SetBounds(1, 2, 30, 40);
    DesktopHooks hooks;
    hooks.Pump = [&] { ++pumps; };
    hooks.Posted = [&] { ++posts; };
    hooks.WindowRect = [&](HWND window, TRect* rect) {
        if (window != form.Handle()) return false;
        *rect = TRect{100, 200, 130, 240};
        return true;
    };
    DesktopHooks previous = SetDesktopHooks(std::move(hooks));
    const int id = AddMessageHandler([](const TMessage& m) {
        if (m.Msg == WM_USER) ProcessMessages();  // a handler waiting in a loop of its own
    });
    PostMessage(form.Handle(), WM_USER);
    PostMessage(form.Handle(), WM_USER + 1);
    ProcessMessages();
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(pumps, 1) << "only the outermost ProcessMessages pumps";
    TRect rect;
    ASSERT_TRUE(GetWindowRect(form.Handle(), &rect));
    EXPECT_EQ(rect, (TRect{100, 200, 130, 240}));
    TForm other;
    other.SetBounds(5, 6, 7, 8);
    ASSERT_TRUE(GetWindowRect(other.Handle(), &rect));
    EXPECT_EQ(rect, (TRect{5, 6, 12, 14})) << "a hook that declines leaves the model's";
    RemoveMessageHandler(id);
    SetDesktopHooks(std::move(previous));
    ProcessMessages();
    EXPECT_EQ(pumps, 1);
}

TEST_F(Services, WindowMessagesReachTheControlThenTheHandlers) {
    TForm form;
    auto* button = form.Add<TButton>("btn_AutoExpose");
    std::vector<std::string> log;
    button->OnMouseUp = [&](TObject* sender, TMouseButton b, TShiftState, int x, int y) {
        EXPECT_EQ(sender, button);
        EXPECT_EQ(b, mbRight);
        log.push_back("control " + std::to_string(x) + "," + std::to_string(y));
    };
    int id = AddMessageHandler([&](const TMessage& m) {
        if (m.Msg == WM_RBUTTONUP) log.push_back("handler " + std::to_string(m.Window));
    });
    EXPECT_TRUE(PostMessage(button->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(12, 34)));
    EXPECT_FALSE(PostMessage(0xFFFFFFF0u, WM_RBUTTONUP)) << "unknown window";
    ProcessMessages();
    EXPECT_EQ(log, (std::vector<std::string>{"control 12,34",
                                             "handler " + std::to_string(button->Handle())}));

    // A message whose window dies before dispatch is dropped.
    log.clear();
    {
        TForm doomed;
        auto* gone = doomed.Add<TButton>("btn_Gone");
        gone->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) {
            log.push_back("gone");
        };
        PostMessage(gone->Handle(), WM_RBUTTONUP);
    }
    EXPECT_EQ(ProcessMessages(), 0u);
    EXPECT_TRUE(log.empty());
    RemoveMessageHandler(id);
}

namespace {

// A box shown with the same question again and again, as a caller that retries on Retry does.
struct RetryCase {
    const char* name;
    unsigned flags;
    int configured;     // ConsoleUi's configured answer
    int automatic;      // what it answers while retrying is allowed
    int afterGivingUp;  // what it answers from then on
};

class ConsoleRetries : public ::testing::TestWithParam<RetryCase> {};

}  // namespace

TEST_P(ConsoleRetries, RetryIsBoundedForTheSameQuestionAndAnyOtherBoxResetsTheCount) {
    const RetryCase& c = GetParam();
    std::ostringstream out;
    ScopedUiBackend scope(std::make_shared<ConsoleUi>(c.configured, &out));
    const int limit = ConsoleUi::kMaxAutomaticRetries;

    std::vector<int> answers;
    for (int i = 0; i < limit + 2; ++i)
        answers.push_back(MessageBox("grab failed", "Error", c.flags));
    std::vector<int> expected(static_cast<size_t>(limit), c.automatic);
    expected.insert(expected.end(), 2, c.afterGivingUp);
    EXPECT_EQ(answers, expected);

    // Another box in between starts the count afresh, and so does the same text elsewhere.
    EXPECT_EQ(MessageBox("something else", "Error", MB_OK), IDOK);
    EXPECT_EQ(MessageBox("grab failed", "Error", c.flags), c.automatic);
    EXPECT_EQ(MessageBox("grab failed", "Other caption", c.flags), c.automatic);
    EXPECT_EQ(MessageBox("grab failed", "Error", c.flags), c.automatic);

    const std::string text = out.str();
    const size_t line = text.find("gave up retrying");
    EXPECT_EQ(line != std::string::npos, c.automatic != c.afterGivingUp) << text;
    EXPECT_EQ(line, text.rfind("gave up retrying")) << "said once";
}

INSTANTIATE_TEST_SUITE_P(
    BoxKinds, ConsoleRetries,
    ::testing::Values(RetryCase{"AbortRetryIgnoreGivesUpWithAbort", MB_ABORTRETRYIGNORE, IDRETRY,
                                IDRETRY, IDABORT},
                      RetryCase{"RetryCancelGivesUpWithCancel", MB_RETRYCANCEL | MB_ICONWARNING,
                                IDRETRY, IDRETRY, IDCANCEL},
                      RetryCase{"ADefaultButtonOfRetryIsBoundedToo", MB_RETRYCANCEL,
                                ConsoleUi::kDefaultButton, IDRETRY, IDCANCEL},
                      RetryCase{"TryAgainCountsAsRetry", MB_CANCELTRYCONTINUE | MB_DEFBUTTON2,
                                ConsoleUi::kDefaultButton, IDTRYAGAIN, IDCANCEL},
                      RetryCase{"AnswersOtherThanRetryAreNeverReplaced", MB_ABORTRETRYIGNORE,
                                IDIGNORE, IDIGNORE, IDIGNORE}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });
