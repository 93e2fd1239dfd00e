// Message boxes, beeps, the screen cursor and the message queue.
#include <bxplatform/ui_controls.h>
#include <bxplatform/ui_services.h>

#include "window_table.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <map>

namespace bx::ui {

// ---- Message boxes -----------------------------------------------------------------------

std::vector<int> MessageBoxRequest::Answers() const {
    switch (Buttons()) {
        case MB_OK:
            return {IDOK};
        case MB_OKCANCEL:
            return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE:
            return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL:
            return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO:
            return {IDYES, IDNO};
        case MB_RETRYCANCEL:
            return {IDRETRY, IDCANCEL};
        case MB_CANCELTRYCONTINUE:
            return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
        default:
            return {};
    }
}

int MessageBoxRequest::DefaultAnswer() const {
    std::vector<int> answers = Answers();
    if (answers.empty()) return 0;
    size_t index = (Flags & 0xF00) >> 8;
    return index < answers.size() ? answers[index] : answers.front();
}

bool MessageBoxRequest::Offers(int answer) const {
    for (int a : Answers()) {
        if (a == answer) return true;
    }
    return false;
}

const char* AnswerName(int answer) {
    switch (answer) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDABORT:
            return "Abort";
        case IDRETRY:
            return "Retry";
        case IDIGNORE:
            return "Ignore";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        case IDTRYAGAIN:
            return "Try Again";
        case IDCONTINUE:
            return "Continue";
        default:
            return "?";
    }
}

std::string MessageBoxRequest::ShownCaption() const {
    return Caption.empty() ? "Error" : Caption;
}

namespace {

const char* IconName(unsigned icon) {
    switch (icon) {
        case MB_ICONERROR:
            return "error";
        case MB_ICONQUESTION:
            return "question";
        case MB_ICONWARNING:
            return "warning";
        case MB_ICONINFORMATION:
            return "information";
        default:
            return nullptr;
    }
}

struct BackendSlot {
    std::mutex mutex;
    std::shared_ptr<UiBackend> backend;
};

BackendSlot& Slot() {
    static BackendSlot slot;
    return slot;
}

std::shared_ptr<UiBackend> DefaultBackend() {
    static auto backend = [] {
        const char* answer = std::getenv("BX_UI_ANSWER");
        return std::make_shared<ConsoleUi>(answer ? StrToIntDef(answer, 0) : 0);
    }();
    return backend;
}

}  // namespace

std::shared_ptr<UiBackend> SetUiBackend(std::shared_ptr<UiBackend> backend) {
    BackendSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    std::shared_ptr<UiBackend> previous = slot.backend ? slot.backend : DefaultBackend();
    slot.backend = std::move(backend);
    return previous;
}

std::shared_ptr<UiBackend> CurrentUiBackend() {
    BackendSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    return slot.backend ? slot.backend : DefaultBackend();
}

int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxRequest box{owner, text, caption, flags};
    if (box.Answers().empty()) return 0;
    return CurrentUiBackend()->ShowMessageBox(box);
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return MessageBox(0, text, caption, flags);
}

bool MessageBeep(unsigned type) {
    CurrentUiBackend()->Beep(type);
    return true;
}

void Beep() {
    MessageBeep(MB_OK);
}

// ---- Scripted backend --------------------------------------------------------------------

void ScriptedUi::QueueAnswer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedUi::QueueAnswers(std::initializer_list<int> answers) {
    std::lock_guard lock(mutex_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void ScriptedUi::SetResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

size_t ScriptedUi::PendingAnswers() const {
    std::lock_guard lock(mutex_);
    return answers_.size();
}

std::vector<UiEvent> ScriptedUi::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<MessageBoxRequest> ScriptedUi::Boxes() const {
    std::lock_guard lock(mutex_);
    std::vector<MessageBoxRequest> boxes;
    for (const UiEvent& e : events_) {
        if (e.IsBox()) boxes.push_back(e.box);
    }
    return boxes;
}

std::vector<TCursor> ScriptedUi::Cursors() const {
    std::lock_guard lock(mutex_);
    return cursors_;
}

size_t ScriptedUi::BoxCount() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const UiEvent& e : events_) n += e.IsBox();
    return n;
}

size_t ScriptedUi::BeepCount() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const UiEvent& e : events_) n += e.IsBeep();
    return n;
}

void ScriptedUi::Clear() {
    std::lock_guard lock(mutex_);
    answers_.clear();
    events_.clear();
    cursors_.clear();
}

int ScriptedUi::ShowMessageBox(const MessageBoxRequest& box) {
    std::optional<int> queued;
    Responder responder;
    {
        std::lock_guard lock(mutex_);
        if (!answers_.empty()) {
            queued = answers_.front();
            answers_.pop_front();
        } else {
            responder = responder_;
        }
    }
    // The responder may itself show boxes or beep, so it runs without the lock.
    int answer = queued ? *queued : responder ? responder(box) : box.DefaultAnswer();
    if (!box.Offers(answer)) answer = box.DefaultAnswer();
    std::lock_guard lock(mutex_);
    UiEvent event;
    event.kind = UiEvent::Kind::MessageBox;
    event.box = box;
    event.answer = answer;
    events_.push_back(std::move(event));
    return answer;
}

