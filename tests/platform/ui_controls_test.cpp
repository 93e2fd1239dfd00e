// Classic control semantics of the headless toolkit: exclusivity, when events fire, clamping,
// typing, focus and what a user can and cannot reach.
#include <bxplatform/ui.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace bx::ui;

namespace {

// A small panel form built the way the control builds its own.
class PanelForm : public TActiveForm {
public:
    PanelForm() {
        group = Add<TGroupBox>("grp_Depth");
        high = Add<TRadioButton>("rbn_RangeHigh", group);
        low = Add<TRadioButton>("rbn_RangeLow", group);
        other_group = Add<TGroupBox>("grp_Other");
        other = Add<TRadioButton>("rbn_Other", other_group);
        color = Add<TCheckBox>("chk_Color", group);
        gain = Add<TScrollBar>("hsb_Brightness");
        spin = Add<TUpDown>("ud_Brightness");
        edit = Add<TEdit>("txt_MinTimeout");
        masked = Add<TMaskEdit>("med_grab_ExposureTime3");
        button = Add<TButton>("btn_Reset");
    }
    TGroupBox* group;
    TRadioButton* high;
    TRadioButton* low;
    TGroupBox* other_group;
    TRadioButton* other;
    TCheckBox* color;
    TScrollBar* gain;
    TUpDown* spin;
    TEdit* edit;
    TMaskEdit* masked;
    TButton* button;
};

// Records the order of events as "name:event" strings.
struct Trace {
    std::vector<std::string> log;
    void Bind(TControl* c) {
        const std::string n = c->Name();
        c->OnClick = [this, n](TObject*) { log.push_back(n + ":click"); };
        c->OnEnter = [this, n](TObject*) { log.push_back(n + ":enter"); };
        c->OnExit = [this, n](TObject*) { log.push_back(n + ":exit"); };
        c->OnMouseDown = [this, n](TObject*, TMouseButton, TShiftState, int, int) {
            log.push_back(n + ":down");
        };
        c->OnMouseUp = [this, n](TObject*, TMouseButton, TShiftState, int, int) {
            log.push_back(n + ":up");
        };
    }
};

}  // namespace

TEST(Form, FindsControlsByNameAndTypeIgnoringCase) {
    PanelForm form;
    EXPECT_EQ(form.Find<TCheckBox>("chk_Color"), form.color);
    EXPECT_EQ(form.Find<TCheckBox>("CHK_COLOR"), form.color);
    EXPECT_EQ(form.Find<TRadioButton>("chk_Color"), nullptr);  // wrong type
    EXPECT_EQ(form.Find<TCheckBox>("chk_Missing"), nullptr);
    EXPECT_EQ(form.FindComponent(""), nullptr);
    EXPECT_EQ(form.color->Parent(), form.group);
    EXPECT_EQ(form.gain->Parent(), &form);
    EXPECT_EQ(form.color->Form(), &form);
    EXPECT_THROW(form.Add<TLabel>("chk_color"), std::invalid_argument);
    PanelForm other;
    EXPECT_THROW(form.Add<TLabel>("lbl_X", other.group), std::invalid_argument);
    EXPECT_THROW(form.Add<TTabSheet>("Camera", form.group), std::invalid_argument);
}

TEST(Form, CreateAndDestroyEventsRunOnce) {
    PanelForm form;
    int created = 0, destroyed = 0;
    form.OnCreate = [&](TObject* sender) {
        EXPECT_EQ(sender, &form);
        ++created;
    };
    form.OnDestroy = [&](TObject*) { ++destroyed; };
    form.DoCreate();
    form.DoCreate();
    form.DoDestroy();
    form.DoDestroy();
    EXPECT_EQ(created, 1);
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(form.Created());
    EXPECT_TRUE(form.Destroyed());
}

TEST(RadioButton, SameParentIsExclusiveOtherParentsAreNot) {
    PanelForm form;
    form.other->SetChecked(true);
    form.high->SetChecked(true);
    EXPECT_TRUE(form.high->Checked());
    form.low->SetChecked(true);
    EXPECT_TRUE(form.low->Checked());
    EXPECT_FALSE(form.high->Checked());
    EXPECT_TRUE(form.other->Checked()) << "a radio button in another group must stay checked";
    // Check boxes in the same group are untouched by radio exclusivity.
    form.color->SetChecked(true);
    form.high->SetChecked(true);
    EXPECT_TRUE(form.color->Checked());
}

