#include "window/form.h"

#include "window/runtime_error.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace rt {

using namespace Qt::StringLiterals;

namespace {

// Characters of scripts that are written without spaces between words, for
// which a line break inside a sentence joins without a space.
bool isWide(QChar c) {
    return c.unicode() >= 0x2E80 && !c.isSpace();
}

// A text that the label wraps by hand, as the original's fixed-width
// message does, read as the sentences it holds: a single line break inside
// a paragraph is taken out, a blank line between paragraphs kept.
QString unwrapped(const QString& caption) {
    const QStringList paragraphs = fromCrLf(caption).split(u"\n\n"_s);
    QStringList out;
    for (const QString& paragraph : paragraphs) {
        QString joined;
        for (const QString& piece : paragraph.split(u'\n')) {
            const QString line = piece.trimmed();
            if (!joined.isEmpty() && !line.isEmpty() && !isWide(joined.back()) &&
                !isWide(line.front())) {
                joined += u' ';
            }
            joined += line;
        }
        if (!joined.isEmpty()) {
            out << joined;
        }
    }
    return out.join(u"\n\n"_s);
}

} // namespace

// The top-level widget of a form. It stands for the window's own surface:
// the system's button-face background, a fixed single border, and the close
// box that unloads the form.
class FormWindow : public QWidget {
public:
    explicit FormWindow(Form& form)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
          form_(form) {
        setBackgroundRole(QPalette::Button);
        setAutoFillBackground(true);
    }
    const Form& form() const { return form_; }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        form_.unload();
    }

    // Enter that no control took presses the default button. A multi-line
    // text box takes Enter itself for a line break, and a focused button
    // presses itself, so this only runs when the focus is on neither.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
                for (auto* button : findChildren<QPushButton*>()) {
                    if (button->isDefault() && button->isVisible() && button->isEnabled()) {
                        button->click();
                        event->accept();
                        return;
                    }
                }
            }
        }
        QWidget::keyPressEvent(event);
    }

private:
    Form& form_;
};

// A form that carries a message reads as the system's message boxes do: an
// alert named by its title, whose description is the message.
class FormAccessible : public QAccessibleWidget {
public:
    explicit FormAccessible(FormWindow* window)
        : QAccessibleWidget(window, QAccessible::AlertMessage) {}
    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Description && widget()->accessibleDescription().isEmpty()) {
            return unwrapped(static_cast<const FormWindow*>(widget())->form().message());
        }
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface* Form::accessible(const QString& /*className*/, QObject* object) {
    if (auto* window = dynamic_cast<FormWindow*>(object);
        window != nullptr && !window->form().description_.messageLabel.isEmpty()) {
        return new FormAccessible(window);
    }
    return nullptr;
}

QString Form::message() const {
    for (const auto& c : controls_) {
        if (c->name() == description_.messageLabel) {
            if (const auto* label = qobject_cast<const Label*>(c.get())) {
                return label->caption();
            }
        }
    }
    return {};
}

Form::Form(const FormDescription& description)
    : description_(description), window_(new FormWindow(*this)) {
    // Before anything about the window can reach a screen reader, which
    // keeps the first view it gets of an object.
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&Form::accessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setObjectName(description.name);
    window_->setObjectName(description.name);
    window_->setWindowTitle(description.caption);
    if (!description.icon.isEmpty()) {
        window_->setWindowIcon(QIcon(description.icon));
    }
    setHeight(description.height);
    placeControls(description);
    stackControls();
    orderTabs(description);
    for (const auto& c : controls_) {
        if (QWidget* w = c->widget(); w != nullptr && w->focusPolicy() != Qt::NoFocus) {
            focusPolicies_.emplace_back(w, w->focusPolicy());
        }
    }
    limitFocusTo(window_->rect());
}

Form::~Form() {
    delete window_;
}

