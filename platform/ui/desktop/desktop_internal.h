// Internal parts of the desktop backend shared by its files. Everything here runs on the GUI
// thread unless its comment says otherwise.
#pragma once

#include <bxplatform/ui_desktop.h>

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QAbstractButton;

namespace bx::ui::desktop::internal {

// Which widget a control becomes.
enum class Kind {
    Form,
    Host,  // a host program's own widget, given as a window handle
    Label,
    Button,
    SpeedButton,
    CheckBox,
    RadioButton,
    Edit,
    Memo,
    ScrollBar,
    UpDown,
    ComboBox,
    GroupBox,
    Panel,
    Shape,
    PageControl,
    TabSheet,
    Image,
    Other
};

Kind KindOf(const TControl& control);
// A new parent-less widget for the control; inputs are connected by the caller.
QWidget* MakeWidget(Kind kind);
// Brings the widget in line with the model for the given change groups. The caller blocks
// the widget's signals and places it (parent and geometry).
void RefreshWidget(Kind kind, TControl& control, QWidget* widget, ControlChanges what);

QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
// An invalid colour for system colours (the widget keeps its palette's).
QColor ToQColor(TColor color);
// With `transparent`, the bottom-left pixel's colour shows through, as glyphs do.
QPixmap ToPixmap(const TBitmap& bitmap, bool transparent);
// The Qt input mask for a classic edit mask ("!99;1;_" gives "00;_").
QString ToQtMask(const std::string& mask);

// The up-down's two arrow buttons.
class UpDownWidget : public QWidget {
public:
    UpDownWidget();
    QAbstractButton* up;
    QAbstractButton* down;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// A bevelled panel with its caption centred.
class PanelWidget : public QFrame {
public:
    QString caption;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ShapeWidget : public QWidget {
public:
    QColor brush{Qt::white}, pen{Qt::black};
    TShapeType shape = stRectangle;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Runs functions on the GUI thread from any thread, until closed.
class GuiQueue {
public:
    GuiQueue();  // on the GUI thread
    ~GuiQueue();
    GuiQueue(const GuiQueue&) = delete;
    GuiQueue& operator=(const GuiQueue&) = delete;
    // Any thread. Returns false (dropping `f`) once closed.
    bool Post(std::function<void()> f);
    bool OnGuiThread() const;
    // Drops what is still queued; later posts fail. GUI thread.
    void Close();

private:
    class Context;
    // Runs the oldest call; the GUI thread, once per event posted.
    void RunNext();

    std::mutex mutex_;
    // The calls travel here, under our own lock, and Qt carries only a bare wake-up event
    // (one per call, so a modal loop inside one call still runs the next). Qt's own hand-off
    // is invisible to a thread checker when Qt is not built for one.
    std::deque<std::function<void()>> calls_;
    Context* context_;
    // Compared by id, so asking from a thread Qt does not know costs Qt nothing.
    const std::thread::id thread_;
};

// The message-box, beep and cursor backend (services.cpp).
std::shared_ptr<UiBackend> MakeDesktopUi(std::shared_ptr<GuiQueue> queue,
                                         std::shared_ptr<UiBackend> fallback,
                                         const Options& options,
                                         std::function<QWidget*(HWND)> owner_widget);
// Gives back the override cursor the backend set, if any (GUI thread).
void RestoreCursor(UiBackend& backend);

}  // namespace bx::ui::desktop::internal
