// The widget each kind of control becomes, and how the model's state is shown on it.
#include "desktop_internal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>

namespace bx::ui::desktop::internal {

// ---- Conversions -------------------------------------------------------------------------

QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toStdString();
}

QColor ToQColor(TColor color) {
    const auto value = static_cast<uint32_t>(color);
    if ((value & 0xFF000000u) != 0) return {};
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

QPixmap ToPixmap(const TBitmap& bitmap, bool transparent) {
    if (bitmap.Empty() || bitmap.Pixels.size() < static_cast<size_t>(bitmap.Width) *
                                                     static_cast<size_t>(bitmap.Height)) {
        return {};
    }
    QImage image(bitmap.Width, bitmap.Height, QImage::Format_ARGB32);
    const uint32_t clear = bitmap.Pixels[static_cast<size_t>((bitmap.Height - 1) * bitmap.Width)];
    for (int y = 0; y < bitmap.Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.Width; ++x) {
            const uint32_t rgb =
                bitmap.Pixels[static_cast<size_t>(y * bitmap.Width + x)] & 0xFFFFFF;
            line[x] = transparent && rgb == (clear & 0xFFFFFF) ? 0u : (0xFF000000u | rgb);
        }
    }
    return QPixmap::fromImage(image);
}

QString ToQtMask(const std::string& mask) {
    const size_t end = mask.find(';');
    const std::string positions = mask.substr(0, end);
    char blank = '_';
    if (end != std::string::npos) {
        const size_t second = mask.find(';', end + 1);
        if (second != std::string::npos && second + 1 < mask.size()) blank = mask[second + 1];
    }
    QString out;
    for (size_t i = 0; i < positions.size(); ++i) {
        const char c = positions[i];
        switch (c) {
            case '!':  // trims blanks in the classic toolkit; Qt has nothing to say about it
                break;
            case '>':
            case '<':
                out += QChar(c);
                break;
            case '0':
                out += '9';  // a digit is required
                break;
            case '9':
                out += '0';  // a digit may be given
                break;
            case '#':
                out += '#';
                break;
            case 'L':
                out += 'A';
                break;
            case 'l':
                out += 'a';
                break;
            case 'A':
                out += 'N';
                break;
            case 'a':
                out += 'n';
                break;
            case 'C':
                out += 'X';
                break;
            case 'c':
                out += 'x';
                break;
            case '\\':
                if (i + 1 < positions.size()) {
                    out += '\\';
                    out += QChar(positions[++i]);
                }
                break;
            default:
                // A literal; escape the characters Qt would read as classes or modifiers.
                if (std::string_view("AaNnXx90Dd#HhBb><![]{}\\").find(c) !=
                    std::string_view::npos) {
                    out += '\\';
                }
                out += QChar(c);
                break;
        }
    }
    if (out.isEmpty()) return {};
    return out + ';' + QChar(blank);
}

// ---- Widgets of our own ------------------------------------------------------------------

UpDownWidget::UpDownWidget() {
    auto* up_button = new QToolButton(this);
    up_button->setArrowType(Qt::UpArrow);
    up_button->setAutoRepeat(true);
    auto* down_button = new QToolButton(this);
    down_button->setArrowType(Qt::DownArrow);
    down_button->setAutoRepeat(true);
    up = up_button;
    down = down_button;
}

void UpDownWidget::resizeEvent(QResizeEvent* /*event*/) {
    const int half = height() / 2;
    up->setGeometry(0, 0, width(), half);
    down->setGeometry(0, half, width(), height() - half);
}

void PanelWidget::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (caption.isEmpty()) return;
    QPainter painter(this);
    painter.drawText(rect(), Qt::AlignCenter, caption);
}

void ShapeWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(brush);
    painter.setPen(pen);
    QRect area = rect().adjusted(0, 0, -1, -1);
    if (shape == stSquare || shape == stCircle) {
        const int side = std::min(area.width(), area.height());
        area = QRect(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
    }
    switch (shape) {
        case stEllipse:
        case stCircle:
            painter.drawEllipse(area);
            break;
        case stRoundRect:
            painter.drawRoundedRect(area, area.width() / 4.0, area.height() / 4.0);
            break;
        default:
            painter.drawRect(area);
            break;
    }
}

// ---- Kinds -------------------------------------------------------------------------------

