// Toolkit services around the forms: message boxes, the system beep, the screen cursor, the
// message queue with ProcessMessages, and window-handle queries.
//
// Message boxes and beeps go to a pluggable backend. ScriptedUi is for tests: it answers from
// a queue and records every box and beep in order. ConsoleUi prints to a stream and answers a
// fixed choice, giving up after a few automatic retries of the same question; it is the default
// backend, printing to standard error and answering each box with the answer code in the
// environment variable BX_UI_ANSWER when the box offers it, else with its default button.
//
// Thread rule: every function and class here is thread-safe.
#pragma once

#include <bxplatform/ui_base.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace bx::ui {

// ---- Message boxes -----------------------------------------------------------------------
// Button sets (flags & 0x0F).
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_CANCELTRYCONTINUE = 0x6;
// Icons (flags & 0xF0).
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONHAND = MB_ICONERROR;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONEXCLAMATION = MB_ICONWARNING;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONASTERISK = MB_ICONINFORMATION;
// Default button (flags & 0xF00) and modality (flags & 0x3000).
inline constexpr unsigned MB_DEFBUTTON1 = 0x000;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_DEFBUTTON3 = 0x200;
inline constexpr unsigned MB_APPLMODAL = 0x0000;
inline constexpr unsigned MB_SYSTEMMODAL = 0x1000;
inline constexpr unsigned MB_TASKMODAL = 0x2000;

// Answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;

// The text of an answer's button ("OK", "Try Again" ...); "?" for an unknown code.
const char* AnswerName(int answer);

// One message box as asked for.
struct MessageBoxRequest {
    HWND Owner = 0;
    std::string Text;
    std::string Caption;  // empty: the system's default caption ("Error")
    unsigned Flags = 0;

    unsigned Buttons() const { return Flags & 0x0F; }
    unsigned Icon() const { return Flags & 0xF0; }
    // Answers the box offers, left to right; empty for an unknown button set.
    std::vector<int> Answers() const;
    // The default button's answer (MB_DEFBUTTONn, else the first), or 0 for an unknown set.
    int DefaultAnswer() const;
    // Whether `answer` is one of the box's buttons.
    bool Offers(int answer) const;
    // Caption as the user sees it: the given one, or "Error" when none was given.
    std::string ShownCaption() const;
};

// Where boxes and beeps go. Implementations must be thread-safe.
class UiBackend {
public:
    virtual ~UiBackend() = default;
    // Shows the box and returns the answer; only called for boxes with a known button set.
    virtual int ShowMessageBox(const MessageBoxRequest& box) = 0;
    virtual void Beep(unsigned type) = 0;
    // Told whenever the screen cursor changes. Default: ignored.
    virtual void CursorChanged(TCursor /*cursor*/) {}
};

// Installs a backend; null restores the default console backend. Returns the previous one.
std::shared_ptr<UiBackend> SetUiBackend(std::shared_ptr<UiBackend> backend);
std::shared_ptr<UiBackend> CurrentUiBackend();

// Installs a backend for the life of the guard (typically in a test).
class ScopedUiBackend {
public:
    explicit ScopedUiBackend(std::shared_ptr<UiBackend> backend)
        : previous_(SetUiBackend(std::move(backend))) {}
    ~ScopedUiBackend() { SetUiBackend(previous_); }
    ScopedUiBackend(const ScopedUiBackend&) = delete;
    ScopedUiBackend& operator=(const ScopedUiBackend&) = delete;

private:
    std::shared_ptr<UiBackend> previous_;
};

// Shows a modal message box and returns the answer code. Returns 0 (no box shown, nothing
// recorded) when the flags name an unknown button set.
int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags);
int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// Sounds a system beep of the given kind (0xFFFFFFFF simple, MB_OK default, MB_ICON* sounds).
bool MessageBeep(unsigned type = 0xFFFFFFFF);
// The toolkit's plain beep (MessageBeep(MB_OK)).
void Beep();

// What the scripted backend saw, in order.
struct UiEvent {
    enum class Kind { MessageBox, Beep };
    Kind kind = Kind::MessageBox;
    MessageBoxRequest box;  // for MessageBox
    int answer = 0;         // for MessageBox: the answer given
    unsigned beepType = 0;  // for Beep
    bool IsBox() const { return kind == Kind::MessageBox; }
    bool IsBeep() const { return kind == Kind::Beep; }
};

// Backend for tests: answers boxes from a queue and records every box and beep in order.
// An answer comes from, in this order: the queue (an answer the box does not offer is used up
// and replaced by the box's default, so a wrong script shows in the recorded answer), the
// responder, the box's default button.
class ScriptedUi : public UiBackend {
public:
    using Responder = std::function<int(const MessageBoxRequest&)>;

    void QueueAnswer(int answer);
    void QueueAnswers(std::initializer_list<int> answers);
    // Consulted when the queue is empty; an answer the box does not offer falls back to its
    // default button. Runs without the backend's lock held.
    void SetResponder(Responder responder);
    size_t PendingAnswers() const;

    std::vector<UiEvent> Events() const;           // boxes and beeps, in order
    std::vector<MessageBoxRequest> Boxes() const;  // boxes only, in order
    std::vector<TCursor> Cursors() const;          // every screen cursor change, in order
    size_t BoxCount() const;
    size_t BeepCount() const;
    void Clear();

    int ShowMessageBox(const MessageBoxRequest& box) override;
    void Beep(unsigned type) override;
    void CursorChanged(TCursor cursor) override;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    Responder responder_;
    std::vector<UiEvent> events_;
    std::vector<TCursor> cursors_;
};

