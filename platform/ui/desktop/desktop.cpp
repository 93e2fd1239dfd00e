// The desktop backend: the table of widgets made for the model, the observer that keeps them
// in step, and the user input that goes back to the model.
#include "desktop_internal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QThread>

#include <atomic>
#include <unordered_map>

namespace bx::ui::desktop {

using namespace internal;

namespace {

// Internal change bit: the control was created and needs a widget if its form has them.
constexpr ControlChanges kCreated = 1u << 31;
constexpr ControlChanges kEverything =
    ccText | ccGeometry | ccState | ccValue | ccAppearance | ccPages;

const char* const kHandleProperty = "bxHandle";
const char* const kOwnedProperty = "bxOwned";

// The model's stand-in for a host program's widget, so it has a window handle.
class HostArea : public TControl {};

struct Entry {
    TControl* control = nullptr;  // good while its handle is live
    Kind kind = Kind::Other;
    QPointer<QWidget> widget;
    bool owned = true;  // made by us (host areas are not)
};

class Desktop;
std::shared_ptr<Desktop> g_desktop;  // GUI thread
thread_local bool in_auto_dispatch = false;

// Watches the widgets for what the model must hear of: focus, keys, mouse buttons, closing.
class InputFilter : public QObject {
public:
    explicit InputFilter(Desktop& desktop) : desktop_(desktop) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Desktop& desktop_;
};

uint16_t VirtualKey(const QKeyEvent& event) {
    const int key = event.key();
    if ((event.modifiers() & Qt::KeypadModifier) && key >= Qt::Key_0 && key <= Qt::Key_9) {
        return static_cast<uint16_t>(VK_NUMPAD0 + (key - Qt::Key_0));
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        return static_cast<uint16_t>(key);  // the same codes
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return static_cast<uint16_t>(VK_F1 + (key - Qt::Key_F1));
    }
    switch (key) {
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_Tab:
            return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Delete:
            return VK_DELETE;
        default:
            return 0;
    }
}

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers) {
    TShiftState shift = 0;
    if (modifiers & Qt::ShiftModifier) shift |= ssShift;
    if (modifiers & Qt::AltModifier) shift |= ssAlt;
    if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
    return shift;
}

class Desktop : public ControlObserver {
public:
    Desktop()
        : queue(std::make_shared<GuiQueue>()),
          filter(new InputFilter(*this)),
          host_filter(new HostFilter(*this)),
          context(new QObject) {}

    // ---- Observer (any thread) -----------------------------------------------------------
    void ControlCreated(TControl& control) override { Schedule(control.Handle(), kCreated); }
    void ControlChanged(TControl& control, ControlChanges what) override {
        Schedule(control.Handle(), what);
    }
    void ControlDestroyed(TControl& /*control*/, HWND handle) override {
        if (queue->OnGuiThread()) {
            Drop(handle);
        } else {
            queue->Post([this, handle] { Drop(handle); });
        }
    }

    // Changes made on the GUI thread show at once; others wait for the GUI thread, gathered
    // into one refresh per control.
    void Schedule(HWND handle, ControlChanges what) {
        if (queue->OnGuiThread()) {
            Apply(handle, what);
            return;
        }
        std::lock_guard lock(pending_mutex);
        auto [it, fresh] = pending.try_emplace(handle, 0);
        it->second |= what;
        if (fresh) queue->Post([this, handle] { Flush(handle); });
    }

    void Flush(HWND handle) {
        ControlChanges what;
        {
            std::lock_guard lock(pending_mutex);
            auto it = pending.find(handle);
            if (it == pending.end()) return;
            what = it->second;
            pending.erase(it);
        }
        Apply(handle, what);
    }