TEST(RadioButton, ClickFiresOnlyWhenBecomingChecked) {
    PanelForm form;
    int high_clicks = 0, low_clicks = 0;
    form.high->OnClick = [&](TObject* sender) {
        EXPECT_EQ(sender, form.high);
        EXPECT_TRUE(form.high->Checked()) << "the handler sees the new state";
        EXPECT_FALSE(form.low->Checked()) << "siblings are cleared before the handler runs";
        ++high_clicks;
    };
    form.low->OnClick = [&](TObject*) { ++low_clicks; };

    EXPECT_TRUE(form.low->SetChecked(true));
    EXPECT_EQ(low_clicks, 1);
    EXPECT_TRUE(form.high->SetChecked(true));  // in code
    EXPECT_EQ(high_clicks, 1);
    EXPECT_EQ(low_clicks, 1) << "being unchecked by a sibling fires nothing";
    EXPECT_FALSE(form.high->SetChecked(true));  // unchanged
    EXPECT_TRUE(form.high->Click());            // user click on a checked button
    EXPECT_EQ(high_clicks, 1);
    EXPECT_TRUE(form.high->SetChecked(false));
    EXPECT_EQ(high_clicks, 1) << "unchecking fires nothing";
    EXPECT_TRUE(form.high->Click());
    EXPECT_EQ(high_clicks, 2);
}

TEST(ButtonControl, CheckAndClickRunsTheHandlerExactlyOnce) {
    PanelForm form;
    int radio = 0, box = 0;
    form.high->OnClick = [&](TObject*) { ++radio; };
    form.color->OnClick = [&](TObject*) { ++box; };
    for (int round = 1; round <= 2; ++round) {  // unchecked first, then already checked
        EXPECT_EQ(form.high->CheckAndClick(), round == 1);
        EXPECT_EQ(form.color->CheckAndClick(), round == 1);
        EXPECT_EQ(radio, round);
        EXPECT_EQ(box, round);
        EXPECT_TRUE(form.high->Checked() && form.color->Checked());
    }
}

TEST(CheckBox, FiresOnEveryChangeInCodeOrByUser) {
    PanelForm form;
    std::vector<bool> seen;
    form.color->OnClick = [&](TObject*) { seen.push_back(form.color->Checked()); };
    form.color->SetChecked(false);  // unchanged: nothing
    form.color->SetChecked(true);
    form.color->SetChecked(true);
    form.color->Click();
    form.color->PressKey(VK_SPACE);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
}

TEST(Click, MouseUpHandlersSeeTheNewState) {
    PanelForm form;
    Trace trace;
    trace.Bind(form.low);
    bool checked_at_mouse_up = false;
    form.low->OnMouseUp = [&](TObject*, TMouseButton button, TShiftState, int, int) {
        EXPECT_EQ(button, mbLeft);
        checked_at_mouse_up = form.low->Checked();
        trace.log.push_back("rbn_RangeLow:up");
    };
    form.low->Click();
    EXPECT_EQ(trace.log, (std::vector<std::string>{"rbn_RangeLow:enter", "rbn_RangeLow:down",
                                                   "rbn_RangeLow:click", "rbn_RangeLow:up"}));
    EXPECT_TRUE(checked_at_mouse_up);
}

TEST(Click, FocusLeavesTheFieldBeforeTheClickedButtonActs) {
    PanelForm form;
    Trace trace;
    trace.Bind(form.edit);
    trace.Bind(form.button);
    auto* label = form.Add<TLabel>("lbl_Window");
    trace.Bind(label);
    form.edit->TypeText("7");  // typing goes to the field, focusing it first
    form.button->Click();
    label->Click();  // labels never take the focus
    EXPECT_EQ(trace.log, (std::vector<std::string>{
                             "txt_MinTimeout:enter", "txt_MinTimeout:exit", "btn_Reset:enter",
                             "btn_Reset:down", "btn_Reset:click", "btn_Reset:up", "lbl_Window:down",
                             "lbl_Window:click", "lbl_Window:up"}));
    EXPECT_EQ(form.ActiveControl(), form.button);
    EXPECT_FALSE(label->SetFocus());
}

