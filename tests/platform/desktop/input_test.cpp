// User input on the widgets reaches the model with the toolkit's own semantics.
#include "desktop_fixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

using namespace desktop_test;

namespace {

class InputTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        form.SetBounds(0, 0, 400, 300);
        form.Show();
    }
    TForm form;
};

}  // namespace

TEST_F(InputTest, ClickingRadioButtonsKeepsThemExclusiveAndFiresOnClickOnce) {
    auto* group = form.Add<TGroupBox>("gpb_Range");
    group->SetBounds(0, 0, 200, 100);
    std::vector<TRadioButton*> radios;
    std::vector<int> clicks(3, 0), ups(3, 0);
    for (int i = 0; i < 3; ++i) {
        auto* radio = form.Add<TRadioButton>("rbn_" + std::to_string(i), group);
        radio->SetBounds(8, 16 + 20 * i, 100, 17);
        radio->SetCaption("Range " + std::to_string(i));
        radio->OnClick = [&clicks, i](TObject*) { ++clicks[static_cast<size_t>(i)]; };
        radio->OnMouseUp = [&ups, i](TObject*, TMouseButton, TShiftState, int, int) {
            ++ups[static_cast<size_t>(i)];
        };
        radios.push_back(radio);
    }
    radios[0]->SetChecked(true);
    clicks.assign(3, 0);

    for (int round = 0; round < 2; ++round) {  // the second click lands on a checked one
        QTest::mouseClick(WidgetOf(radios[1]), Qt::LeftButton, {}, QPoint(6, 8));
        EXPECT_EQ(clicks, (std::vector<int>{0, 1, 0})) << "round " << round;
        EXPECT_EQ(ups[1], round + 1) << "mouse-up follows each click";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(radios[static_cast<size_t>(i)]->Checked(), i == 1);
            EXPECT_EQ(WidgetOf<QRadioButton>(radios[static_cast<size_t>(i)])->isChecked(), i == 1);
        }
    }
    radios[2]->SetEnabled(false);  // a disabled one is out of the user's reach
    QTest::mouseClick(WidgetOf(radios[2]), Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_FALSE(radios[2]->Checked());
}

TEST_F(InputTest, TypingIntoAnEditFiresOnChangeAndKeyHandlersCanSwallowKeys) {
    auto* edit = form.Add<TEdit>("txt_Exposure");
    edit->SetBounds(10, 10, 80, 21);
    std::vector<std::string> changes;
    edit->OnChange = [&](TObject*) { changes.push_back(edit->Text()); };
    edit->OnKeyPress = [](TObject*, char& key) {
        if (key == 'x') key = 0;  // digits only
    };
    bool entered = false;
    edit->OnEnter = [&](TObject*) { entered = true; };
    auto* widget = WidgetOf<QLineEdit>(edit);
    widget->activateWindow();
    widget->setFocus();
    EXPECT_TRUE(WaitUntil([&] { return edit->Focused(); }));
    EXPECT_TRUE(entered);
    QTest::keyClicks(widget, "4x2");
    EXPECT_EQ(changes, (std::vector<std::string>{"4", "42"}));
    EXPECT_EQ(widget->text(), "42");
    edit->SetText("7");  // code's changes show and fire as they always do
    EXPECT_EQ(widget->text(), "7");
    EXPECT_EQ(changes.back(), "7");
}

TEST_F(InputTest, ScrollingFiresOnChangeWithTheClampedPosition) {
    auto* bar = form.Add<TScrollBar>("hsb_Gain");
    bar->SetBounds(0, 100, 200, 17);
    bar->SetParams(10, 0, 50);
    bar->SetLargeChange(30);
    std::vector<int> positions;
    bar->OnChange = [&](TObject*) { positions.push_back(bar->Position()); };
    auto* widget = WidgetOf<QScrollBar>(bar);
    for (int i = 0; i < 3; ++i) widget->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(positions, (std::vector<int>{40, 50}));
    widget->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(bar->Position(), 0);
    EXPECT_EQ(widget->value(), 0);
}