    // ---- The widgets (GUI thread) --------------------------------------------------------
    void Apply(HWND handle, ControlChanges what) {
        TControl* control = FindControl(handle);
        if (control == nullptr) return;  // destroyed before its refresh came
        auto it = entries.find(handle);
        if (it == entries.end()) {
            // Not shown yet: controls join forms that have widgets; forms get theirs when
            // shown or when one of their controls goes into a host window.
            TForm* form = control->Form();
            if (form == nullptr) return;
            const bool form_built = entries.count(form->Handle()) != 0;
            if (form != control && form_built) {
                Build(*control);
            } else if ((what & ccState) && form == control && control->Visible()) {
                Build(*form);
            } else if ((what & ccParent) && control->ParentWindow() != 0) {
                Build(*form);
            }
            return;
        }
        Entry& entry = it->second;
        if (!entry.owned) return;
        if (entry.widget.isNull()) {  // deleted with a host widget that went away
            Build(*control);
            return;
        }
        if (what & ccParent) Place(entry);
        Refresh(entry, what);
    }

    // Makes (or finds) the control's widget, places and fills it, then does the same for
    // the controls inside it.
    QWidget* Build(TControl& control) {
        Entry& entry = entries[control.Handle()];
        if (entry.widget.isNull()) {
            entry.control = &control;
            entry.kind = KindOf(control);
            entry.owned = true;
            QWidget* widget = MakeWidget(entry.kind);
            widget->setProperty(kHandleProperty, static_cast<uint>(control.Handle()));
            widget->setProperty(kOwnedProperty, true);
            Connect(entry.kind, control.Handle(), widget);
            entry.widget = widget;
        }
        QWidget* widget = entry.widget;
        Place(entry);
        Refresh(entry, kEverything);
        for (TControl* child : control.Controls()) Build(*child);
        if (entry.kind == Kind::PageControl) Refresh(entry, ccPages);  // the pages exist now
        return widget;
    }

    QWidget* WidgetOf(HWND handle) {
        auto it = entries.find(handle);
        return it == entries.end() ? nullptr : it->second.widget.data();
    }

    // Puts the widget where the model has the control: in its host window, else in its
    // parent's widget (a page of a page control in its tab widget), else top level for a
    // form and hidden for anything else.
    void Place(Entry& entry) {
        TControl& control = *entry.control;
        QWidget* widget = entry.widget;
        TControl* parent = control.Parent();
        QWidget* container = nullptr;
        if (HWND host = control.ParentWindow(); host != 0) {
            container = WidgetOf(host);
        } else if (parent != nullptr) {
            auto it = entries.find(parent->Handle());
            if (it != entries.end() && it->second.widget) {
                if (entry.kind == Kind::TabSheet && it->second.kind == Kind::PageControl) {
                    PlacePage(static_cast<TTabSheet&>(control), it->second, widget);
                    return;
                }
                container = it->second.widget;
            }
        }
        if (container != nullptr) {
            if (widget->parentWidget() != container) widget->setParent(container);
        } else if (widget->parentWidget() != nullptr) {
            widget->setParent(nullptr);  // top level again
        }
        Refresh(entry, ccGeometry | ccState);
    }

    void PlacePage(TTabSheet& sheet, Entry& pages, QWidget* widget) {
        auto* tabs = static_cast<QTabWidget*>(pages.widget.data());
        if (tabs->indexOf(widget) < 0) {
            QSignalBlocker block(tabs);
            tabs->insertTab(std::max(sheet.PageIndex(), 0), widget, ToQt(sheet.Caption()));
        }
        Refresh(pages, ccPages);
    }

    void Refresh(Entry& entry, ControlChanges what) {
        QWidget* widget = entry.widget;
        TControl& control = *entry.control;
        QSignalBlocker block(widget);
        ++refreshing;
        RefreshWidget(entry.kind, control, widget, what);
        if (what & (ccGeometry | ccState | ccText)) RefreshPlacement(entry, what);
        if ((what & ccPages) && entry.kind == Kind::TabSheet) {
            if (TPageControl* pages = static_cast<TTabSheet&>(control).PageControl()) {
                auto it = entries.find(pages->Handle());
                if (it != entries.end() && it->second.widget) Refresh(it->second, ccPages);
            }
        }
        if ((what & ccFocus) && control.Focused() && !widget->hasFocus()) widget->setFocus();
        --refreshing;
    }