Kind KindOf(const TControl& c) {
    if (dynamic_cast<const TForm*>(&c)) return Kind::Form;
    if (dynamic_cast<const TTabSheet*>(&c)) return Kind::TabSheet;
    if (dynamic_cast<const TPageControl*>(&c)) return Kind::PageControl;
    if (dynamic_cast<const TButton*>(&c)) return Kind::Button;  // also TBitBtn
    if (dynamic_cast<const TSpeedButton*>(&c)) return Kind::SpeedButton;
    if (dynamic_cast<const TCheckBox*>(&c)) return Kind::CheckBox;
    if (dynamic_cast<const TRadioButton*>(&c)) return Kind::RadioButton;
    if (dynamic_cast<const TMemo*>(&c)) return Kind::Memo;
    if (dynamic_cast<const TCustomEdit*>(&c)) return Kind::Edit;  // also TMaskEdit
    if (dynamic_cast<const TScrollBar*>(&c)) return Kind::ScrollBar;
    if (dynamic_cast<const TUpDown*>(&c)) return Kind::UpDown;
    if (dynamic_cast<const TComboBox*>(&c)) return Kind::ComboBox;
    if (dynamic_cast<const TGroupBox*>(&c)) return Kind::GroupBox;
    if (dynamic_cast<const TPanel*>(&c)) return Kind::Panel;
    if (dynamic_cast<const TShape*>(&c)) return Kind::Shape;
    if (dynamic_cast<const TImage*>(&c)) return Kind::Image;
    if (dynamic_cast<const TLabel*>(&c)) return Kind::Label;
    return Kind::Other;
}

QWidget* MakeWidget(Kind kind) {
    switch (kind) {
        case Kind::Label: {
            auto* label = new QLabel;
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case Kind::Button:
            return new QPushButton;
        case Kind::SpeedButton: {
            auto* button = new QToolButton;
            button->setAutoRaise(true);
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            return button;
        }
        case Kind::CheckBox:
            return new QCheckBox;
        case Kind::RadioButton: {
            // The model keeps radio buttons exclusive (and can uncheck them all, which Qt's
            // own exclusivity refuses), so the widget only shows its state.
            auto* radio = new QRadioButton;
            radio->setAutoExclusive(false);
            return radio;
        }
        case Kind::Edit:
            return new QLineEdit;
        case Kind::Memo:
            return new QPlainTextEdit;
        case Kind::ScrollBar:
            return new QScrollBar;
        case Kind::UpDown:
            return new UpDownWidget;
        case Kind::ComboBox:
            return new QComboBox;
        case Kind::GroupBox:
            return new QGroupBox;
        case Kind::Panel: {
            auto* panel = new PanelWidget;
            panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
            return panel;
        }
        case Kind::Shape:
            return new ShapeWidget;
        case Kind::PageControl:
            return new QTabWidget;
        case Kind::Image: {
            auto* image = new QLabel;
            image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return image;
        }
        default:
            return new QWidget;
    }
}

namespace {

QCursor ToQCursor(TCursor cursor) {
    switch (cursor) {
        case crCross:
            return Qt::CrossCursor;
        case crIBeam:
            return Qt::IBeamCursor;
        case crHourGlass:
            return Qt::WaitCursor;
        default:
            return Qt::ArrowCursor;
    }
}

// Colours and font. A control with the default font takes its parent's, as controls with
// ParentFont do; system colours leave the style's colours in place.
void RefreshAppearance(Kind kind, const TControl& c, QWidget* w) {
    const TFont font = c.Font();
    if (kind == Kind::Form || !(font == TFont{})) {
        QFont qfont(ToQt(font.Name));
        if (font.Size > 0) qfont.setPointSize(font.Size);
        qfont.setBold((font.Style & fsBold) != 0);
        qfont.setItalic((font.Style & fsItalic) != 0);
        qfont.setUnderline((font.Style & fsUnderline) != 0);
        qfont.setStrikeOut((font.Style & fsStrikeOut) != 0);
        w->setFont(qfont);
    } else {
        w->setFont(QFont());  // inherits
    }

    QPalette palette;  // sets only the roles named below; the rest are inherited
    if (QColor text = ToQColor(font.Color); text.isValid()) {
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::ButtonText, text);
    }
    const QColor back = kind == Kind::Shape ? QColor() : ToQColor(c.Color());
    if (back.isValid()) {
        palette.setColor(QPalette::Window, back);
        palette.setColor(QPalette::Base, back);
        palette.setColor(QPalette::Button, back);
    }
    w->setPalette(palette);
    w->setAutoFillBackground(back.isValid());

    w->setToolTip(c.ShowHint() ? ToQt(c.Hint()) : QString());
    if (c.Cursor() == crDefault) {
        w->unsetCursor();
    } else {
        w->setCursor(ToQCursor(c.Cursor()));
    }
    if (auto* shape = dynamic_cast<ShapeWidget*>(w)) {
        const auto& model = static_cast<const TShape&>(c);
        shape->brush = ToQColor(model.BrushColor());
        shape->pen = ToQColor(model.PenColor());
        shape->update();
    }
}

QTabWidget* TabsOf(const TTabSheet& sheet, QWidget* page) {
    for (QWidget* p = page->parentWidget(); p != nullptr; p = p->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(p)) return tabs;
    }
    (void)sheet;
    return nullptr;
}