void ScriptedUi::Beep(unsigned type) {
    std::lock_guard lock(mutex_);
    UiEvent event;
    event.kind = UiEvent::Kind::Beep;
    event.beepType = type;
    events_.push_back(std::move(event));
}

void ScriptedUi::CursorChanged(TCursor cursor) {
    std::lock_guard lock(mutex_);
    cursors_.push_back(cursor);
}

// ---- Console backend ---------------------------------------------------------------------

ConsoleUi::ConsoleUi(int answer, std::ostream* out) : answer_(answer), out_(out) {}

namespace {

bool IsRetry(int answer) {
    return answer == IDRETRY || answer == IDTRYAGAIN;
}

// What an automatic answer becomes once retrying has been given up: stop, else step back.
int GiveUpAnswer(const MessageBoxRequest& box) {
    if (box.Offers(IDABORT)) return IDABORT;
    if (box.Offers(IDCANCEL)) return IDCANCEL;
    return box.DefaultAnswer();
}

}  // namespace

int ConsoleUi::ShowMessageBox(const MessageBoxRequest& box) {
    std::ostream& out = out_ ? *out_ : std::cerr;
    std::lock_guard lock(mutex_);
    int answer = box.Offers(answer_) ? answer_ : box.DefaultAnswer();
    bool gaveUp = false;
    if (!IsRetry(answer)) {
        retries_ = 0;
    } else {
        if (box.Text != retryText_ || box.Caption != retryCaption_) {  // a new question
            retries_ = 0;
            retryText_ = box.Text;
            retryCaption_ = box.Caption;
        }
        if (retries_ < kMaxAutomaticRetries) {
            ++retries_;
        } else {
            gaveUp = retries_ == kMaxAutomaticRetries;  // said once per run of repeats
            retries_ = kMaxAutomaticRetries + 1;
            answer = GiveUpAnswer(box);
        }
    }
    out << "[message box] " << box.ShownCaption();
    if (const char* icon = IconName(box.Icon())) out << " (" << icon << ")";
    out << ": " << box.Text << " [";
    const char* separator = "";
    for (int a : box.Answers()) {
        out << separator << AnswerName(a);
        separator = "/";
    }
    out << "] -> " << AnswerName(answer) << "\n";
    if (gaveUp) {
        out << "[message box] gave up retrying after " << kMaxAutomaticRetries
            << " automatic retries: " << box.Text << "\n";
    }
    out.flush();
    return answer;
}

void ConsoleUi::Beep(unsigned type) {
    std::ostream& out = out_ ? *out_ : std::cerr;
    std::lock_guard lock(mutex_);
    out << "[beep] " << type << "\n";
    out.flush();
}

// ---- Screen cursor -----------------------------------------------------------------------

namespace {
std::atomic<TCursor> screen_cursor{crDefault};
std::atomic<HWND> active_form{0};
}  // namespace

TCursor TScreen::Cursor() const {
    return screen_cursor.load(std::memory_order_acquire);
}

void TScreen::SetCursor(TCursor cursor) {
    if (screen_cursor.exchange(cursor, std::memory_order_acq_rel) != cursor) {
        CurrentUiBackend()->CursorChanged(cursor);
    }
}

HWND TScreen::ActiveForm() const {
    return active_form.load(std::memory_order_acquire);
}

void TScreen::SetActiveForm(HWND form) {
    active_form.store(form, std::memory_order_release);
}

TScreen& Screen() {
    static TScreen screen;
    return screen;
}

TCursorGuard::TCursorGuard(TCursor cursor) : previous_(Screen().Cursor()) {
    Screen().SetCursor(cursor);
}

TCursorGuard::~TCursorGuard() {
    Screen().SetCursor(previous_);
}

TApplication& Application() {
    static TApplication application;
    return application;
}

// ---- Message queue -----------------------------------------------------------------------

