// Widgets made for the model: one per kind with the model's caption and geometry, kept in
// step with changes from any thread, placed in host windows and back.
#include "desktop_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>

#include <functional>
#include <thread>

using namespace desktop_test;

namespace {

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return memo->toPlainText();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    return w->windowTitle();
}

TBitmap Glyph() {
    return TBitmap{2, 2, {0xFF0000, 0x00FF00, 0xFFFFFF, 0x0000FF}};
}

}  // namespace

TEST_F(DesktopTest, EveryKindBecomesItsWidgetWithTheModelsCaptionAndGeometry) {
    TForm form;
    form.SetCaption("Settings");
    form.SetBounds(40, 30, 400, 460);
    auto* panel = form.Add<TPanel>("Panel1");
    panel->SetBounds(4, 4, 350, 420);
    auto* pages = form.Add<TPageControl>("pgc_A", panel);
    pages->SetBounds(0, 0, 350, 400);
    auto* sheet = form.Add<TTabSheet>("tab_Camera", pages);
    sheet->SetCaption("Camera");
    struct Case {
        const char* qt_class;
        std::function<TControl*(TControl* parent)> make;
        QString text;  // what the widget shows
    };
    int n = 0;
    auto add = [&]<class T>(T*, const char* caption) {
        return [&, caption](TControl* parent) -> TControl* {
            auto* c = form.Add<T>("c" + std::to_string(++n), parent);
            c->SetCaption(caption);
            c->SetBounds(10 + n, 20 + 2 * n, 60 + n, 17 + n);
            return c;
        };
    };
    const Case cases[] = {
        {"QLabel", add(static_cast<TLabel*>(nullptr), "Exposure"), "Exposure"},
        {"QPushButton", add(static_cast<TButton*>(nullptr), "Snap"), "Snap"},
        {"QPushButton", add(static_cast<TBitBtn*>(nullptr), "Lock"), "Lock"},
        {"QToolButton", add(static_cast<TSpeedButton*>(nullptr), ""), ""},
        {"QCheckBox", add(static_cast<TCheckBox*>(nullptr), "Color"), "Color"},
        {"QRadioButton", add(static_cast<TRadioButton*>(nullptr), "12 bit"), "12 bit"},
        {"QLineEdit", add(static_cast<TEdit*>(nullptr), "250"), "250"},
        {"QLineEdit", add(static_cast<TMaskEdit*>(nullptr), "10"), "10"},
        {"QPlainTextEdit", add(static_cast<TMemo*>(nullptr), "a\r\nb"), "a\nb"},
        {"QScrollBar", add(static_cast<TScrollBar*>(nullptr), ""), ""},
        {"QWidget", add(static_cast<TUpDown*>(nullptr), ""), ""},
        {"QComboBox", add(static_cast<TComboBox*>(nullptr), ""), ""},
        {"QGroupBox", add(static_cast<TGroupBox*>(nullptr), "Binning"), "Binning"},
        {"QFrame", add(static_cast<TPanel*>(nullptr), ""), ""},
        {"QWidget", add(static_cast<TShape*>(nullptr), ""), ""},
        {"QLabel", add(static_cast<TImage*>(nullptr), ""), ""},
    };
    std::vector<TControl*> controls;
    for (const Case& c : cases) controls.push_back(c.make(sheet));
    form.Show();  // the widgets appear with the form

    auto* window = desktop::WidgetFor(&form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Settings");
    EXPECT_EQ(window->geometry(), QRect(40, 30, 400, 460));
    auto* tabs = WidgetOf<QTabWidget>(pages);
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(0), "Camera");
    EXPECT_EQ(tabs->parentWidget(), desktop::WidgetFor(panel));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].qt_class + std::string(" #") + std::to_string(i));
        QWidget* w = desktop::WidgetFor(controls[i]);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(cases[i].qt_class));
        EXPECT_EQ(TextOf(w), cases[i].text);
        const TRect r = controls[i]->BoundsRect();
        EXPECT_EQ(w->geometry(), QRect(r.Left, r.Top, r.Width(), r.Height()));
        EXPECT_EQ(w->parentWidget(), desktop::WidgetFor(sheet));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(desktop::HandleOf(w), controls[i]->Handle());
    }
}

