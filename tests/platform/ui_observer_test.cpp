// The change observer: which changes are told, in which group, and when nothing is told.
#include <bxplatform/ui.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace bx::ui;

namespace {

struct Note {
    enum Kind { Created, Changed, Destroyed } kind;
    HWND window;
    ControlChanges what;
    bool lock_free;  // the toolkit lock was free while the observer ran
    std::thread::id thread;
};

class Recorder : public ControlObserver {
public:
    void ControlCreated(TControl& control) override {
        Add({Note::Created, control.Handle(), 0});
        created_parent = control.Parent();
        created_name = control.Name();
    }
    void ControlChanged(TControl& control, ControlChanges what) override {
        Add({Note::Changed, control.Handle(), what});
    }
    void ControlDestroyed(TControl&, HWND handle) override {
        Add({Note::Destroyed, handle, 0});
        destroyed_handle_live = IsWindow(handle);
    }
    std::vector<Note> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(notes_, {});
    }
    // The union of change groups told for a window.
    ControlChanges ChangesOf(HWND window) {
        ControlChanges all = 0;
        for (const Note& n : Take()) {
            if (n.kind == Note::Changed && n.window == window) all |= n.what;
        }
        return all;
    }

    TControl* created_parent = nullptr;
    std::string created_name;
    bool destroyed_handle_live = true;

private:
    void Add(Note note) {
        note.lock_free = detail::ToolkitMutex().try_lock();
        if (note.lock_free) detail::ToolkitMutex().unlock();
        note.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        notes_.push_back(note);
    }
    std::mutex mutex_;
    std::vector<Note> notes_;
};

class ObserverTest : public ::testing::Test {
protected:
    void SetUp() override { SetControlObserver(recorder); }
    void TearDown() override { SetControlObserver(nullptr); }
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(ObserverTest, EachRealChangeIsToldInItsGroupAndRepeatsAreNot) {
    TForm form;
    auto* label = form.Add<TLabel>("lbl_A");
    auto* edit = form.Add<TMaskEdit>("txt_A");
    auto* bar = form.Add<TScrollBar>("hsb_A");
    auto* spin = form.Add<TUpDown>("ud_A");
    auto* combo = form.Add<TComboBox>("cmb_A");
    auto* pages = form.Add<TPageControl>("pgc_A");
    auto* sheet1 = form.Add<TTabSheet>("tab_1", pages);
    auto* sheet2 = form.Add<TTabSheet>("tab_2", pages);
    auto* shape = form.Add<TShape>("shp_A");
    combo->SetItems({"a", "b"});
    struct Case {
        const char* name;
        TControl* control;
        std::function<void()> change;
        ControlChanges expected;
    };
    const Case cases[] = {
        {"caption", label, [&] { label->SetCaption("x"); }, ccText},
        {"bounds", label, [&] { label->SetBounds(1, 2, 3, 4); }, ccGeometry},
        {"width", label, [&] { label->SetWidth(9); }, ccGeometry},
        {"enabled", label, [&] { label->SetEnabled(false); }, ccState},
        {"visible", label, [&] { label->Hide(); }, ccState},
        {"font colour", label, [&] { label->SetFontColor(clRed); }, ccAppearance},
        {"hint", label, [&] { label->SetHint("h"); }, ccAppearance},
        {"mask", edit, [&] { edit->SetEditMask("99;1;_"); }, ccValue},
        {"read only", edit, [&] { edit->SetReadOnly(true); }, ccValue},
        {"position", bar, [&] { bar->SetPosition(5); }, ccValue},
        {"range", bar, [&] { bar->SetMax(50); }, ccValue},
        {"clamping range", bar, [&] { bar->SetParams(80, 0, 10); }, ccValue},
        {"spin range", spin, [&] { spin->SetMax(10); }, ccValue},
        {"spin position", spin, [&] { spin->SetPosition(3); }, ccValue},
        {"item index", combo, [&] { combo->SetItemIndex(1); }, ccValue | ccText},
        {"active page", pages, [&] { pages->SetActivePage(sheet2); }, ccPages},
        {"hidden tab of the showing page", pages, [&] { sheet2->SetTabVisible(false); }, ccPages},
        {"brush", shape, [&] { shape->SetBrushColor(clLime); }, ccAppearance},
        {"parent", shape, [&] { shape->SetParent(sheet1); }, ccParent},
    };
    recorder->Take();
    for (const Case& c : cases) {
        c.change();
        EXPECT_EQ(recorder->ChangesOf(c.control->Handle()), c.expected) << c.name;
        c.change();  // the same value again
        EXPECT_EQ(recorder->ChangesOf(c.control->Handle()), 0u) << c.name << " repeated";
    }
}

TEST_F(ObserverTest, CheckingARadioButtonTellsTheSiblingItUnchecked) {
    TForm form;
    auto* high = form.Add<TRadioButton>("rbn_High");
    auto* low = form.Add<TRadioButton>("rbn_Low");
    high->SetChecked(true);
    recorder->Take();
    low->SetChecked(true);
    std::vector<HWND> changed;
    for (const Note& n : recorder->Take()) changed.push_back(n.window);
    EXPECT_EQ(changed, (std::vector<HWND>{high->Handle(), low->Handle()}));
}

TEST_F(ObserverTest, CreationComesInTheParentAndDestructionWithADeadHandle) {
    auto form = std::make_unique<TForm>();
    auto* group = form->Add<TGroupBox>("gpb_A");
    recorder->Take();
    auto* check = form->Add<TCheckBox>("chk_A", group);
    EXPECT_EQ(recorder->created_parent, group);
    EXPECT_EQ(recorder->created_name, "chk_A");
    const HWND handle = check->Handle();
    form.reset();
    bool destroyed = false;
    for (const Note& n : recorder->Take()) {
        EXPECT_TRUE(n.lock_free) << "observer called under the toolkit lock";
        destroyed |= n.kind == Note::Destroyed && n.window == handle;
    }
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(recorder->destroyed_handle_live);
}

TEST_F(ObserverTest, HostWindowsTellTheControlsPlacedInThem) {
    TForm control_form;
    auto* panel = control_form.Add<TPanel>("Panel1");
    auto host = std::make_unique<TForm>();
    recorder->Take();
    ASSERT_TRUE(panel->SetParentWindow(host->Handle()));
    EXPECT_EQ(recorder->ChangesOf(panel->Handle()), ccParent);
    ASSERT_TRUE(panel->SetParentWindow(host->Handle()));
    EXPECT_EQ(recorder->ChangesOf(panel->Handle()), 0u);
    SetParent(panel->Handle(), 0);
    EXPECT_EQ(recorder->ChangesOf(panel->Handle()), ccParent);
    SetParent(panel->Handle(), host->Handle());
    recorder->Take();
    host.reset();  // the panel falls back to its own parent
    EXPECT_EQ(recorder->ChangesOf(panel->Handle()), ccParent);
    EXPECT_EQ(panel->ParentWindow(), 0u);
}

TEST_F(ObserverTest, ChangesAreToldOnTheChangingThreadAndFocusMovesToo) {
    TForm form;
    auto* edit = form.Add<TEdit>("txt_A");
    recorder->Take();
    std::thread::id worker;
    std::thread([&] {
        worker = std::this_thread::get_id();
        edit->SetText("7");
    }).join();
    auto notes = recorder->Take();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].thread, worker);
    EXPECT_TRUE(notes[0].lock_free);
    ASSERT_TRUE(edit->SetFocus());
    EXPECT_EQ(recorder->ChangesOf(edit->Handle()), ccFocus);
}