namespace {

struct QueuedMessage {
    uint64_t sequence;
    TMessage message;
};

struct MessageQueue {
    std::mutex mutex;
    std::deque<QueuedMessage> queue;
    uint64_t next_sequence = 1;
    std::map<int, std::shared_ptr<MessageHandler>> handlers;
    int next_handler = 1;
};

MessageQueue& Queue() {
    static MessageQueue queue;
    return queue;
}

struct HookSlot {
    std::mutex mutex;
    DesktopHooks hooks;
    std::atomic<bool> pump{false}, posted{false}, rect{false};  // which hooks are set
};

HookSlot& Hooks() {
    static HookSlot slot;
    return slot;
}

// Copies one hook out, so it runs without the slot's lock.
template <class F>
F HookCopy(F DesktopHooks::*member, std::atomic<bool> HookSlot::*flag) {
    HookSlot& slot = Hooks();
    if (!(slot.*flag).load(std::memory_order_acquire)) return {};
    std::lock_guard lock(slot.mutex);
    return slot.hooks.*member;
}

bool Enqueue(const TMessage& message) {
    {
        MessageQueue& q = Queue();
        std::lock_guard lock(q.mutex);
        q.queue.push_back({q.next_sequence++, message});
    }
    if (auto posted = HookCopy(&DesktopHooks::Posted, &HookSlot::posted)) posted();
    return true;
}

thread_local int dispatch_depth = 0;  // ProcessMessages calls under way on this thread

// Mouse and key messages reach the addressed control's events, as the window would see them.
void DeliverToControl(TControl& control, const TMessage& m) {
    const int x = static_cast<int16_t>(m.LParam & 0xFFFF);
    const int y = static_cast<int16_t>((m.LParam >> 16) & 0xFFFF);
    switch (m.Msg) {
        case WM_LBUTTONDOWN:
            control.OnMouseDown(&control, mbLeft, ssLeft, x, y);
            break;
        case WM_RBUTTONDOWN:
            control.OnMouseDown(&control, mbRight, ssRight, x, y);
            break;
        case WM_MBUTTONDOWN:
            control.OnMouseDown(&control, mbMiddle, ssMiddle, x, y);
            break;
        case WM_LBUTTONUP:
            control.OnMouseUp(&control, mbLeft, 0, x, y);
            break;
        case WM_RBUTTONUP:
            control.OnMouseUp(&control, mbRight, 0, x, y);
            break;
        case WM_MBUTTONUP:
            control.OnMouseUp(&control, mbMiddle, 0, x, y);
            break;
        case WM_KEYDOWN: {
            uint16_t key = static_cast<uint16_t>(m.WParam);
            control.OnKeyDown(&control, key, 0);
            break;
        }
        case WM_KEYUP: {
            uint16_t key = static_cast<uint16_t>(m.WParam);
            control.OnKeyUp(&control, key, 0);
            break;
        }
        case WM_CHAR: {
            char ch = static_cast<char>(m.WParam);
            control.OnKeyPress(&control, ch);
            break;
        }
        default:
            break;
    }
}

}  // namespace

bool PostMessage(HWND window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    if (window != 0 && !IsWindow(window)) return false;
    return Enqueue(TMessage{window, msg, wparam, lparam});
}

bool PostThreadMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    return Enqueue(TMessage{0, msg, wparam, lparam});
}

size_t ProcessMessages() {
    struct Depth {
        Depth() { ++dispatch_depth; }
        ~Depth() { --dispatch_depth; }
    } depth;
    if (dispatch_depth == 1) {
        if (auto pump = HookCopy(&DesktopHooks::Pump, &HookSlot::pump)) pump();
    }
    MessageQueue& q = Queue();
    uint64_t last;
    {
        std::lock_guard lock(q.mutex);
        last = q.next_sequence - 1;
    }
    size_t dispatched = 0;
    for (;;) {
        TMessage message;
        std::vector<std::shared_ptr<MessageHandler>> handlers;
        {
            // One message at a time, so a handler that calls ProcessMessages itself takes the
            // next ones in order rather than seeing them twice.
            std::lock_guard lock(q.mutex);
            if (q.queue.empty() || q.queue.front().sequence > last) break;
            message = q.queue.front().message;
            q.queue.pop_front();
            for (auto& [id, handler] : q.handlers) handlers.push_back(handler);
        }
        if (message.Window != 0) {
            TControl* control;
            {
                std::lock_guard lock(detail::ToolkitMutex());
                control = WindowAccess::FindLocked(message.Window);
            }
            if (control == nullptr) continue;  // the window has gone
            DeliverToControl(*control, message);
        }
        for (const auto& handler : handlers) (*handler)(message);
        ++dispatched;
    }
    return dispatched;
}

size_t PendingMessageCount() {
    MessageQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    return q.queue.size();
}

void DiscardMessages() {
    MessageQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    q.queue.clear();
}

DesktopHooks SetDesktopHooks(DesktopHooks hooks) {
    HookSlot& slot = Hooks();
    std::lock_guard lock(slot.mutex);
    DesktopHooks previous = std::move(slot.hooks);
    slot.hooks = std::move(hooks);
    slot.pump.store(static_cast<bool>(slot.hooks.Pump), std::memory_order_release);
    slot.posted.store(static_cast<bool>(slot.hooks.Posted), std::memory_order_release);
    slot.rect.store(static_cast<bool>(slot.hooks.WindowRect), std::memory_order_release);
    return previous;
}

bool DesktopWindowRect(HWND window, TRect* rect) {
    auto hook = HookCopy(&DesktopHooks::WindowRect, &HookSlot::rect);
    return hook && hook(window, rect);
}

int AddMessageHandler(MessageHandler handler) {
    if (!handler) return 0;
    MessageQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    int id = q.next_handler++;
    q.handlers.emplace(id, std::make_shared<MessageHandler>(std::move(handler)));
    return id;
}

bool RemoveMessageHandler(int id) {
    MessageQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    return q.handlers.erase(id) > 0;
}

}  // namespace bx::ui