TEST(Click, RightClickPopsTheMenuWithoutClicking) {
    PanelForm form;
    auto* menu = form.Add<TPopupMenu>("pop_AutoExpose");
    TMenuItem* show = menu->AddItem("Show Maximum AutoExposure Dialog");
    menu->AddItem("Hide Maximum AutoExposure Dialog");
    form.button->SetPopupMenu(menu);
    int clicks = 0, popups = 0, chosen = 0;
    TMouseButton released = mbLeft;
    form.button->OnClick = [&](TObject*) { ++clicks; };
    form.button->OnMouseUp = [&](TObject*, TMouseButton b, TShiftState, int, int) { released = b; };
    menu->OnPopup = [&](TObject*) { ++popups; };
    show->OnClick = [&](TObject*) { ++chosen; };
    EXPECT_TRUE(form.button->Click(mbRight));
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(released, mbRight);
    EXPECT_EQ(menu->FindItem("Show Maximum AutoExposure Dialog"), show);
    EXPECT_TRUE(show->Click());
    show->SetEnabled(false);
    EXPECT_FALSE(show->Click());
    EXPECT_EQ(chosen, 1);
}

TEST(UserInput, UnreachableControlsIgnoreTheUserButNotCode) {
    PanelForm form;
    int clicks = 0;
    form.color->OnClick = [&](TObject*) { ++clicks; };

    form.color->SetEnabled(false);
    EXPECT_FALSE(form.color->Click());
    EXPECT_FALSE(form.color->PressKey(VK_SPACE));
    EXPECT_EQ(clicks, 0);
    form.color->SetChecked(true);  // code still works
    EXPECT_EQ(clicks, 1);

    form.color->SetEnabled(true);
    form.group->SetVisible(false);  // hidden parent
    EXPECT_FALSE(form.color->Click());
    EXPECT_FALSE(form.color->CanFocus());
    form.group->SetVisible(true);
    form.SetEnabled(false);  // a disabled form disables the whole panel
    EXPECT_FALSE(form.color->Click());
    EXPECT_FALSE(form.gain->ScrollTo(5));
    form.SetEnabled(true);
    EXPECT_TRUE(form.color->Click());
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(form.Visible()) << "forms start hidden, yet their controls are reachable";
}

TEST(ScrollBar, ClampsAndFiresOnlyOnChange) {
    PanelForm form;
    std::vector<int> positions;
    form.gain->OnChange = [&](TObject*) { positions.push_back(form.gain->Position()); };
    ASSERT_TRUE(form.gain->SetParams(0, 0, 4095));
    form.gain->SetLargeChange(100);
    EXPECT_TRUE(form.gain->SetPosition(255));
    EXPECT_FALSE(form.gain->SetPosition(255));
    form.gain->SetPosition(5000);  // clamps to 4095
    form.gain->SetPosition(4096);  // clamps to 4095 again: no change
    form.gain->SetPosition(-7);    // clamps to 0
    EXPECT_TRUE(form.gain->ScrollBy(-1) && form.gain->Position() == 0);  // already at the end
    EXPECT_TRUE(form.gain->ScrollTo(100));
    EXPECT_EQ(positions, (std::vector<int>{255, 4095, 0, 100}));

    EXPECT_FALSE(form.gain->SetMin(5000)) << "min above max is refused";
    EXPECT_FALSE(form.gain->SetParams(1, 3, 2));
    EXPECT_EQ(form.gain->Min(), 0);
    EXPECT_EQ(form.gain->Max(), 4095);
    EXPECT_TRUE(form.gain->SetMax(50));  // narrowing the range moves the position
    EXPECT_EQ(form.gain->Position(), 50);
    EXPECT_EQ(positions.back(), 50);
    EXPECT_EQ(form.gain->LargeChange(), 100);
}

