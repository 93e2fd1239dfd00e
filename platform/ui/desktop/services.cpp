// Message boxes, beeps and the screen cursor on the desktop.
#include "desktop_internal.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <condition_variable>
#include <map>

namespace bx::ui::desktop::internal {

namespace {

QMessageBox::ButtonRole RoleOf(int answer) {
    switch (answer) {
        case IDCANCEL:
        case IDABORT:
            return QMessageBox::RejectRole;
        case IDYES:
            return QMessageBox::YesRole;
        case IDNO:
            return QMessageBox::NoRole;
        case IDIGNORE:
            return QMessageBox::DestructiveRole;
        default:
            return QMessageBox::AcceptRole;
    }
}

QMessageBox::Icon IconOf(unsigned icon) {
    switch (icon) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// A box asked on another thread, on its way to the GUI thread.
struct BoxRequest {
    enum State { Waiting, Showing, Done, Abandoned };
    MessageBoxRequest box;
    std::mutex mutex;
    std::condition_variable changed;
    State state = Waiting;
    int answer = 0;
};

class DesktopUi : public UiBackend {
public:
    DesktopUi(std::shared_ptr<GuiQueue> queue, std::shared_ptr<UiBackend> fallback,
              const Options& options, std::function<QWidget*(HWND)> owner_widget)
        : queue_(std::move(queue)),
          fallback_(std::move(fallback)),
          pickup_(options.box_pickup_timeout),
          owner_widget_(std::move(owner_widget)) {}

    int ShowMessageBox(const MessageBoxRequest& box) override {
        if (queue_->OnGuiThread()) return Show(box);
        auto request = std::make_shared<BoxRequest>();
        request->box = box;
        if (!queue_->Post([this, request] { Serve(*request); })) {
            return fallback_->ShowMessageBox(box);
        }
        std::unique_lock lock(request->mutex);
        if (!request->changed.wait_for(lock, pickup_,
                                       [&] { return request->state != BoxRequest::Waiting; })) {
            // The GUI thread is not getting to it (blocked, perhaps on this very thread):
            // answer it elsewhere rather than hang both.
            request->state = BoxRequest::Abandoned;
            lock.unlock();
            return fallback_->ShowMessageBox(box);
        }
        request->changed.wait(lock, [&] { return request->state == BoxRequest::Done; });
        return request->answer;
    }

    void Beep(unsigned /*type*/) override {
        if (queue_->OnGuiThread()) {
            QApplication::beep();
        } else {
            queue_->Post([] { QApplication::beep(); });
        }
    }

    void CursorChanged(TCursor cursor) override {
        if (queue_->OnGuiThread()) {
            ApplyCursor(cursor);
        } else {
            // The queued change reads the screen cursor when it runs, so the last one wins.
            queue_->Post([this] { ApplyCursor(Screen().Cursor()); });
        }
    }

    void RestoreCursor() {
        if (!overriding_) return;
        QGuiApplication::restoreOverrideCursor();
        overriding_ = false;
    }

private:
    void Serve(BoxRequest& request) {
        {
            std::lock_guard lock(request.mutex);
            if (request.state != BoxRequest::Waiting) return;  // answered elsewhere already
            request.state = BoxRequest::Showing;
        }
        request.changed.notify_all();
        const int answer = Show(request.box);
        {
            std::lock_guard lock(request.mutex);
            request.answer = answer;
            request.state = BoxRequest::Done;
        }
        request.changed.notify_all();
    }

    int Show(const MessageBoxRequest& box) {
        QWidget* owner = owner_widget_ ? owner_widget_(box.Owner) : nullptr;
        // On the heap and watched: the owner's window may go away while the box is up (it is
        // a form of the model), taking the box with it.
        QPointer<QMessageBox> dialog =
            new QMessageBox(owner != nullptr ? owner->window() : QApplication::activeWindow());
        dialog->setWindowTitle(ToQt(box.ShownCaption()));
        dialog->setText(ToQt(box.Text));
        dialog->setIcon(IconOf(box.Icon()));
        std::map<QAbstractButton*, int> answers;
        int escape = 0;
        for (int answer : box.Answers()) {
            QPushButton* button = dialog->addButton(AnswerName(answer), RoleOf(answer));
            answers[button] = answer;
            if (answer == box.DefaultAnswer()) dialog->setDefaultButton(button);
            // Escape answers Cancel, or OK on a box with nothing else.
            if (answer == IDCANCEL || box.Buttons() == MB_OK) {
                dialog->setEscapeButton(button);
                escape = answer;
            }
        }
        int clicked = 0;
        QObject::connect(dialog, &QMessageBox::buttonClicked, [&](QAbstractButton* button) {
            auto it = answers.find(button);
            if (it != answers.end()) clicked = it->second;
        });
        // A waiting cursor would say the program is busy while it waits for the user.
        const bool hourglass = overriding_;
        if (hourglass) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        dialog->exec();
        if (hourglass) QGuiApplication::restoreOverrideCursor();
        delete dialog.data();
        if (clicked != 0) return clicked;
        return escape != 0 ? escape : box.DefaultAnswer();
    }

    void ApplyCursor(TCursor cursor) {
        Qt::CursorShape shape;
        switch (cursor) {
            case crDefault:
                RestoreCursor();
                return;
            case crHourGlass:
                shape = Qt::WaitCursor;
                break;
            case crCross:
                shape = Qt::CrossCursor;
                break;
            case crIBeam:
                shape = Qt::IBeamCursor;
                break;
            default:
                shape = Qt::ArrowCursor;
                break;
        }
        if (overriding_) {
            QGuiApplication::changeOverrideCursor(shape);
        } else {
            QGuiApplication::setOverrideCursor(shape);
            overriding_ = true;
        }
    }

    std::shared_ptr<GuiQueue> queue_;
    std::shared_ptr<UiBackend> fallback_;
    std::chrono::milliseconds pickup_;
    std::function<QWidget*(HWND)> owner_widget_;
    bool overriding_ = false;  // GUI thread: an override cursor of ours is set
};

}  // namespace

std::shared_ptr<UiBackend> MakeDesktopUi(std::shared_ptr<GuiQueue> queue,
                                         std::shared_ptr<UiBackend> fallback,
                                         const Options& options,
                                         std::function<QWidget*(HWND)> owner_widget) {
    return std::make_shared<DesktopUi>(std::move(queue), std::move(fallback), options,
                                       std::move(owner_widget));
}

void RestoreCursor(UiBackend& backend) {
    if (auto* ui = dynamic_cast<DesktopUi*>(&backend)) ui->RestoreCursor();
}

}  // namespace bx::ui::desktop::internal