    // Geometry only when it changed, so a window the user moved stays where it is when
    // only its state changes. Labels, check boxes and radio buttons made with a position only
    // size themselves to their caption, as the classic toolkit's auto-size does.
    void RefreshPlacement(Entry& entry, ControlChanges what) {
        if (entry.kind == Kind::TabSheet) return;  // its tab widget places it
        TControl& control = *entry.control;
        QWidget* widget = entry.widget;
        const TRect r = control.BoundsRect();
        const bool autoSized = (entry.kind == Kind::Label || entry.kind == Kind::CheckBox ||
                                entry.kind == Kind::RadioButton) &&
                               (r.Width() == 0 || r.Height() == 0);
        if ((what & ccGeometry) || (autoSized && (what & ccText))) {
            QSize size(r.Width(), r.Height());
            if (autoSized) {
                const QSize hint = widget->sizeHint();
                if (size.width() == 0) size.setWidth(hint.width());
                if (size.height() == 0) size.setHeight(hint.height());
            }
            widget->setGeometry(r.Left, r.Top, size.width(), size.height());
        }
        if (what & ccState) {
            const bool placed = entry.kind == Kind::Form || widget->parentWidget() != nullptr;
            widget->setVisible(placed && control.Visible());
        }
    }

    // Removes the widget of a destroyed control. Widgets of live controls inside it (put
    // there as a host window) are taken out first, so they survive it.
    void Drop(HWND handle) {
        {
            std::lock_guard lock(pending_mutex);
            pending.erase(handle);
        }
        auto it = entries.find(handle);
        if (it == entries.end()) return;
        QPointer<QWidget> widget = it->second.widget;
        const bool owned = it->second.owned;
        entries.erase(it);
        if (!owned || widget.isNull()) return;
        RescueChildren(widget, handle);
        // Nothing it or a tab widget losing it as a page says now is the user's doing.
        widget->blockSignals(true);
        QTabWidget* tabs = nullptr;
        for (QWidget* p = widget->parentWidget(); p != nullptr && tabs == nullptr;
             p = p->parentWidget()) {
            tabs = qobject_cast<QTabWidget*>(p);
        }
        QSignalBlocker block(tabs);
        widget->hide();
        widget->setParent(nullptr);
        // Later, not now: the control may be going away from one of its own widget's signals.
        widget->deleteLater();
    }