TEST_F(InputTest, SelectingATabFiresTheOnChangeOfThePageControl) {
    auto* pages = form.Add<TPageControl>("pgc_Settings");
    pages->SetBounds(0, 0, 350, 250);
    auto* camera = form.Add<TTabSheet>("tab_Camera", pages);
    camera->SetCaption("Camera");
    auto* acquire = form.Add<TTabSheet>("tab_Acquire", pages);
    acquire->SetCaption("Acquire");
    auto* device = form.Add<TTabSheet>("tab_Device", pages);
    device->SetCaption("Device");
    device->SetTabVisible(false);
    int changes = 0;
    pages->OnChange = [&](TObject*) { ++changes; };
    auto* tabs = WidgetOf<QTabWidget>(pages);
    ASSERT_NE(tabs, nullptr);
    EXPECT_FALSE(tabs->isTabVisible(2));
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pages->ActivePage(), acquire);
    EXPECT_EQ(tabs->currentIndex(), 1);
    pages->SetActivePage(camera);  // code: shown, no event
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(changes, 1);

    // Pages going away with their form are no user's choice of tab.
    auto other = std::make_unique<TForm>();
    auto* other_pages = other->Add<TPageControl>("pgc_Other");
    for (const char* name : {"tab_1", "tab_2", "tab_3"}) other->Add<TTabSheet>(name, other_pages);
    other_pages->SetActivePageIndex(2);  // the first to go: Qt shows another tab then
    other_pages->OnChange = [&](TObject*) { ++changes; };
    other->Show();
    other.reset();
    EXPECT_EQ(changes, 1);
}

TEST_F(InputTest, ChoosingAComboItemAndSteppingAnUpDownDriveTheModel) {
    auto* combo = form.Add<TComboBox>("cmb_Mode");
    combo->SetBounds(0, 0, 100, 21);
    combo->SetStyle(csDropDownList);
    combo->SetItems({"Normal", "Fast", "Slow"});
    combo->SetItemIndex(0);
    int combo_changes = 0;
    combo->OnChange = [&](TObject*) { ++combo_changes; };
    QTest::keyClick(WidgetOf(combo), Qt::Key_Down);
    EXPECT_EQ(combo->ItemIndex(), 1);
    EXPECT_EQ(combo->Text(), "Fast");
    EXPECT_EQ(combo_changes, 1);

    auto* edit = form.Add<TEdit>("txt_Brightness");
    auto* spin = form.Add<TUpDown>("ud_Brightness");
    spin->SetBounds(80, 40, 16, 21);
    spin->SetMax(2);
    spin->SetAssociate(edit);
    auto* arrows = static_cast<QWidget*>(WidgetOf(spin));
    auto buttons = arrows->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 2);
    for (int i = 0; i < 3; ++i) buttons[0]->click();  // up, past the top
    EXPECT_EQ(spin->Position(), 2);
    EXPECT_EQ(WidgetOf<QLineEdit>(edit)->text(), "2");
    buttons[1]->click();
    EXPECT_EQ(spin->Position(), 1);
}

TEST_F(InputTest, ARightButtonReleaseReachesProcessMessagesForThatWindow) {
    auto* label = form.Add<TLabel>("lbl_Gate");
    label->SetBounds(10, 10, 100, 20);
    std::vector<TMessage> seen;
    const int handler = AddMessageHandler([&](const TMessage& m) { seen.push_back(m); });
    int ups = 0;
    label->OnMouseUp = [&](TObject*, TMouseButton button, TShiftState, int x, int y) {
        if (button == mbRight && x == 5 && y == 6) ++ups;
    };
    QTest::mouseClick(WidgetOf(label), Qt::RightButton, {}, QPoint(5, 6));
    auto released = [&] {
        for (const TMessage& m : seen) {
            if (m.Msg == WM_RBUTTONUP && m.Window == label->Handle()) return true;
        }
        return false;
    };
    // What a loop waiting for the release does: dispatch until it comes.
    EXPECT_TRUE(WaitUntil([&] {
        ProcessMessages();
        return released();
    }));
    EXPECT_EQ(ups, 1);
    RemoveMessageHandler(handler);
}

TEST_F(InputTest, ARightClickPopsUpTheControlsMenuAndChoosingAnItemClicksIt) {
    auto* button = form.Add<TButton>("btn_AutoExpose");
    button->SetBounds(10, 10, 80, 25);
    auto* menu = form.Add<TPopupMenu>("pm_AutoExpose");
    bool shown = false, hidden = false;
    menu->AddItem("Show")->OnClick = [&](TObject*) { shown = true; };
    menu->AddItem("Hide")->OnClick = [&](TObject*) { hidden = true; };
    int popups = 0;
    menu->OnPopup = [&](TObject*) { ++popups; };
    button->SetPopupMenu(menu);
    QTest::mouseClick(WidgetOf(button), Qt::RightButton);
    EXPECT_EQ(popups, 1);
    QMenu* popup = WidgetOf(button)->findChild<QMenu*>();
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(popup->actions().size(), 2);
    popup->actions()[1]->trigger();
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(shown);
    popup->close();
}