TEST_F(DesktopTest, ValuesOfTheModelShowOnTheWidgets) {
    TForm form;
    auto* bit = form.Add<TBitBtn>("btn_Lock");
    auto* mask = form.Add<TMaskEdit>("txt_Gain");
    auto* bar = form.Add<TScrollBar>("hsb_Gain");
    auto* combo = form.Add<TComboBox>("cmb_Mode");
    auto* label = form.Add<TLabel>("lbl_Gain");
    bit->SetGlyph(Glyph());
    mask->SetEditMask("!99;1;_");
    bar->SetParams(30, 0, 4095);
    bar->SetLargeChange(64);
    combo->SetStyle(csDropDownList);
    combo->SetItems({"Normal", "Fast"});
    combo->SetItemIndex(1);
    label->SetEnabled(false);
    label->SetHint("gain");
    label->SetShowHint(true);

    EXPECT_FALSE(WidgetOf<QPushButton>(bit)->icon().isNull());
    EXPECT_EQ(WidgetOf<QLineEdit>(mask)->inputMask(), "00;_");
    auto* qbar = WidgetOf<QScrollBar>(bar);
    EXPECT_EQ(qbar->maximum(), 4095);
    EXPECT_EQ(qbar->value(), 30);
    EXPECT_EQ(qbar->pageStep(), 64);
    auto* qcombo = WidgetOf<QComboBox>(combo);
    EXPECT_EQ(qcombo->count(), 2);
    EXPECT_EQ(qcombo->currentText(), "Fast");
    EXPECT_FALSE(qcombo->isEditable());
    EXPECT_FALSE(WidgetOf(label)->isEnabled());
    EXPECT_EQ(WidgetOf(label)->toolTip(), "gain");
    form.SetFont(TFont{"Serif", 11});
    EXPECT_EQ(WidgetOf(label)->font().pointSize(), 11) << "the form's font, as a parent font";
    label->SetFontColor(clRed);
    EXPECT_EQ(WidgetOf(label)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(WidgetOf(label)->font().pointSize(), 8) << "a font of its own now";

    // Later changes on the GUI thread show at once; controls made later get widgets too.
    bar->SetPosition(5000);
    EXPECT_EQ(qbar->value(), 4095);
    label->SetBounds(7, 8, 90, 13);
    EXPECT_EQ(WidgetOf(label)->geometry(), QRect(7, 8, 90, 13));
    auto* late = form.Add<TCheckBox>("chk_Late");
    late->SetChecked(true);
    // Made with a position only, it takes its caption's size, and follows a longer caption.
    late->SetCaption("Late");
    const int shortWidth = WidgetOf(late)->width();
    EXPECT_GT(shortWidth, 0);
    EXPECT_GT(WidgetOf(late)->height(), 0);
    late->SetCaption("A much later check box");
    EXPECT_GT(WidgetOf(late)->width(), shortWidth);
    ASSERT_NE(WidgetOf<QCheckBox>(late), nullptr);
    EXPECT_TRUE(WidgetOf<QCheckBox>(late)->isChecked());
    EXPECT_EQ(WidgetOf(late)->parentWidget(), desktop::WidgetFor(&form));
}

TEST_F(DesktopTest, ChangesFromASecondThreadReachTheWidgetsOnTheGuiThread) {
    TForm form;
    auto* status = form.Add<TLabel>("lbl_Diagnosis");
    auto* high = form.Add<TRadioButton>("rbn_RangeHigh");
    auto* low = form.Add<TRadioButton>("rbn_RangeLow");
    auto* button = form.Add<TButton>("btn_Snap");
    high->SetChecked(true);
    auto* label = WidgetOf<QLabel>(status);
    ASSERT_NE(label, nullptr);
    std::thread live([&] {
        for (int i = 0; i <= 200; ++i) {
            status->SetCaption("frame " + std::to_string(i));
            button->SetEnabled(i % 2 == 1);
        }
        low->SetChecked(true);
    });
    live.join();
    EXPECT_EQ(label->text(), "") << "nothing changes off the GUI thread";
    EXPECT_TRUE(WaitUntil([&] {
        return label->text() == "frame 200" && !WidgetOf(button)->isEnabled() &&
               WidgetOf<QRadioButton>(low)->isChecked() &&
               !WidgetOf<QRadioButton>(high)->isChecked();
    }));
}

TEST_F(DesktopTest, AControlDestroyedBeforeItsQueuedRefreshIsSkipped) {
    auto form = std::make_unique<TForm>();
    auto* status = form->Add<TLabel>("lbl_Diagnosis");
    auto* other = form->Add<TLabel>("lbl_Other");
    ASSERT_NE(desktop::WidgetFor(status), nullptr);
    std::thread([&] {
        status->SetCaption("late");
        other->SetCaption("late");
    }).join();
    form.reset();  // both refreshes still queued
    TForm next;
    auto* label = next.Add<TLabel>("lbl_Next");
    ASSERT_NE(desktop::WidgetFor(label), nullptr);
    std::thread([&] { label->SetCaption("shown"); }).join();
    EXPECT_TRUE(WaitUntil([&] { return WidgetOf<QLabel>(label)->text() == "shown"; }));
}

TEST_F(DesktopTest, AControlPlacedInAHostWindowBecomesAChildOfTheHostWidgetAndComesBack) {
    QWidget host;
    host.setGeometry(300, 200, 640, 480);
    auto* area = new QWidget(&host);
    area->setGeometry(20, 10, 500, 400);
    host.show();
    const HWND handle = desktop::HostWindow(area);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(desktop::HostWindow(area), handle) << "one handle per area";
    TRect rect;
    ASSERT_TRUE(GetWindowRect(handle, &rect));
    const QPoint at = area->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(rect, (TRect{at.x(), at.y(), at.x() + 500, at.y() + 400}));

    TActiveForm form;
    auto* panel = form.Add<TPanel>("Panel1");
    panel->SetBounds(4, 4, 350, 300);
    auto* label = form.Add<TLabel>("lbl_A", panel);
    label->SetCaption("inside");

    // What the control does to show its panel in the host's window.
    const HWND saved = panel->ParentWindow();
    ASSERT_TRUE(panel->SetParentWindow(handle));
    panel->SetBounds(10, 10, 480, 370);
    QWidget* widget = desktop::WidgetFor(panel);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), area);
    EXPECT_EQ(widget->geometry(), QRect(10, 10, 480, 370));
    EXPECT_TRUE(widget->isVisible()) << "shown in the host though the form is hidden";
    EXPECT_EQ(WidgetOf<QLabel>(label)->parentWidget(), widget);
    ASSERT_TRUE(GetWindowRect(panel->Handle(), &rect));
    EXPECT_EQ(rect, (TRect{at.x() + 10, at.y() + 10, at.x() + 490, at.y() + 380}));

    ASSERT_TRUE(panel->SetParentWindow(saved));
    EXPECT_EQ(widget->parentWidget(), desktop::WidgetFor(&form));

    // The form itself, as an embedded control, and floated again.
    ASSERT_TRUE(form.SetParentWindow(handle));
    form.Show();
    QWidget* window = desktop::WidgetFor(&form);
    EXPECT_EQ(window->parentWidget(), area);
    EXPECT_FALSE(window->isWindow());
    EXPECT_EQ(SetParent(form.Handle(), 0), handle);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(DesktopTest, AHostWidgetThatGoesAwayGivesItsControlsBack) {
    auto area = std::make_unique<QWidget>();
    area->resize(200, 100);
    area->show();
    const HWND handle = desktop::HostWindow(area.get());
    TForm form;
    auto* panel = form.Add<TPanel>("Panel1");
    auto* check = form.Add<TCheckBox>("chk_A", panel);
    ASSERT_TRUE(panel->SetParentWindow(handle));
    ASSERT_EQ(desktop::WidgetFor(panel)->parentWidget(), area.get());
    area.reset();
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(panel->ParentWindow(), 0u);
    QWidget* widget = desktop::WidgetFor(panel);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), desktop::WidgetFor(&form));
    check->SetChecked(true);
    ASSERT_NE(WidgetOf<QCheckBox>(check), nullptr);
    EXPECT_TRUE(WidgetOf<QCheckBox>(check)->isChecked());
}