    void RescueChildren(QWidget* widget, HWND handle) {
        const QObjectList children = widget->children();  // a copy: rescuing changes it
        for (QObject* child : children) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w == nullptr) continue;
            const QVariant h = w->property(kHandleProperty);
            if (h.isValid() && h.toUInt() != handle && entries.count(h.toUInt()) != 0) {
                w->hide();
                w->setParent(nullptr);
            } else {
                RescueChildren(w, handle);
            }
        }
    }

    // ---- User input (GUI thread) ---------------------------------------------------------
    void Connect(Kind kind, HWND h, QWidget* widget) {
        widget->installEventFilter(filter);
        auto control = [h] { return FindControl(h); };
        switch (kind) {
            case Kind::Button:
            case Kind::SpeedButton:
            case Kind::CheckBox:
            case Kind::RadioButton:
                QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked,
                                 [this, h, control] {
                                     if (TControl* c = control()) c->Click(mbLeft);
                                     Apply(h, ccValue);  // Qt toggled it; the model decides
                                 });
                break;
            case Kind::Edit:
                QObject::connect(static_cast<QLineEdit*>(widget), &QLineEdit::textEdited,
                                 [control](const QString& text) {
                                     if (TControl* c = control()) c->SetText(FromQt(text));
                                 });
                break;
            case Kind::Memo: {
                auto* memo = static_cast<QPlainTextEdit*>(widget);
                QObject::connect(memo, &QPlainTextEdit::textChanged, [this, memo, control] {
                    if (refreshing > 0) return;
                    QString text = memo->toPlainText();
                    text.replace("\n", "\r\n");
                    if (TControl* c = control()) c->SetText(FromQt(text));
                });
                break;
            }
            case Kind::ScrollBar:
                QObject::connect(static_cast<QScrollBar*>(widget), &QScrollBar::valueChanged,
                                 [this, h, control](int value) {
                                     if (auto* bar = static_cast<TScrollBar*>(control())) {
                                         bar->ScrollTo(value);
                                     }
                                     Apply(h, ccValue);
                                 });
                break;
            case Kind::UpDown: {
                auto* spin = static_cast<UpDownWidget*>(widget);
                for (auto [button, type] : {std::pair{spin->up, btNext}, {spin->down, btPrev}}) {
                    const TUDBtnType step = type;
                    QObject::connect(button, &QAbstractButton::clicked, [control, step] {
                        if (auto* updown = static_cast<TUpDown*>(control())) {
                            updown->ClickButton(step);
                        }
                    });
                }
                break;
            }
            case Kind::ComboBox: {
                auto* combo = static_cast<QComboBox*>(widget);
                QObject::connect(combo, &QComboBox::activated, [this, h, control](int index) {
                    if (auto* c = static_cast<TComboBox*>(control())) c->Select(index);
                    Apply(h, ccValue | ccText);
                });
                QObject::connect(combo, &QComboBox::editTextChanged,
                                 [this, control](const QString& text) {
                                     if (refreshing > 0) return;
                                     if (TControl* c = control()) c->SetText(FromQt(text));
                                 });
                break;
            }
            case Kind::PageControl:
                QObject::connect(
                    static_cast<QTabWidget*>(widget), &QTabWidget::currentChanged,
                    [this, h, control, widget](int index) {
                        auto* pages = static_cast<TPageControl*>(control());
                        QWidget* page = static_cast<QTabWidget*>(widget)->widget(index);
                        if (pages != nullptr && page != nullptr) {
                            pages->SelectTab(dynamic_cast<TTabSheet*>(
                                FindControl(page->property(kHandleProperty).toUInt())));
                        }
                        Apply(h, ccPages);  // a refused change goes back
                    });
                break;
            default:
                break;
        }
    }

    // Kinds whose left click is a button's clicked signal rather than a press and release.
    static bool ClicksBySignal(Kind kind) {
        switch (kind) {
            case Kind::Button:
            case Kind::SpeedButton:
            case Kind::CheckBox:
            case Kind::RadioButton:
            case Kind::UpDown:
            case Kind::ScrollBar:
            case Kind::ComboBox:
            case Kind::PageControl:
            case Kind::Edit:
            case Kind::Memo:
                return true;
            default:
                return false;
        }
    }

    bool HandleEvent(QWidget* widget, QEvent* event) {
        const QVariant property = widget->property(kHandleProperty);
        if (!property.isValid()) return false;
        const HWND h = property.toUInt();
        auto it = entries.find(h);
        if (it == entries.end() || !it->second.owned) return false;
        const Kind kind = it->second.kind;
        TControl* control = FindControl(h);
        if (control == nullptr) return false;
        const bool keys = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
        if (keys && !widget->hasFocus()) return false;  // passed up from a child: told already
        switch (event->type()) {
            case QEvent::FocusIn:
                if (!control->Focused()) control->SetFocus();
                return false;
            case QEvent::KeyPress:
                return KeyPressed(*control, kind, widget, static_cast<QKeyEvent&>(*event));
            case QEvent::KeyRelease: {
                uint16_t key = VirtualKey(static_cast<QKeyEvent&>(*event));
                if (key == 0 || !control->Reachable()) return false;
                const TShiftState shift = ShiftOf(static_cast<QKeyEvent&>(*event).modifiers());
                if (TForm* preview = Preview(*control)) preview->OnKeyUp(preview, key, shift);
                if (key != 0) control->OnKeyUp(control, key, shift);
                return false;
            }
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
                return MouseButton(*control, kind, widget, static_cast<QMouseEvent&>(*event));
            case QEvent::ContextMenu:
                return control->PopupMenu() != nullptr;  // ours pops up on the release
            case QEvent::Close:
                if (kind == Kind::Form && refreshing == 0) control->Hide();
                return false;
            default:
                return false;
        }
    }

    static TForm* Preview(TControl& control) {
        TForm* form = control.Form();
        return form != nullptr && form != &control && form->KeyPreview() ? form : nullptr;
    }

    // The model's key-down and key-press events run first; a handler that clears the key
    // keeps it from the widget.
    bool KeyPressed(TControl& control, Kind kind, QWidget* widget, QKeyEvent& event) {
        if (!control.Reachable()) return false;
        TForm* preview = Preview(control);
        const TShiftState shift = ShiftOf(event.modifiers());
        uint16_t key = VirtualKey(event);
        if (key != 0) {
            if (preview != nullptr) preview->OnKeyDown(preview, key, shift);
            if (key != 0) control.OnKeyDown(&control, key, shift);
            if (key == 0) return true;
        }
        const QString text = event.text();
        if (text.size() != 1 || text[0].unicode() >= 128) return false;
        const char typed = static_cast<char>(text[0].unicode());
        char ch = typed;
        if (preview != nullptr) preview->OnKeyPress(preview, ch);
        if (ch != 0) control.OnKeyPress(&control, ch);
        if (ch == 0) return true;
        if (ch != typed) {  // a handler changed the character: type that one instead
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                edit->insert(QString(QChar(ch)));
                control.SetText(FromQt(edit->text()));
            }
            return true;
        }
        if (ch == '\r' && kind == Kind::Button) {  // Return clicks a focused button
            control.Click(mbLeft);
            return true;
        }
        return false;
    }

    // Right and middle buttons (and left ones on controls without a click signal) go to the
    // model as its mouse messages; a right release pops up the control's menu.
    bool MouseButton(TControl& control, Kind kind, QWidget* widget, QMouseEvent& event) {
        const bool press = event.type() == QEvent::MouseButtonPress;
        const QPoint pos = event.position().toPoint();
        if (event.button() == Qt::LeftButton) {
            if (ClicksBySignal(kind)) return false;
            if (!press && widget->rect().contains(pos)) control.Click(mbLeft);
            return true;
        }
        uint32_t msg;
        if (event.button() == Qt::RightButton) {
            msg = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        } else if (event.button() == Qt::MiddleButton) {
            msg = press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        } else {
            return false;
        }
        PostMessage(control.Handle(), msg, 0, MAKELPARAM(pos.x(), pos.y()));
        if (!press && event.button() == Qt::RightButton && control.Reachable()) {
            PopUp(control, widget, pos);
        }
        return true;
    }

    void PopUp(TControl& control, QWidget* widget, QPoint pos) {
        TPopupMenu* model = control.PopupMenu();
        if (model == nullptr) return;
        model->Popup(pos.x(), pos.y());  // OnPopup may still change the items
        auto* menu = new QMenu(widget);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        const HWND h = control.Handle();
        const std::vector<TMenuItem*> items = model->Items();
        for (size_t i = 0; i < items.size(); ++i) {
            if (!items[i]->Visible()) continue;
            QAction* action = menu->addAction(ToQt(items[i]->Caption()));
            action->setEnabled(items[i]->Enabled());
            action->setCheckable(items[i]->Checked());
            action->setChecked(items[i]->Checked());
            // Found again when chosen: the menu or the control may have gone meanwhile.
            QObject::connect(action, &QAction::triggered, [h, i] {
                TControl* c = FindControl(h);
                TPopupMenu* m = c != nullptr ? c->PopupMenu() : nullptr;
                if (m == nullptr) return;
                const std::vector<TMenuItem*> now = m->Items();
                if (i < now.size()) now[i]->Click();
            });
        }
        menu->popup(widget->mapToGlobal(pos));
    }

    // ---- Host windows (GUI thread) -------------------------------------------------------
    HWND AddHost(QWidget* area) {
        const QVariant known = area->property(kHandleProperty);
        if (known.isValid() && entries.count(known.toUInt()) != 0) return known.toUInt();
        auto host = std::make_unique<HostArea>();
        const HWND h = host->Handle();
        Entry& entry = entries[h];
        entry.control = host.get();
        entry.kind = Kind::Host;
        entry.widget = area;
        entry.owned = false;
        area->setProperty(kHandleProperty, static_cast<uint>(h));
        hosts.emplace(h, std::move(host));
        TrackHost(h);
        area->installEventFilter(host_filter);
        QObject::connect(area, &QObject::destroyed, context, [this, h] { RemoveHost(h); });
        return h;
    }

    // The host's model stand-in keeps the area's screen rectangle, for threads that cannot
    // ask the widget.
    void TrackHost(HWND h) {
        auto it = entries.find(h);
        auto host = hosts.find(h);
        if (it == entries.end() || host == hosts.end() || it->second.widget.isNull()) return;
        QWidget* area = it->second.widget;
        const QPoint at = area->mapToGlobal(QPoint(0, 0));
        host->second->SetBounds(at.x(), at.y(), area->width(), area->height());
    }

    void RemoveHost(HWND h) {
        auto host = hosts.find(h);
        if (host == hosts.end()) return;
        std::unique_ptr<HostArea> gone = std::move(host->second);
        hosts.erase(host);
        gone.reset();  // controls placed in it go back to their own parents
        entries.erase(h);
    }

    class HostFilter : public QObject {
    public:
        explicit HostFilter(Desktop& desktop) : desktop_(desktop) {}

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            switch (event->type()) {
                case QEvent::Move:
                case QEvent::Resize:
                case QEvent::Show:
                    desktop_.TrackHost(watched->property(kHandleProperty).toUInt());
                    break;
                default:
                    break;
            }
            return false;
        }

    private:
        Desktop& desktop_;
    };

    bool ScreenRect(HWND h, TRect* rect) {
        QWidget* widget = WidgetOf(h);
        if (widget == nullptr || !widget->isVisible()) return false;
        const QPoint at = widget->mapToGlobal(QPoint(0, 0));
        *rect = TRect{at.x(), at.y(), at.x() + widget->width(), at.y() + widget->height()};
        return true;
    }

    // ---- Uninstall (GUI thread) ----------------------------------------------------------
    void Shutdown() {
        queue->Close();
        {
            std::lock_guard lock(pending_mutex);
            pending.clear();
        }
        // The widgets that no widget of ours contains; deleting them deletes the rest.
        std::vector<QPointer<QWidget>> roots;
        for (auto& [h, entry] : entries) {
            if (!entry.owned || entry.widget.isNull()) continue;
            bool inside = false;
            for (QWidget* p = entry.widget->parentWidget(); p != nullptr && !inside;
                 p = p->parentWidget()) {
                inside = p->property(kOwnedProperty).toBool();
            }
            if (!inside) roots.push_back(entry.widget);
        }
        for (auto& [h, entry] : entries) {
            if (entry.owned && entry.widget) entry.widget->blockSignals(true);
            if (!entry.owned && entry.widget) {
                entry.widget->removeEventFilter(host_filter);
                entry.widget->setProperty(kHandleProperty, QVariant());
            }
        }
        entries.clear();
        for (auto& widget : roots) delete widget.data();
        hosts.clear();  // no observer now: controls placed in them just fall back
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete filter;
        delete host_filter;
        delete context;
        filter = nullptr;
        host_filter = nullptr;
        context = nullptr;
    }

    std::shared_ptr<GuiQueue> queue;
    std::shared_ptr<UiBackend> ui;
    std::shared_ptr<UiBackend> previous_ui;
    DesktopHooks previous_hooks;
    std::shared_ptr<ControlObserver> previous_observer;
    // A dispatch of the toolkit's messages is queued; shared with the posting hook, which a
    // thread may still be running after Uninstall.
    std::shared_ptr<std::atomic<bool>> dispatch_pending =
        std::make_shared<std::atomic<bool>>(false);

    std::unordered_map<HWND, Entry> entries;                    // GUI thread
    std::unordered_map<HWND, std::unique_ptr<HostArea>> hosts;  // GUI thread
    int refreshing = 0;                                         // GUI thread
    // GUI-thread objects, deleted by Shutdown (the Desktop itself may die on another thread).
    InputFilter* filter;
    HostFilter* host_filter;
    QObject* context;  // receiver of the host widgets' destroyed signals

    std::mutex pending_mutex;
    std::unordered_map<HWND, ControlChanges> pending;
};

