#pragma once

#include "window/runtime_error.h"

#include <QFont>
#include <QObject>
#include <QString>

#include <functional>
#include <new>
#include <optional>
#include <utility>

namespace rt {

class Form;

// What the version record tells about the program.
struct VersionRecord {
    QString productName;     // Shown to the user, e.g. in message boxes.
    QString internalName;    // The executable's and the application's name.
    QString version;         // As shown: "2.00".
    QString fileDescription; // The file's own description.
    QString desktopFileName; // The desktop entry's id, without ".desktop".
};

// Gives the process a UTF-8 character set when its environment names none,
// so that titles, file names and texts cross to the system unchanged. Must
// run before the application object exists, which reads the locale once.
void useUtf8Characters();

// Sets up the application before any window: its names and version, Qt's
// own translations for the desktop's language, and the mapping of the
// description's Windows font faces to installed faces.
void setUpApplication(const VersionRecord& record);

// Substitutes installed faces for the Windows faces that the window's
// descriptions name. Safe to call more than once.
void mapWindowsFonts();

// Gives a font the named face, with whatever the face's mapping needs
// beside the substitution.
void setFace(QFont& font, const QString& face);

// Runs one handler to its end. A runtime error that the handler does not
// trap gets the default handling: a critical message box naming the error,
// then the program ends with a non-zero status.
void dispatch(const std::function<void()>& handler) noexcept;

// Runs a handler's body under an error trap: any runtime error, running
// out of memory included, ends the body at once and is handed back for the
// handler to deal with. Whatever the body did before the error stays done.
template <class Body> std::optional<RuntimeError> trapErrors(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const RuntimeError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return RuntimeError(RuntimeError::OutOfMemory);
    }
    return std::nullopt;
}

// Replaces the default handling, so that tests can see untrapped errors
// without a modal box and without ending the test program. An empty hook
// restores the default.
using ErrorHook = std::function<void(const RuntimeError&)>;
void setErrorHook(ErrorHook hook);

// Connects a control's event to its handler through dispatch().
template <class Sender, class Signal, class Handler>
QMetaObject::Connection on(Sender* sender, Signal signal, Handler handler) {
    return QObject::connect(sender, signal, sender,
                            [handler = std::move(handler)]() { dispatch(handler); });
}

// Message box styles, as numbers combine them: buttons in the low bits,
// the icon in bits 4 to 6.
enum MsgBoxStyle : int {
    OkOnly = 0,
    OkCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5,
    Critical = 16,
    Question = 32,
    Exclamation = 48,
    Information = 64,
};

// A modal message box; CR LF in the prompt breaks lines. Returns the
// number of the button the user chose (1 OK, 2 Cancel, 3 Abort, 4 Retry,
// 5 Ignore, 6 Yes, 7 No).
int msgBox(const QString& prompt, int style, const QString& title);

// Raises the form's Load, shows it and runs events until no window is
// loaded. Returns the program's exit status.
int run(Form& form);

} // namespace rt