// Backend for consoles: prints each box and beep as one line and answers a fixed choice.
//
// Nobody is there to notice a retry that never succeeds, so automatic retries are bounded:
// when the automatic answer is Retry (or Try Again) and the same question (same text and
// caption) is shown again in a row, Retry is given kMaxAutomaticRetries times; after that the
// box is answered Abort when it offers it, else Cancel, else its default button, and one line
// says retrying was given up. The same question keeps that answer while it repeats; any other
// box starts the count afresh. So a caller that retries while the answer is Retry sees at most
// kMaxAutomaticRetries + 1 boxes before it is told to stop.
class ConsoleUi : public UiBackend {
public:
    static constexpr int kDefaultButton = 0;
    // Automatic Retry answers to one question in a row before giving up.
    static constexpr int kMaxAutomaticRetries = 3;
    // `answer`: an answer code to give when the box offers it, else the box's default button.
    // `out`: where to print; null means standard error.
    explicit ConsoleUi(int answer = kDefaultButton, std::ostream* out = nullptr);

    int ShowMessageBox(const MessageBoxRequest& box) override;
    void Beep(unsigned type) override;

private:
    std::mutex mutex_;
    int answer_;
    std::ostream* out_;
    // The question last answered Retry and how often in a row (beyond the limit: given up).
    std::string retryText_;
    std::string retryCaption_;
    int retries_ = 0;
};

// ---- Screen cursor -----------------------------------------------------------------------
class TScreen {
public:
    TCursor Cursor() const;
    // Changes the cursor and tells the backend (only when it changes).
    void SetCursor(TCursor cursor);
    // The most recently shown form, or 0.
    HWND ActiveForm() const;
    void SetActiveForm(HWND form);
};
TScreen& Screen();

// Shows a cursor (the hourglass by default) for its lifetime and restores the previous one.
class TCursorGuard {
public:
    explicit TCursorGuard(TCursor cursor = crHourGlass);
    ~TCursorGuard();
    TCursorGuard(const TCursorGuard&) = delete;
    TCursorGuard& operator=(const TCursorGuard&) = delete;

private:
    TCursor previous_;
};

// ---- Message queue -----------------------------------------------------------------------
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
inline constexpr uint32_t WM_KEYUP = 0x0101;
inline constexpr uint32_t WM_CHAR = 0x0102;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr uint32_t WM_MBUTTONUP = 0x0208;
inline constexpr uint32_t WM_USER = 0x0400;

// Packs a mouse position the way mouse messages carry it in lparam.
constexpr intptr_t MAKELPARAM(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(y) << 16) |
                                 (static_cast<uint32_t>(x) & 0xFFFF));
}

struct TMessage {
    HWND Window = 0;  // 0: a message for the thread rather than a window
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

using MessageHandler = std::function<void(const TMessage&)>;

// Queues a message; any thread. Returns false (nothing queued) when `window` is not 0 and
// names no live window.
bool PostMessage(HWND window, uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);
// Queues a message for the thread rather than a window (Window 0); any thread.
bool PostThreadMessage(uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);

// Dispatches, in order and on the calling thread, the messages queued before the call
// (messages posted while it runs wait for the next call, so a handler that posts cannot make
// it run forever). For a live window, mouse-button and key messages first reach that control's
// mouse and key events (x and y from lparam, key code from wparam); messages for windows that
// have gone are dropped. Then every registered handler sees the message. Returns the number
// of messages dispatched.
size_t ProcessMessages();
size_t PendingMessageCount();
// Drops every queued message (for tests).
void DiscardMessages();

// Registers a handler that sees every dispatched message; returns an id for removal (> 0),
// or 0 for an empty handler.
int AddMessageHandler(MessageHandler handler);
bool RemoveMessageHandler(int id);

// ---- Window handles ----------------------------------------------------------------------
bool IsWindow(HWND window);
// Screen rectangle of a live window, from its own and its parents' positions. Returns false
// and leaves `rect` untouched for an unknown window or a null `rect`.
bool GetWindowRect(HWND window, TRect* rect);
bool IsWindowVisible(HWND window);
// The window's parent: the host window it was placed in, else its parent control, else 0.
HWND GetParent(HWND window);
// Places `window` inside the window `parent` and returns the previous parent. With 0 the
// window goes back to its own parent control (a form becomes top level). Returns 0
// and changes nothing for an unknown window, an unknown parent, or a parent that lies inside
// `window` (which would make the window its own ancestor).
HWND SetParent(HWND window, HWND parent);

// ---- Desktop integration ----------------------------------------------------------------
// How a desktop backend joins the toolkit to its own event loop and windows. Each hook may be
// empty; installing replaces all of them and returns the previous ones.
struct DesktopHooks {
    // Runs at the start of ProcessMessages (not in nested calls), on the calling thread, to
    // process the desktop's own pending events first.
    std::function<void()> Pump;
    // Runs after a message was queued, on the posting thread, so the desktop can schedule a
    // dispatch from its event loop.
    std::function<void()> Posted;
    // Answers GetWindowRect from the desktop's real geometry; returns false to leave the
    // window to the toolkit's own geometry. Runs without the toolkit lock, on any thread.
    std::function<bool(HWND, TRect*)> WindowRect;
};
DesktopHooks SetDesktopHooks(DesktopHooks hooks);

// The classic application object: thin access to the services above.
class TApplication {
public:
    void ProcessMessages() { bx::ui::ProcessMessages(); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK) {
        return bx::ui::MessageBox(text, caption, flags);
    }
};
TApplication& Application();

}  // namespace bx::ui