void RefreshText(Kind kind, TControl& c, QWidget* w) {
    const QString text = ToQt(c.Caption());
    switch (kind) {
        case Kind::Form:
            w->setWindowTitle(text);
            break;
        case Kind::Label:
            static_cast<QLabel*>(w)->setText(text);
            break;
        case Kind::Button:
        case Kind::SpeedButton:
        case Kind::CheckBox:
        case Kind::RadioButton:
            static_cast<QAbstractButton*>(w)->setText(text);
            break;
        case Kind::Edit: {
            auto* edit = static_cast<QLineEdit*>(w);
            if (edit->text() != text) edit->setText(text);
            break;
        }
        case Kind::Memo: {
            auto* memo = static_cast<QPlainTextEdit*>(w);
            QString lines = text;
            lines.replace("\r\n", "\n");
            if (memo->toPlainText() != lines) memo->setPlainText(lines);
            break;
        }
        case Kind::ComboBox: {
            auto* combo = static_cast<QComboBox*>(w);
            if (combo->isEditable() && combo->currentText() != text) combo->setEditText(text);
            break;
        }
        case Kind::GroupBox:
            static_cast<QGroupBox*>(w)->setTitle(text);
            break;
        case Kind::Panel:
            static_cast<PanelWidget*>(w)->caption = text;
            w->update();
            break;
        case Kind::TabSheet:
            if (QTabWidget* tabs = TabsOf(static_cast<TTabSheet&>(c), w)) {
                tabs->setTabText(tabs->indexOf(w), text);
            }
            break;
        default:
            break;
    }
}

void RefreshValue(Kind kind, TControl& c, QWidget* w) {
    switch (kind) {
        case Kind::Button:
            if (auto* bit = dynamic_cast<TBitBtn*>(&c)) {
                const TBitmap glyph = bit->Glyph();
                auto* button = static_cast<QPushButton*>(w);
                button->setIcon(QIcon(ToPixmap(glyph, true)));
                if (!glyph.Empty()) button->setIconSize(QSize(glyph.Width, glyph.Height));
            }
            break;
        case Kind::SpeedButton: {
            const TBitmap glyph = static_cast<TSpeedButton&>(c).Glyph();
            auto* button = static_cast<QToolButton*>(w);
            button->setIcon(QIcon(ToPixmap(glyph, true)));
            if (!glyph.Empty()) button->setIconSize(QSize(glyph.Width, glyph.Height));
            break;
        }
        case Kind::CheckBox:
        case Kind::RadioButton:
            static_cast<QAbstractButton*>(w)->setChecked(static_cast<TButtonControl&>(c).Checked());
            break;
        case Kind::Edit: {
            auto& model = static_cast<TCustomEdit&>(c);
            auto* edit = static_cast<QLineEdit*>(w);
            edit->setReadOnly(model.ReadOnly());
            edit->setMaxLength(model.MaxLength() > 0 ? model.MaxLength() : 32767);
            if (auto* masked = dynamic_cast<TMaskEdit*>(&c)) {
                const QString mask = ToQtMask(masked->EditMask());
                if (edit->inputMask() != mask) edit->setInputMask(mask);
            }
            RefreshText(kind, c, w);  // a new mask or length may have changed the text
            break;
        }
        case Kind::Memo:
            static_cast<QPlainTextEdit*>(w)->setReadOnly(static_cast<TCustomEdit&>(c).ReadOnly());
            break;
        case Kind::ScrollBar: {
            auto& model = static_cast<TScrollBar&>(c);
            auto* bar = static_cast<QScrollBar*>(w);
            bar->setOrientation(model.Kind() == sbVertical ? Qt::Vertical : Qt::Horizontal);
            bar->setRange(model.Min(), model.Max());
            bar->setSingleStep(model.SmallChange());
            bar->setPageStep(model.LargeChange());
            bar->setValue(model.Position());
            break;
        }
        case Kind::ComboBox: {
            auto& model = static_cast<TComboBox&>(c);
            auto* combo = static_cast<QComboBox*>(w);
            combo->setEditable(model.Style() == csDropDown);
            QStringList items;
            for (const std::string& item : model.Items()) items << ToQt(item);
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
            if (shown != items) {
                combo->clear();
                combo->addItems(items);
            }
            combo->setCurrentIndex(model.ItemIndex());
            RefreshText(kind, c, w);
            break;
        }
        case Kind::Shape:
            static_cast<ShapeWidget*>(w)->shape = static_cast<TShape&>(c).Shape();
            w->update();
            break;
        case Kind::Image:
            static_cast<QLabel*>(w)->setPixmap(ToPixmap(static_cast<TImage&>(c).Picture(), false));
            break;
        default:
            break;
    }
}

