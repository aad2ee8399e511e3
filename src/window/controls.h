#pragma once

#include "window/form_description.h"
#include "window/text_box_edit.h"

#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <functional>

class QTimer;

namespace rt {

// The runtime maps fifteen twips to one device-independent pixel; Qt's own
// high-DPI scaling then takes care of the screen's real density.
inline constexpr Twips kTwipsPerPixel = 15.0F;
int toPixels(Twips twips);
Twips toTwips(int pixels);

// Texts cross the runtime with CR LF line breaks; Qt's widgets use LF or a
// paragraph separator inside. These two convert at the boundary.
QString toCrLf(QStringView text);
QString fromCrLf(QStringView text);

// A caption as a screen reader should speak it: without its access key
// marker.
QString withoutMnemonic(const QString& caption);

// The common base of everything a window description can hold. Each control
// is a QObject so that its events are ordinary, typed Qt signals.
class Control : public QObject {
    Q_OBJECT
public:
    explicit Control(const ControlDescription& description);
    const QString& name() const { return name_; }
    ControlKind kind() const { return kind_; }
    // The widget that stands for the control on screen, or null for the
    // controls that are invisible at run time (timer, common dialog).
    virtual QWidget* widget() const { return nullptr; }

private:
    QString name_;
    ControlKind kind_;
};

class Label : public Control {
    Q_OBJECT
public:
    Label(const ControlDescription& description, QWidget* parent);
    QString caption() const;
    void setCaption(const QString& caption);
    QWidget* widget() const override;

signals:
    void click();
    void dblClick();

private:
    QPointer<QLabel> label_;
};

class TextBox : public Control {
    Q_OBJECT
public:
    TextBox(const ControlDescription& description, QWidget* parent);
    QString text() const;
    void setText(const QString& text);
    QString fontName() const;
    void setFontName(const QString& name);
    float fontSize() const;
    void setFontSize(float points);
    QPlainTextEdit* edit() const { return edit_; }
    QWidget* widget() const override;

private:
    QPointer<TextBoxEdit> edit_;
};

class CommandButton : public Control {
    Q_OBJECT
public:
    CommandButton(const ControlDescription& description, QWidget* parent);
    bool enabled() const;
    void setEnabled(bool enabled);
    QString caption() const;
    bool isDefault() const;
    QPushButton* button() const { return button_; }
    QWidget* widget() const override;

signals:
    void click();

private:
    QPointer<QPushButton> button_;
};

class PictureBox : public Control {
    Q_OBJECT
public:
    PictureBox(const ControlDescription& description, QWidget* parent);
    bool visible() const;
    void setVisible(bool visible);
    // The area inside the border, where contained controls are placed.
    QWidget* inner() const;
    QWidget* widget() const override;

private:
    QPointer<QFrame> frame_;
};

class Image : public Control {
    Q_OBJECT
public:
    Image(const ControlDescription& description, QWidget* parent);
    Twips width() const;
    Twips height() const;
    void setWidth(Twips width);
    void setHeight(Twips height);
    QWidget* widget() const override;

private:
    QPointer<QWidget> view_;
};

class Timer : public Control {
    Q_OBJECT
public:
    explicit Timer(const ControlDescription& description);
    int interval() const;
    // Milliseconds between ticks; zero stops the timer.
    void setInterval(int milliseconds);

signals:
    void timer();

private:
    QTimer* timer_;
};

// The open and save file dialogs. A dialog that the user cancels reports an
// empty file name.
class CommonDialog : public Control {
    Q_OBJECT
public:
    enum class Mode { Open, Save };
    // Lets tests answer the dialog without a modal loop: the script gets the
    // mode and Qt's form of the filter and returns the chosen path, or an
    // empty string for a cancel.
    using Script = std::function<QString(Mode mode, const QString& qtFilter)>;
    static void setScript(Script script);

    CommonDialog(const ControlDescription& description, QWidget* dialogParent);
    QString filter() const { return filter_; }
    // "description|pattern" pairs, as the description's filters are written.
    void setFilter(const QString& filter);
    QString fileName() const { return fileName_; }
    void setFileName(const QString& fileName) { fileName_ = fileName; }
    void showOpen();
    void showSave();

    // Qt's filter string for a "description|pattern|..." filter.
    static QString toQtFilter(const QString& filter);

private:
    void show(Mode mode);

    QPointer<QWidget> dialogParent_;
    QString filter_;
    QString fileName_;
};

} // namespace rt