TEST(UpDown, ClampsStepsAndMirrorsIntoItsAssociate) {
    PanelForm form;
    ASSERT_TRUE(form.spin->SetMin(0));
    ASSERT_TRUE(form.spin->SetMax(4095));
    form.spin->SetIncrement(10);
    form.spin->SetAssociate(form.edit);
    EXPECT_EQ(form.edit->Text(), "0");
    int changes = 0, clicks = 0, edit_changes = 0;
    form.spin->OnChange = [&](TObject*) { ++changes; };
    form.spin->OnClick = [&](TObject*) { ++clicks; };
    form.edit->OnChange = [&](TObject*) { ++edit_changes; };

    EXPECT_TRUE(form.spin->SetPosition(4090));
    EXPECT_FALSE(form.spin->SetPosition(4090));
    EXPECT_TRUE(form.spin->ClickButton(btNext));  // 4100 clamps to 4095
    EXPECT_EQ(form.spin->Position(), 4095);
    EXPECT_TRUE(form.spin->ClickButton(btNext));  // stays: a click but no change
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(form.edit->Text(), "4095");
    EXPECT_EQ(edit_changes, 2);
    form.spin->SetPosition(-20);
    EXPECT_EQ(form.spin->Position(), 0);

    form.spin->SetWrap(true);
    form.spin->ClickButton(btPrev);
    EXPECT_EQ(form.spin->Position(), 4095) << "with Wrap, stepping below Min goes to Max";
}

TEST(Edit, TypingFiresOnChangeAndEnteringSelectsTheText) {
    PanelForm form;
    form.edit->SetText("1000");
    std::vector<std::string> texts;
    form.edit->OnChange = [&](TObject*) { texts.push_back(form.edit->Text()); };
    form.edit->SetText("1000");  // unchanged
    EXPECT_TRUE(texts.empty());
    ASSERT_TRUE(form.edit->SetFocus());
    form.edit->TypeText("25");  // replaces the selected text, then appends
    form.edit->PressKey(VK_BACK);
    form.edit->PressKey(VK_RETURN);  // Return is for handlers, not for the text
    EXPECT_EQ(texts, (std::vector<std::string>{"2", "25", "2"}));

    form.edit->SetReadOnly(true);
    form.edit->TypeText("9");
    EXPECT_EQ(form.edit->Text(), "2");
    form.edit->SetReadOnly(false);
    form.edit->SetMaxLength(3);
    form.edit->TypeText("-345");
    EXPECT_EQ(form.edit->Text(), "2-3");
}

TEST(MaskEdit, TypedInputFollowsTheMask) {
    PanelForm form;
    form.masked->SetEditMask("!99999;1;_");
    form.masked->SetText("   40");  // code may set any text
    EXPECT_EQ(form.masked->MaskLength(), 5u);
    form.masked->Click();  // clicking in places the caret at the end
    form.masked->TypeText("1");
    EXPECT_EQ(form.masked->Text(), "   40") << "the mask is full";
    form.masked->SelectAll();
    form.masked->TypeText("1a5x0");
    EXPECT_EQ(form.masked->Text(), "150");
    form.edit->SetFocus();
    form.masked->TypeText("2");  // entering by keyboard selects the text: typing replaces it
    EXPECT_EQ(form.masked->Text(), "2");

    form.masked->SetEditMask("LL-0;1;_");
    form.masked->SetText("");
    form.masked->TypeText("ab-7");
    EXPECT_EQ(form.masked->Text(), "ab-7");
    form.masked->SetText("");
    form.masked->TypeText("a1");
    EXPECT_EQ(form.masked->Text(), "a");
}

