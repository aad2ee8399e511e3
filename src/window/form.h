#pragma once

#include "window/controls.h"
#include "window/form_description.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

class QAccessibleInterface;
class QRect;
class QWidget;

namespace rt {

class FormWindow;

// A window built from its description. It owns its controls for its whole
// life; handlers reach them by name through control<T>().
class Form : public QObject {
    Q_OBJECT
public:
    explicit Form(const FormDescription& description);
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // The control of the given name and kind. Asking for a control that the
    // description does not hold is a programming error, not a runtime error.
    template <class T> T& control(const QString& name) const {
        for (const auto& c : controls_) {
            if (c->name() == name) {
                if (auto* typed = qobject_cast<T*>(c.get())) {
                    return *typed;
                }
                break;
            }
        }
        throw std::logic_error("no control of this name and kind: " + name.toStdString());
    }

    // The outer height in twips. The client area is the height less the
    // description's frame, whatever frame the window manager draws.
    Twips height() const;
    void setHeight(Twips height);
    Twips width() const;

    // Raises Load, as the runtime does once before the first show.
    void load();
    // Shows the window, centred on its screen at the size it has now.
    void show();
    // Closes and destroys the window; with no window left the program ends.
    void unload();
    bool isLoaded() const;

    QWidget* window() const;

    // The caption of the label that carries the window's message, if any.
    QString message() const;

    // What screen readers see of a form's window; for QAccessible::installFactory.
    static QAccessibleInterface* accessible(const QString& className, QObject* object);

signals:
    void loadEvent();
    void unloaded();

private:
    void placeControls(const FormDescription& description);
    void stackControls();
    void orderTabs(const FormDescription& description) const;
    // Takes the focus from every control outside the client area and gives
    // the others back the focus they take by their description.
    void limitFocusTo(const QRect& clientArea);

    FormDescription description_;
    QPointer<FormWindow> window_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::pair<QPointer<QWidget>, Qt::FocusPolicy>> focusPolicies_;
    bool shown_ = false;
    bool loaded_ = true;
};

} // namespace rt
