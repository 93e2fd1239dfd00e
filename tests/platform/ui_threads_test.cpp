// A second thread (the live video thread, in the control) writes control properties while the
// user-interface thread reads them and clicks. Run under the sanitizer build to prove it clean.
#include <bxplatform/ui.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace bx::ui;

namespace {

class LiveForm : public TActiveForm {
public:
    LiveForm() {
        depth = Add<TRadioButton>("rbn_RangeHigh");
        low = Add<TRadioButton>("rbn_RangeLow");
        color = Add<TCheckBox>("chk_Color");
        gain = Add<TScrollBar>("hsb_Brightness");
        status = Add<TLabel>("lbl_Diagnosis");
        indicator = Add<TShape>("shp_AutoEx");
        gain->SetParams(0, 0, 4095);
    }
    TRadioButton* depth;
    TRadioButton* low;
    TCheckBox* color;
    TScrollBar* gain;
    TLabel* status;
    TShape* indicator;
};

}  // namespace

TEST(Threads, PropertyWritesFromASecondThreadWhileTheFirstReadsAndClicks) {
    LiveForm form;
    std::atomic<bool> stop{false};
    std::atomic<int> gain_changes{0};
    form.gain->OnChange = [&](TObject*) { gain_changes.fetch_add(1, std::memory_order_relaxed); };

    std::atomic<int> live_rounds{0};
    std::thread live([&] {
        int i = 0;
        while (!stop.load(std::memory_order_acquire)) {
            const bool on = (i & 1) != 0;
            form.depth->SetEnabled(on);
            form.color->SetEnabled(!on);
            form.status->SetCaption(on ? "Camera is working" : "Camera is not ready to use");
            form.indicator->SetBrushColor(on ? clRed : clGreen);
            form.gain->SetPosition(i % 4096);
            form.SetEnabled(true);
            live_rounds.store(++i, std::memory_order_release);
        }
    });

    // The UI thread reads, clicks and re-binds handlers while the writes go on, until both
    // sides have done enough rounds to overlap (bounded by a deadline, not a fixed sleep).
    int clicks = 0;
    form.color->OnClick = [&](TObject*) { ++clicks; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0; (round < 5000 || live_rounds.load(std::memory_order_acquire) < 5000) &&
                        std::chrono::steady_clock::now() < deadline;
         ++round) {
        const std::string caption = form.status->Caption();
        ASSERT_TRUE(caption == "" || caption == "Camera is working" ||
                    caption == "Camera is not ready to use")
            << "torn caption: " << caption;
        const TColor c = form.indicator->BrushColor();
        ASSERT_TRUE(c == clWhite || c == clRed || c == clGreen);
        const int p = form.gain->Position();
        ASSERT_GE(p, 0);
        ASSERT_LE(p, 4095);
        form.color->Click();  // goes through only while the box is enabled
        form.low->SetChecked((round & 1) != 0);
        if ((round & 1023) == 0) form.color->OnClick = [&](TObject*) { ++clicks; };
        (void)form.Find<TLabel>("lbl_Diagnosis")->Enabled();
        TRect rect;
        ASSERT_TRUE(GetWindowRect(form.status->Handle(), &rect));
    }
    stop.store(true, std::memory_order_release);
    live.join();
    EXPECT_GE(live_rounds.load(), 5000);
    EXPECT_GT(gain_changes.load(), 0);
    EXPECT_EQ(form.color->Checked(), clicks % 2 == 1) << "every toggle fired exactly one click";
}

TEST(Threads, BoxesBeepsAndMessagesFromSeveralThreadsAreAllRecorded) {
    auto ui = std::make_shared<ScriptedUi>();
    ScopedUiBackend scope(ui);
    DiscardMessages();
    std::atomic<int> dispatched{0};
    int id = AddMessageHandler([&](const TMessage&) { dispatched.fetch_add(1); });
    constexpr int kThreads = 3, kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kEach; ++i) {
                MessageBox("Queue frame failed.", "Error", MB_OK);
                Beep();
                PostThreadMessage(WM_USER);
            }
        });
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dispatched.load() < kThreads * kEach && std::chrono::steady_clock::now() < deadline) {
        ProcessMessages();
        std::this_thread::yield();
    }
    for (auto& th : threads) th.join();
    ProcessMessages();
    EXPECT_EQ(dispatched.load(), kThreads * kEach);
    EXPECT_EQ(ui->BoxCount(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(ui->BeepCount(), static_cast<size_t>(kThreads * kEach));
    RemoveMessageHandler(id);
}
