#include "window/runtime.h"

#include "window/controls.h"
#include "window/form.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include <langinfo.h>

namespace rt {

using namespace Qt::StringLiterals;

namespace {

ErrorHook& errorHook() {
    static ErrorHook hook;
    return hook;
}

// Set when an untrapped error ended the program before the event loop ran.
std::optional<int>& pendingExit() {
    static std::optional<int> status;
    return status;
}

constexpr int kErrorExitStatus = 1;

QString& productName() {
    static QString name;
    return name;
}

void defaultHandling(const RuntimeError& error) {
    if (errorHook()) {
        errorHook()(error);
        return;
    }
    const QString prompt =
        u"実行時エラー '%1':\r\n\r\n%2"_s.arg(QString::number(error.code()), error.message());
    QMessageBox box(QMessageBox::Critical, productName(), fromCrLf(prompt), QMessageBox::Ok);
    box.exec();
    // The error ends the program: every window goes, and the process exits
    // with a status that tells the error apart from a normal end.
    pendingExit() = kErrorExitStatus;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        w->hide();
    }
    QCoreApplication::exit(kErrorExitStatus);
}

} // namespace

namespace {

// The Windows faces do not exist here. Each maps to an installed face of
// like design, with a Japanese face behind it so that no Japanese text ever
// falls back to boxes. IPA's Gothic faces share the metrics of the Windows
// Gothic faces they stand for, except that the kana of the Windows UI face
// are narrower than IPA's proportional ones: a slight condensing keeps a
// label's lines as wide as they were laid out, so none of them wraps anew.
struct FaceMapping {
    QString face;
    QStringList substitutes;
    int stretch;
};

const std::vector<FaceMapping>& faceMappings() {
    static const std::vector<FaceMapping> mappings{
        {u"MS UI Gothic"_s, {u"IPAPGothic"_s, u"IPAGothic"_s}, 92},
        {u"ＭＳ ゴシック"_s, {u"IPAGothic"_s, u"IPAPGothic"_s}, QFont::Unstretched},
        {u"Small Fonts"_s, {u"DejaVu Sans"_s, u"IPAPGothic"_s, u"IPAGothic"_s}, QFont::Unstretched},
        {u"Terminal"_s,
         {u"DejaVu Sans Mono"_s, u"IPAGothic"_s, u"IPAPGothic"_s},
         QFont::Unstretched},
    };
    return mappings;
}

} // namespace

void mapWindowsFonts() {
    for (const FaceMapping& m : faceMappings()) {
        QFont::insertSubstitutions(m.face, m.substitutes);
    }
}

void setFace(QFont& font, const QString& face) {
    font.setFamily(face);
    int stretch = QFont::Unstretched;
    for (const FaceMapping& m : faceMappings()) {
        if (m.face == face) {
            stretch = m.stretch;
        }
    }
    font.setStretch(stretch);
}

void useUtf8Characters() {
    if (std::setlocale(LC_ALL, "") != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        return;
    }
    // Only the character set changes; messages, numbers and dates keep the
    // user's language. LC_ALL would override LC_CTYPE, so its value moves to
    // LANG, which every other category falls back to.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        setenv("LANG", all, 1);
        unsetenv("LC_ALL");
    }
    // C.UTF-8 comes with the C library itself, unlike every named locale.
    setenv("LC_CTYPE", "C.UTF-8", 1);
    // A language whose locale is not installed makes the whole call fail;
    // the character set must switch all the same.
    if (std::setlocale(LC_ALL, "") == nullptr) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
}

void setUpApplication(const VersionRecord& record) {
    QCoreApplication::setApplicationName(record.internalName);
    QCoreApplication::setApplicationVersion(record.version);
    // The product name is deliberately not Qt's display name: on X11 Qt
    // appends a display name to every other window's title, and a message
    // box must carry exactly the title it is given.
    productName() = record.productName;
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(record.desktopFileName);
    // Qt's own dialogs and buttons speak the desktop's language, as the
    // system's dialogs do; the program's own texts are never translated.
    auto* qtTexts = new QTranslator(QCoreApplication::instance());
    if (qtTexts->load(QLocale::system(), u"qtbase"_s, u"_"_s,
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtTexts);
    }
    mapWindowsFonts();
}

void dispatch(const std::function<void()>& handler) noexcept {
    try {
        handler();
    } catch (const RuntimeError& error) {
        defaultHandling(error);
    } catch (const std::bad_alloc&) {
        defaultHandling(RuntimeError(RuntimeError::OutOfMemory));
    } catch (const std::exception& error) {
        // Anything else is a fault of the program itself; it still ends the
        // program the same way rather than tearing through Qt's event loop.
        defaultHandling(RuntimeError(RuntimeError::InternalError,
                                     RuntimeError::standardMessage(RuntimeError::InternalError) +
                                         QString::fromStdString(error.what())));
    }
}

void setErrorHook(ErrorHook hook) {
    errorHook() = std::move(hook);
}

int msgBox(const QString& prompt, int style, const QString& title) {
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(fromCrLf(prompt));
    switch (style & 0x70) {
    case Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    struct Choice {
        QMessageBox::StandardButton button;
        int result;
    };
    std::vector<Choice> choices;
    switch (style & 0x7) {
    case OkCancel:
        choices = {{QMessageBox::Ok, 1}, {QMessageBox::Cancel, 2}};
        break;
    case AbortRetryIgnore:
        choices = {{QMessageBox::Abort, 3}, {QMessageBox::Retry, 4}, {QMessageBox::Ignore, 5}};
        break;
    case YesNoCancel:
        choices = {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}, {QMessageBox::Cancel, 2}};
        break;
    case YesNo:
        choices = {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}};
        break;
    case RetryCancel:
        choices = {{QMessageBox::Retry, 4}, {QMessageBox::Cancel, 2}};
        break;
    default:
        choices = {{QMessageBox::Ok, 1}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) {
        buttons |= c.button;
    }
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices.front().button);
    const auto chosen = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const Choice& c : choices) {
        if (c.button == chosen) {
            return c.result;
        }
    }
    // Closing the box without a button counts as its cancel choice.
    return choices.size() == 1 ? 1 : 2;
}

int run(Form& form) {
    // Message boxes show the icon of the program's window.
    QGuiApplication::setWindowIcon(form.window()->windowIcon());
    QObject::connect(&form, &Form::unloaded, qApp, [] { QCoreApplication::exit(0); });
    form.load();
    if (pendingExit()) {
        return *pendingExit();
    }
    if (!form.isLoaded()) {
        return 0;
    }
    form.show();
    const int status = QApplication::exec();
    return pendingExit().value_or(status);
}

} // namespace rt