void RefreshPages(TPageControl& model, QTabWidget* tabs) {
    TTabSheet* active = model.ActivePage();
    for (TTabSheet* page : model.Pages()) {
        for (int i = 0; i < tabs->count(); ++i) {
            QWidget* widget = tabs->widget(i);
            if (widget->property("bxHandle").toUInt() != page->Handle()) continue;
            tabs->setTabVisible(i, page->TabVisible());
            if (page == active) tabs->setCurrentIndex(i);
        }
    }
}

}  // namespace

void RefreshWidget(Kind kind, TControl& c, QWidget* w, ControlChanges what) {
    if (what & ccText) RefreshText(kind, c, w);
    if (what & ccValue) RefreshValue(kind, c, w);
    if (what & ccAppearance) RefreshAppearance(kind, c, w);
    if (what & ccState) w->setEnabled(c.Enabled());
    if ((what & ccPages) && kind == Kind::PageControl) {
        RefreshPages(static_cast<TPageControl&>(c), static_cast<QTabWidget*>(w));
    }
}

// ---- GUI queue ---------------------------------------------------------------------------

// The GUI thread's receiver of the wake-up events.
class GuiQueue::Context : public QObject {
public:
    explicit Context(GuiQueue& queue) : queue_(queue) {}

    static QEvent::Type WakeUp() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    bool event(QEvent* e) override {
        bool wakeUp;
        {
            // Taken before the event is read: the poster made it under this lock.
            std::lock_guard lock(queue_.mutex_);
            wakeUp = e->type() == WakeUp();
        }
        if (!wakeUp) return QObject::event(e);
        queue_.RunNext();
        return true;
    }

private:
    GuiQueue& queue_;
};

GuiQueue::GuiQueue() : context_(new Context(*this)), thread_(std::this_thread::get_id()) {}

GuiQueue::~GuiQueue() {
    // Closed on the GUI thread by the backend; a queue never closed leaks its context rather
    // than deleting it from another thread.
}

bool GuiQueue::Post(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    if (context_ == nullptr) return false;
    calls_.push_back(std::move(f));
    QCoreApplication::postEvent(context_, new QEvent(Context::WakeUp()));
    return true;
}

void GuiQueue::RunNext() {
    std::function<void()> call;
    {
        std::lock_guard lock(mutex_);
        if (calls_.empty()) return;
        call = std::move(calls_.front());
        calls_.pop_front();
    }
    call();
}

bool GuiQueue::OnGuiThread() const {
    return std::this_thread::get_id() == thread_;
}

void GuiQueue::Close() {
    Context* context;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        context = context_;
        context_ = nullptr;
        dropped.swap(calls_);
    }
    delete context;  // and its wake-up events with it
}

}  // namespace bx::ui::desktop::internal
