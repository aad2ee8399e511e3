#include "window/controls.h"

#include "window/runtime.h"
#include "window/text_box_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include <cmath>
#include <utility>

namespace rt {

using namespace Qt::StringLiterals;

int toPixels(Twips twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

Twips toTwips(int pixels) {
    return static_cast<Twips>(pixels) * kTwipsPerPixel;
}

QString toCrLf(QStringView text) {
    // Inside a text document every paragraph break is U+2029; a lone LF can
    // only come from a plain string. Both become CR LF, and nothing else is
    // touched, so U+2028 and no-break spaces keep their identity.
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QChar::ParagraphSeparator || c == u'\n') {
            out += u"\r\n";
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += u"\r\n";
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString fromCrLf(QStringView text) {
    QString out = text.toString();
    out.replace(u"\r\n"_s, u"\n"_s);
    return out;
}

namespace {

QRect pixelGeometry(const ControlDescription& d) {
    return {toPixels(d.left), toPixels(d.top), toPixels(d.width), toPixels(d.height)};
}

QFont fontFrom(const FontDescription& d) {
    QFont font;
    setFace(font, d.name);
    font.setPointSizeF(d.points);
    // The description's weights are the Windows scale of 100 to 900, the
    // same scale that Qt 6 uses.
    font.setWeight(static_cast<QFont::Weight>(d.weight));
    return font;
}

// A label raises Click when the mouse is released over it after a press on
// it, and DblClick on the second press of a double-click. The release that
// ends a double-click raises nothing, so a double-click gives exactly one
// Click followed by one DblClick.
class ClickLabel : public QLabel {
public:
    ClickLabel(QWidget* parent, std::function<void()> onClick, std::function<void()> onDblClick)
        : QLabel(parent), onClick_(std::move(onClick)), onDblClick_(std::move(onDblClick)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool clicked = pressed_ && event->button() == Qt::LeftButton &&
                             rect().contains(event->position().toPoint());
        pressed_ = false;
        event->accept();
        if (clicked) {
            onClick_();
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        pressed_ = false;
        event->accept();
        if (event->button() == Qt::LeftButton) {
            onDblClick_();
        }
    }

private:
    std::function<void()> onClick_;
    std::function<void()> onDblClick_;
    bool pressed_ = false;
};

// An image control draws its picture stretched to its own size, pixel for
// pixel, and takes every mouse event in its rectangle so that nothing it
// covers sees a click.
class ImageView : public QWidget {
public:
    ImageView(QWidget* parent, QPixmap picture) : QWidget(parent), picture_(std::move(picture)) {
        setAttribute(Qt::WA_OpaquePaintEvent, false);
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        // No smoothing: an enlarged icon must show its pixels as squares.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawPixmap(rect(), picture_);
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }

private:
    QPixmap picture_;
};

// Screen readers see an image control as an image, named as its
// description names it.
class ImageAccessible : public QAccessibleWidget, public QAccessibleImageInterface {
public:
    explicit ImageAccessible(QWidget* view) : QAccessibleWidget(view, QAccessible::Graphic) {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ImageInterface) {
            return static_cast<QAccessibleImageInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString imageDescription() const override { return text(QAccessible::Name); }
    QSize imageSize() const override { return widget()->size(); }
    QPoint imagePosition() const override { return widget()->mapToGlobal(QPoint(0, 0)); }
};

QAccessibleInterface* controlAccessible(const QString& className, QObject* object) {
    if (auto* view = dynamic_cast<ImageView*>(object)) {
        return new ImageAccessible(view);
    }
    return TextBoxAccessible::create(className, object);
}

CommonDialog::Script& dialogScript() {
    static CommonDialog::Script script;
    return script;
}

} // namespace

QString withoutMnemonic(const QString& caption) {
    // Japanese captions carry the access key in parentheses after the word,
    // "閉じる(&C)"; the key is announced apart, so the name drops it whole.
    // Elsewhere only the marker goes, and "&&" stands for one "&".
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'(' && i + 3 < caption.size() && caption[i + 1] == u'&' &&
            caption[i + 2] != u'&' && caption[i + 3] == u')') {
            while (!out.isEmpty() && out.back().isSpace()) {
                out.chop(1);
            }
            i += 3;
        } else if (caption[i] == u'&' && i + 1 < caption.size()) {
            out += caption[++i];
        } else {
            out += caption[i];
        }
    }
    return out;
}

Control::Control(const ControlDescription& description)
    : name_(description.name), kind_(description.kind) {
    setObjectName(description.name);
    static const bool installed = [] {
        QAccessible::installFactory(controlAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

// ---------------------------------------------------------------- Label

Label::Label(const ControlDescription& d, QWidget* parent) : Control(d) {
    auto* label = new ClickLabel(
        parent, [this] { emit click(); }, [this] { emit dblClick(); });
    label_ = label;
    label->setObjectName(d.name);
    label->setGeometry(pixelGeometry(d));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The label keeps its size; a line wider than it wraps inside it.
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    if (d.font) {
        label->setFont(fontFrom(*d.font));
    }
    setCaption(d.caption);
}

QString Label::caption() const {
    return toCrLf(label_->text());
}

void Label::setCaption(const QString& caption) {
    label_->setText(fromCrLf(caption));
}

QWidget* Label::widget() const {
    return label_;
}

// ---------------------------------------------------------------- TextBox

TextBox::TextBox(const ControlDescription& d, QWidget* parent) : Control(d) {
    edit_ = new TextBoxEdit(parent);
    edit_->setObjectName(d.name);
    edit_->setGeometry(pixelGeometry(d));
    edit_->setVerticalScrollBarPolicy(d.verticalScrollBar ? Qt::ScrollBarAlwaysOn
                                                          : Qt::ScrollBarAlwaysOff);
    edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit_->setLineWrapMode(d.multiLine ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    // Tab moves the focus on, as it does in every other text box of the
    // system; the text holds no tab characters typed by accident.
    edit_->setTabChangesFocus(true);
    edit_->setFocusPolicy(d.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    if (d.buttonFaceBackground) {
        QPalette palette = edit_->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        edit_->setPalette(palette);
    }
    if (d.font) {
        edit_->setFont(fontFrom(*d.font));
    }
    edit_->setAccessibleName(d.accessibleName);
    setText(d.text);
}

QString TextBox::text() const {
    return edit_->text();
}

void TextBox::setText(const QString& text) {
    edit_->setText(text);
}

QString TextBox::fontName() const {
    return edit_->font().family();
}

void TextBox::setFontName(const QString& name) {
    QFont font = edit_->font();
    setFace(font, name);
    edit_->setFont(font);
}

float TextBox::fontSize() const {
    return static_cast<float>(edit_->font().pointSizeF());
}

void TextBox::setFontSize(float points) {
    if (!(points > 0.0F) || points > 2048.0F) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    QFont font = edit_->font();
    font.setPointSizeF(points);
    edit_->setFont(font);
}

QWidget* TextBox::widget() const {
    return edit_;
}

// ---------------------------------------------------------------- CommandButton

CommandButton::CommandButton(const ControlDescription& d, QWidget* parent) : Control(d) {
    button_ = new QPushButton(d.caption, parent);
    button_->setObjectName(d.name);
    button_->setGeometry(pixelGeometry(d));
    button_->setEnabled(d.enabled);
    button_->setFocusPolicy(d.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    // As on the system's own dialogs, Enter presses the button that has the
    // focus, and the default button when the focus is elsewhere.
    button_->setAutoDefault(true);
    button_->setDefault(d.defaultButton);
    // The name a screen reader speaks; the access key is told as the
    // button's shortcut.
    button_->setAccessibleName(d.accessibleName.isEmpty() ? withoutMnemonic(d.caption)
                                                          : d.accessibleName);
    connect(button_, &QPushButton::clicked, this, &CommandButton::click);
}

bool CommandButton::enabled() const {
    return button_->isEnabled();
}

void CommandButton::setEnabled(bool enabled) {
    button_->setEnabled(enabled);
}

QString CommandButton::caption() const {
    return button_->text();
}

bool CommandButton::isDefault() const {
    return button_->isDefault();
}

QWidget* CommandButton::widget() const {
    return button_;
}

// ---------------------------------------------------------------- PictureBox

PictureBox::PictureBox(const ControlDescription& d, QWidget* parent) : Control(d) {
    frame_ = new QFrame(parent);
    frame_->setObjectName(d.name);
    frame_->setGeometry(pixelGeometry(d));
    if (d.fixedSingleBorder) {
        frame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame_->setLineWidth(1);
    }
    frame_->setAutoFillBackground(true);
    frame_->setBackgroundRole(QPalette::Button);
    auto* inside = new QWidget(frame_);
    inside->setObjectName(d.name + u"_inside"_s);
    inside->setGeometry(frame_->contentsRect());
    frame_->setVisible(d.visible);
}

bool PictureBox::visible() const {
    return !frame_->isHidden();
}

void PictureBox::setVisible(bool visible) {
    frame_->setVisible(visible);
}

QWidget* PictureBox::inner() const {
    return frame_->findChild<QWidget*>();
}

QWidget* PictureBox::widget() const {
    return frame_;
}

// ---------------------------------------------------------------- Image

Image::Image(const ControlDescription& d, QWidget* parent) : Control(d) {
    view_ = new ImageView(parent, QPixmap(d.picture));
    view_->setObjectName(d.name);
    view_->setGeometry(pixelGeometry(d));
    view_->setAccessibleName(d.accessibleName);
}

Twips Image::width() const {
    return toTwips(view_->width());
}

Twips Image::height() const {
    return toTwips(view_->height());
}

void Image::setWidth(Twips width) {
    if (!(width >= 0.0F) || width > 1.0e6F) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    // Only the width changes: the left edge stays, so the image grows to
    // the right.
    view_->resize(toPixels(width), view_->height());
}

void Image::setHeight(Twips height) {
    if (!(height >= 0.0F) || height > 1.0e6F) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    view_->resize(view_->width(), toPixels(height));
}

QWidget* Image::widget() const {
    return view_;
}

// ---------------------------------------------------------------- Timer

Timer::Timer(const ControlDescription& d) : Control(d), timer_(new QTimer(this)) {
    // A precise timer keeps the period from drifting over a long run.
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &Timer::timer);
}

int Timer::interval() const {
    return timer_->isActive() ? timer_->interval() : 0;
}

void Timer::setInterval(int milliseconds) {
    if (milliseconds < 0 || milliseconds > 65535) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    if (milliseconds == 0) {
        timer_->stop();
    } else {
        timer_->start(milliseconds);
    }
}

// ---------------------------------------------------------------- CommonDialog

void CommonDialog::setScript(Script script) {
    dialogScript() = std::move(script);
}

CommonDialog::CommonDialog(const ControlDescription& d, QWidget* dialogParent)
    : Control(d), dialogParent_(dialogParent) {}

void CommonDialog::setFilter(const QString& filter) {
    filter_ = filter;
}

QString CommonDialog::toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(u';', u' ');
        // Qt reads the patterns from the last parentheses of an entry. A
        // description that already shows its patterns is used as it is.
        if (description.endsWith(u'(' + pattern + u')')) {
            entries << description;
        } else {
            entries << description + u" ("_s + pattern + u')';
        }
    }
    return entries.join(u";;"_s);
}

void CommonDialog::showOpen() {
    show(Mode::Open);
}

void CommonDialog::showSave() {
    show(Mode::Save);
}

void CommonDialog::show(Mode mode) {
    const QString qtFilter = toQtFilter(filter_);
    if (dialogScript()) {
        fileName_ = dialogScript()(mode, qtFilter);
        return;
    }
    // No default suffix: a name typed without an extension is used as typed.
    fileName_ = mode == Mode::Open
                    ? QFileDialog::getOpenFileName(dialogParent_, QString(), QString(), qtFilter)
                    : QFileDialog::getSaveFileName(dialogParent_, QString(), QString(), qtFilter);
}

} // namespace rt
