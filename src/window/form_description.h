#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace rt {

// Lengths are twips: 1/1440 inch, fifteen to a pixel at 96 dots per inch.
using Twips = float;

// The kinds of control that a window description may hold.
enum class ControlKind { Label, TextBox, CommandButton, PictureBox, Image, Timer, CommonDialog };

struct FontDescription {
    QString name{};
    float points = 9.0F;
    int weight = 400;
    int charset = 0;
};

// One control as the window description stores it. Only what differs from
// the runtime's defaults is filled in; the defaults are the member values.
struct ControlDescription {
    QString name{};
    ControlKind kind = ControlKind::Label;
    QString parent{};
    Twips left = 0;
    Twips top = 0;
    Twips width = 0;
    Twips height = 0;
    int tabIndex = -1; // -1: the control carries no tab index.
    QString caption{};
    QString text{};
    bool visible = true;
    bool enabled = true;
    bool tabStop = true;
    bool multiLine = false;
    bool verticalScrollBar = false;
    bool fixedSingleBorder = false;
    bool buttonFaceBackground = false;
    bool defaultButton = false;
    bool stretch = false;
    QString picture{}; // A Qt resource path.
    // What screen readers call a control whose caption does not name it, or
    // that has no caption at all.
    QString accessibleName{};
    std::optional<FontDescription> font{};
};

// A whole window: its own properties and its controls in stored order.
struct FormDescription {
    QString name{};
    QString caption{};
    QString icon{}; // A Qt resource path.
    Twips clientWidth = 0;
    Twips clientHeight = 0;
    Twips width = 0;  // Outer width.
    Twips height = 0; // Outer height.
    // The label that carries the window's message. A window with one is
    // announced to screen readers as an alert, as the system's own message
    // boxes are: its caption as the name, the message as the description.
    QString messageLabel{};
    std::vector<ControlDescription> controls{};

    // The frame that the description assumes around the client area. The
    // runtime keeps it fixed, whatever frame the window manager draws, so
    // that a height set by a handler always gives the same client area.
    Twips frameWidth() const { return width - clientWidth; }
    Twips frameHeight() const { return height - clientHeight; }
};

} // namespace rt