TEST(Keys, DownPressUpWithCodesAndFormPreview) {
    PanelForm form;
    std::vector<std::string> log;
    form.edit->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
        log.push_back("down " + std::to_string(key));
    };
    form.edit->OnKeyPress = [&](TObject*, char& ch) {
        log.push_back("press " + std::to_string(ch));
    };
    form.edit->OnKeyUp = [&](TObject*, uint16_t& key, TShiftState) {
        log.push_back("up " + std::to_string(key));
    };
    form.edit->PressKey(VK_RETURN);
    form.edit->PressKey(VK_NUMPAD0 + 7);
    form.edit->PressKey(VK_LEFT);  // types nothing
    EXPECT_EQ(log, (std::vector<std::string>{"down 13", "press 13", "up 13", "down 103", "press 55",
                                             "up 103", "down 37", "up 37"}));
    EXPECT_EQ(form.edit->Text(), "7");

    // The form sees keys first with KeyPreview, and may swallow them.
    log.clear();
    form.SetKeyPreview(true);
    form.OnKeyDown = [&](TObject* sender, uint16_t& key, TShiftState) {
        EXPECT_EQ(sender, &form);
        log.push_back("form down");
        if (key == '5') key = 0;
    };
    form.edit->PressKey('5');
    EXPECT_EQ(log, (std::vector<std::string>{"form down"}));
    EXPECT_EQ(form.edit->Text(), "7");
    form.edit->PressKey('6');
    EXPECT_EQ(form.edit->Text(), "76");

    // A key-press handler can drop the character.
    form.edit->OnKeyPress = [](TObject*, char& ch) {
        if (ch == '9') ch = 0;
    };
    form.edit->TypeText("98");
    EXPECT_EQ(form.edit->Text(), "768");
}

TEST(Focus, ExitFiresBeforeEnterAndOnlyOnMoves) {
    PanelForm form;
    Trace trace;
    trace.Bind(form.edit);
    trace.Bind(form.masked);
    EXPECT_TRUE(form.edit->SetFocus());
    EXPECT_TRUE(form.edit->SetFocus());  // already focused: nothing fires
    EXPECT_TRUE(form.masked->SetFocus());
    EXPECT_EQ(form.ActiveControl(), form.masked);
    EXPECT_TRUE(form.masked->Focused());
    form.button->SetEnabled(false);
    EXPECT_FALSE(form.button->SetFocus());
    EXPECT_EQ(form.ActiveControl(), form.masked);
    EXPECT_EQ(trace.log, (std::vector<std::string>{"txt_MinTimeout:enter", "txt_MinTimeout:exit",
                                                   "med_grab_ExposureTime3:enter"}));
}

TEST(ComboBox, CodeSelectsQuietlyUserSelectionFiresOnChange) {
    PanelForm form;
    auto* ports = form.Add<TComboBox>("cbo_ControlPort");
    ports->SetItems({"NONE", "COM1", "COM2", "COM3", "COM4"});
    int changes = 0;
    ports->OnChange = [&](TObject*) { ++changes; };
    EXPECT_EQ(ports->ItemIndex(), -1);
    EXPECT_TRUE(ports->SetItemIndex(0));
    EXPECT_EQ(ports->Text(), "NONE");
    EXPECT_FALSE(ports->SetItemIndex(5));
    EXPECT_FALSE(ports->SetItemIndex(-2));
    EXPECT_EQ(ports->ItemIndex(), 0);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(ports->Select(2));
    EXPECT_TRUE(ports->Select(2));
    EXPECT_FALSE(ports->Select(9));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(ports->Text(), "COM2");
}

TEST(PageControl, ActivePageTabVisibilityAndReachability) {
    PanelForm form;
    auto* pages = form.Add<TPageControl>("AcquistionParameters");
    auto* camera = form.Add<TTabSheet>("Camera", pages);
    auto* device = form.Add<TTabSheet>("Device", pages);
    auto* triggers = form.Add<TTabSheet>("Triggers", pages);
    auto* free_run = form.Add<TRadioButton>("rbtn_FreeRun", triggers);
    EXPECT_EQ(pages->ActivePage(), camera) << "the first page shows by default";
    EXPECT_EQ(pages->PageCount(), 3);
    EXPECT_EQ(triggers->PageIndex(), 2);
    EXPECT_FALSE(free_run->Click()) << "controls on a page that is not showing are out of reach";

    int changes = 0;
    pages->OnChange = [&](TObject*) { ++changes; };
    triggers->SetTabVisible(false);
    EXPECT_FALSE(pages->SelectTab(triggers)) << "a hidden tab cannot be clicked";
    EXPECT_TRUE(pages->SetActivePage(triggers)) << "code may show a page whose tab is hidden";
    EXPECT_TRUE(free_run->Click());
    EXPECT_TRUE(pages->SelectTab(device));
    EXPECT_EQ(changes, 1);

    // Hiding the showing page's tab moves to the next page with a tab, else the previous one.
    device->SetTabVisible(false);
    EXPECT_EQ(pages->ActivePage(), camera);
    EXPECT_TRUE(pages->SetActivePageIndex(1));
    EXPECT_EQ(pages->ActivePage(), device);
    EXPECT_FALSE(pages->SetActivePageIndex(7));
    PanelForm other;
    auto* foreign = other.Add<TTabSheet>("Foreign", other.Add<TPageControl>("Pages"));
    EXPECT_FALSE(pages->SetActivePage(foreign));
}

