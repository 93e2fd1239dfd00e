// Window handles: existence, screen rectangles through parents and host windows, re-parenting.
#include <bxplatform/ui.h>

#include <gtest/gtest.h>

#include <set>

using namespace bx::ui;

TEST(WindowHandles, EveryFormAndControlHasADistinctLiveHandle) {
    TForm form;
    auto* panel = form.Add<TPanel>("Panel1");
    auto* label = form.Add<TLabel>("lbl_Window", panel);
    std::set<HWND> handles{form.Handle(), panel->Handle(), label->Handle()};
    EXPECT_EQ(handles.size(), 3u);
    EXPECT_EQ(handles.count(0), 0u);
    for (HWND h : handles) EXPECT_TRUE(IsWindow(h));
    EXPECT_FALSE(IsWindow(0));
    EXPECT_EQ(GetParent(label->Handle()), panel->Handle());
    EXPECT_EQ(GetParent(form.Handle()), 0u);
}

TEST(WindowHandles, DeadHandlesAreUnknownAndNeverReused) {
    HWND dead;
    {
        TForm form;
        dead = form.Add<TButton>("btn_Window")->Handle();
        ASSERT_TRUE(IsWindow(dead));
    }
    EXPECT_FALSE(IsWindow(dead));
    TRect rect{1, 2, 3, 4};
    EXPECT_FALSE(GetWindowRect(dead, &rect));
    EXPECT_EQ(rect, (TRect{1, 2, 3, 4})) << "a failed query leaves the rectangle untouched";
    EXPECT_FALSE(IsWindowVisible(dead));
    EXPECT_EQ(GetParent(dead), 0u);
    EXPECT_EQ(SetParent(dead, 0), 0u);
    TForm next;
    EXPECT_GT(next.Handle(), dead) << "handle numbers only grow";
    EXPECT_FALSE(GetWindowRect(next.Handle(), nullptr));
}

TEST(WindowRect, AddsThePositionsOfAllParents) {
    TForm form;
    form.SetBounds(100, 50, 400, 300);
    auto* panel = form.Add<TPanel>("Panel1");
    panel->SetBounds(4, 4, 350, 443);
    auto* group = form.Add<TGroupBox>("gpb_Window", panel);
    group->SetBounds(10, 20, 100, 60);
    TRect rect;
    ASSERT_TRUE(GetWindowRect(group->Handle(), &rect));
    EXPECT_EQ(rect, (TRect{114, 74, 214, 134}));
    EXPECT_EQ(rect.Width(), 100);
    EXPECT_EQ(rect.Height(), 60);
    form.SetLeft(0);
    ASSERT_TRUE(GetWindowRect(group->Handle(), &rect));
    EXPECT_EQ(rect.Left, 14) << "rectangles follow later moves";
}

TEST(WindowRect, AControlPlacedInAHostWindowFollowsTheHost) {
    TForm host;  // another program's window
    host.SetBounds(500, 400, 800, 600);
    TActiveForm control;
    auto* panel = control.Add<TPanel>("Panel1");
    panel->SetBounds(4, 4, 350, 443);

    // Embed the panel in the host window, remembering the previous parent.
    HWND saved = SetParent(panel->Handle(), host.Handle());
    EXPECT_EQ(saved, control.Handle());
    EXPECT_EQ(GetParent(panel->Handle()), host.Handle());
    panel->SetBounds(10, 10, 100, 100);
    TRect rect;
    ASSERT_TRUE(GetWindowRect(panel->Handle(), &rect));
    EXPECT_EQ(rect, (TRect{510, 410, 610, 510}));
    EXPECT_EQ(panel->Parent(), &control) << "the owning form and parent control stay";

    // Restore, then float the form as a top-level window.
    EXPECT_EQ(SetParent(panel->Handle(), saved), host.Handle());
    EXPECT_EQ(GetParent(panel->Handle()), control.Handle());
    ASSERT_TRUE(control.SetParentWindow(host.Handle()));
    EXPECT_EQ(SetParent(control.Handle(), 0), host.Handle());
    EXPECT_EQ(GetParent(control.Handle()), 0u);
}

TEST(WindowRect, ParentLoopsAndUnknownParentsAreRefused) {
    TForm form;
    auto* outer = form.Add<TPanel>("Outer");
    auto* inner = form.Add<TPanel>("Inner", outer);
    EXPECT_EQ(SetParent(outer->Handle(), inner->Handle()), 0u);
    EXPECT_EQ(SetParent(outer->Handle(), outer->Handle()), 0u);
    EXPECT_EQ(SetParent(outer->Handle(), 0xFFFFFFF0u), 0u);
    EXPECT_FALSE(outer->SetParent(inner));
    EXPECT_FALSE(outer->SetParentWindow(inner->Handle()));
    EXPECT_EQ(GetParent(outer->Handle()), form.Handle());
    TRect rect;
    EXPECT_TRUE(GetWindowRect(inner->Handle(), &rect)) << "still answers after refusals";

    // A host window that goes away leaves its guests at their own parents.
    auto* guest = form.Add<TLabel>("Guest", outer);
    {
        TForm host;
        ASSERT_NE(SetParent(guest->Handle(), host.Handle()), 0u);
    }
    EXPECT_EQ(GetParent(guest->Handle()), outer->Handle());
}

TEST(WindowVisible, FollowsParentsAndShowEvents) {
    TForm form;
    auto* panel = form.Add<TPanel>("Panel1");
    int shows = 0, hides = 0;
    form.OnShow = [&](TObject*) { ++shows; };
    form.OnHide = [&](TObject*) { ++hides; };
    EXPECT_FALSE(IsWindowVisible(panel->Handle())) << "forms start hidden";
    form.Show();
    EXPECT_TRUE(IsWindowVisible(panel->Handle()));
    EXPECT_TRUE(form.Active());
    EXPECT_EQ(Screen().ActiveForm(), form.Handle());
    form.Show();
    form.Hide();
    EXPECT_FALSE(form.Active());
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(hides, 1);
}