void Form::placeControls(const FormDescription& description) {
    for (const ControlDescription& d : description.controls) {
        QWidget* parent = window_;
        if (!d.parent.isEmpty() && d.parent != description.name) {
            parent = control<PictureBox>(d.parent).inner();
        }
        switch (d.kind) {
        case ControlKind::Label:
            controls_.push_back(std::make_unique<Label>(d, parent));
            break;
        case ControlKind::TextBox:
            controls_.push_back(std::make_unique<TextBox>(d, parent));
            break;
        case ControlKind::CommandButton:
            controls_.push_back(std::make_unique<CommandButton>(d, parent));
            break;
        case ControlKind::PictureBox:
            controls_.push_back(std::make_unique<PictureBox>(d, parent));
            break;
        case ControlKind::Image:
            controls_.push_back(std::make_unique<Image>(d, parent));
            break;
        case ControlKind::Timer:
            controls_.push_back(std::make_unique<Timer>(d));
            break;
        case ControlKind::CommonDialog:
            controls_.push_back(std::make_unique<CommonDialog>(d, window_));
            break;
        }
    }
}

void Form::stackControls() {
    // Labels and images are drawn on the window's own surface, beneath every
    // windowed control, and an image lies over a label. Lowering the images
    // first and the labels after leaves exactly that order.
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::Image) {
            c->widget()->lower();
        }
    }
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::Label) {
            c->widget()->lower();
        }
    }
}

void Form::orderTabs(const FormDescription& description) const {
    std::vector<const ControlDescription*> ordered;
    for (const ControlDescription& d : description.controls) {
        if (d.tabIndex >= 0) {
            ordered.push_back(&d);
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->tabIndex < b->tabIndex; });
    QWidget* previous = nullptr;
    for (const ControlDescription* d : ordered) {
        QWidget* w = control<Control>(d->name).widget();
        if (w == nullptr || w->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, w);
        }
        previous = w;
    }
}

Twips Form::height() const {
    return toTwips(window_->height()) + description_.frameHeight();
}

Twips Form::width() const {
    return toTwips(window_->width()) + description_.frameWidth();
}

void Form::setHeight(Twips height) {
    if (!std::isfinite(height) || height < 0.0F || height > 1.0e6F) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    const int clientWidth = toPixels(description_.clientWidth);
    const int clientHeight = std::max(0, toPixels(height - description_.frameHeight()));
    // A fixed size both keeps the user from resizing the window and tells
    // the window manager to offer no maximize button. The top edge stays.
    window_->setFixedSize(clientWidth, clientHeight);
    // At a fractional scale Qt asks the window manager for sizes in steps
    // of two device pixels from a base of zero, which would round an odd
    // width or height down by one. A base size equal to the fixed size
    // leaves exactly that size.
    window_->setBaseSize(clientWidth, clientHeight);
    limitFocusTo(QRect(0, 0, clientWidth, clientHeight));
}

void Form::limitFocusTo(const QRect& clientArea) {
    // What the window's edge cuts off can be neither seen nor clicked, so
    // the keyboard must not reach it either: typing would change it unseen.
    for (const auto& [widget, policy] : focusPolicies_) {
        if (widget != nullptr) {
            const QRect onWindow(widget->mapTo(window_, QPoint(0, 0)), widget->size());
            widget->setFocusPolicy(clientArea.intersects(onWindow) ? policy : Qt::NoFocus);
        }
    }
}

void Form::load() {
    emit loadEvent();
}

void Form::show() {
    if (!shown_) {
        shown_ = true;
        // Centre the window, frame included, at the size it first shows.
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            const QSize outer(toPixels(width()), toPixels(height()));
            const QRect area = screen->availableGeometry();
            window_->move(area.x() + (area.width() - outer.width()) / 2,
                          area.y() + (area.height() - outer.height()) / 2);
        }
        // The focus starts on the first control in tab order that takes it.
        if (QWidget* first = window_->nextInFocusChain(); first != nullptr) {
            for (QWidget* w = first; w != window_; w = w->nextInFocusChain()) {
                if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled()) {
                    w->setFocus(Qt::OtherFocusReason);
                    break;
                }
            }
        }
    }
    window_->show();
}

void Form::unload() {
    if (!isLoaded()) {
        return;
    }
    // No event reaches a handler of an unloaded form: timers stop and the
    // controls' signals are cut before the window goes.
    for (const auto& c : controls_) {
        if (auto* timer = qobject_cast<Timer*>(c.get())) {
            timer->setInterval(0);
        }
        c->disconnect();
    }
    window_->hide();
    loaded_ = false;
    emit unloaded();
}

bool Form::isLoaded() const {
    return loaded_;
}

QWidget* Form::window() const {
    return window_;
}

} // namespace rt