bool InputFilter::eventFilter(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) return false;
    return desktop_.HandleEvent(static_cast<QWidget*>(watched), event);
}

bool OnGuiThread() {
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

bool Install(const Options& options) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr || !OnGuiThread() ||
        g_desktop) {
        return false;
    }
    auto desktop = std::make_shared<Desktop>();
    Desktop* d = desktop.get();
    desktop->ui = MakeDesktopUi(desktop->queue, CurrentUiBackend(), options,
                                [d](HWND owner) { return d->WidgetOf(owner); });
    desktop->previous_ui = SetUiBackend(desktop->ui);

    DesktopHooks hooks;
    std::shared_ptr<GuiQueue> queue = desktop->queue;
    hooks.Pump = [queue] {
        if (!in_auto_dispatch && queue->OnGuiThread()) QCoreApplication::processEvents();
    };
    std::weak_ptr<GuiQueue> weak_queue = desktop->queue;
    hooks.Posted = [weak_queue, pending = desktop->dispatch_pending] {
        auto queue = weak_queue.lock();
        if (!queue || pending->exchange(true)) return;
        // The toolkit's messages are dispatched from the Qt event loop, one pass per burst.
        queue->Post([pending] {
            *pending = false;
            in_auto_dispatch = true;
            ProcessMessages();
            in_auto_dispatch = false;
        });
    };
    hooks.WindowRect = [d, queue](HWND h, TRect* rect) {
        return queue->OnGuiThread() && g_desktop.get() == d && d->ScreenRect(h, rect);
    };
    desktop->previous_hooks = SetDesktopHooks(std::move(hooks));
    desktop->previous_observer = SetControlObserver(desktop);
    g_desktop = std::move(desktop);
    return true;
}