TEST(Properties, CaptionColoursGlyphsAndLines) {
    PanelForm form;
    auto* label = form.Add<TLabel>("lbl_Diagnosis");
    label->SetCaption("Camera is working");
    label->SetFontColor(clRed);
    EXPECT_EQ(label->Text(), "Camera is working");
    EXPECT_EQ(label->FontColor(), RGB(255, 0, 0));
    auto* shape = form.Add<TShape>("shp_AutoEx");
    shape->SetBrushColor(RGB(0, 128, 0));
    EXPECT_EQ(shape->BrushColor(), clGreen);

    auto* open = form.Add<TImage>("img_Open");
    auto* closed = form.Add<TImage>("img_Closed");
    open->SetPicture(TBitmap{2, 1, {0x00FF00, 0x00FF00}});
    closed->SetPicture(TBitmap{2, 1, {0xFF0000, 0xFF0000}});
    auto* lock = form.Add<TSpeedButton>("cmd_EditLock");
    lock->SetGlyph(closed->Picture());
    EXPECT_EQ(lock->Glyph(), closed->Picture());
    EXPECT_NE(lock->Glyph(), open->Picture());

    auto* memo = form.Add<TMemo>("mmo_12bit");
    memo->SetLines({"first", "second"});
    memo->AddLine("third");
    EXPECT_EQ(memo->Lines(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(memo->Text(), "first\r\nsecond\r\nthird");

    form.button->SetBounds(4, 4, -5, 20);
    EXPECT_EQ(form.button->Width(), 0) << "negative sizes are taken as 0";
    form.button->SetHint("-10");
    EXPECT_EQ(form.button->Hint(), "-10");
}

TEST(Handlers, RunWithoutTheToolkitLockSoTheyMayTouchOtherControls) {
    PanelForm form;
    // A handler that reads and writes other controls would deadlock if a lock were held.
    form.high->OnClick = [&](TObject*) {
        form.color->SetChecked(!form.color->Checked());
        form.gain->SetPosition(form.gain->Position() + 1);
        form.button->SetCaption(form.high->Caption() + "!");
    };
    form.high->SetCaption("12");
    form.high->SetChecked(true);
    EXPECT_TRUE(form.color->Checked());
    EXPECT_EQ(form.gain->Position(), 1);
    EXPECT_EQ(form.button->Caption(), "12!");
    // A handler may replace itself while it runs.
    int runs = 0;
    form.button->OnClick = [&](TObject*) {
        ++runs;
        form.button->OnClick = nullptr;
    };
    form.button->Click();
    form.button->Click();
    EXPECT_EQ(runs, 1);
}

TEST(Conversions, IntegerAndFloatTextInTheClassicStyle) {
    EXPECT_EQ(StrToInt(" 0"), 0);
    EXPECT_EQ(StrToInt("  -42 "), -42);
    EXPECT_EQ(StrToInt("0x1F"), 31);
    EXPECT_THROW(StrToInt("12a"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("4294967296"), EConvertError);
    EXPECT_EQ(StrToIntDef("abc", 7), 7);
    EXPECT_DOUBLE_EQ(StrToFloat("0.015"), 0.015);
    EXPECT_THROW(StrToFloat("1,5"), EConvertError);
    EXPECT_EQ(FloatToStr(0.015), "0.015");
    EXPECT_EQ(FloatToStr(1500), "1500");
    EXPECT_EQ(KeyToChar(VK_NUMPAD0 + 9), '9');
    EXPECT_EQ(CharToKey('a'), 'A');
}