TEST_F(DesktopTest, UninstallRemovesTheWidgetsAndRestoresTheHeadlessToolkit) {
    TForm form;
    auto* label = form.Add<TLabel>("lbl_A");
    QPointer<QWidget> widget = desktop::WidgetFor(label);
    ASSERT_FALSE(widget.isNull());
    desktop::Uninstall();
    EXPECT_TRUE(widget.isNull());
    EXPECT_EQ(desktop::WidgetFor(label), nullptr);
    label->SetCaption("headless");  // no observer left to tell
    form.SetBounds(1, 2, 3, 4);
    TRect rect;
    ASSERT_TRUE(GetWindowRect(form.Handle(), &rect));
    EXPECT_EQ(rect, (TRect{1, 2, 4, 6}));
    EXPECT_TRUE(desktop::Install());
}

TEST_F(DesktopTest, AControlPlacedInAnotherFormsWindowOutlivesThatForm) {
    TForm owner;
    auto* panel = owner.Add<TPanel>("Panel1");
    auto host = std::make_unique<TForm>();
    host->Show();
    ASSERT_TRUE(panel->SetParentWindow(host->Handle()));
    QPointer<QWidget> widget = desktop::WidgetFor(panel);
    ASSERT_EQ(widget->parentWidget(), desktop::WidgetFor(host.get()));
    host.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(widget.isNull());
    EXPECT_EQ(widget->parentWidget(), desktop::WidgetFor(&owner));
}