void Uninstall() {
    if (!OnGuiThread() || !g_desktop) return;
    std::shared_ptr<Desktop> desktop = std::move(g_desktop);
    SetControlObserver(desktop->previous_observer);
    SetDesktopHooks(std::move(desktop->previous_hooks));
    SetUiBackend(desktop->previous_ui);
    RestoreCursor(*desktop->ui);
    desktop->Shutdown();
}

bool Installed() {
    return OnGuiThread() && g_desktop != nullptr;
}

QWidget* WidgetFor(TControl* control) {
    if (control == nullptr || !OnGuiThread() || !g_desktop) return nullptr;
    if (QWidget* known = g_desktop->WidgetOf(control->Handle())) return known;
    TForm* form = control->Form();
    if (form == nullptr) return nullptr;
    g_desktop->Build(*form);
    return g_desktop->WidgetOf(control->Handle());
}

HWND HandleOf(const QWidget* widget) {
    if (widget == nullptr || !OnGuiThread() || !g_desktop) return 0;
    const QVariant h = widget->property(kHandleProperty);
    return h.isValid() && g_desktop->entries.count(h.toUInt()) != 0 ? h.toUInt() : 0;
}

HWND HostWindow(QWidget* area) {
    if (area == nullptr || !OnGuiThread() || !g_desktop) return 0;
    return g_desktop->AddHost(area);
}

}  // namespace bx::ui::desktop
