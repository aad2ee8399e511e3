#include "dialog/crash_dialog.h"

namespace dialog {

using namespace Qt::StringLiterals;

namespace {

// The compact dialog shows the icon, the message and the two buttons; the
// expanded one adds the details text area and the hidden button bar.
constexpr rt::Twips kCompactHeight = 1755;
constexpr rt::Twips kExpandedHeight = 4065;

constexpr float kDetailsFontPoints = 8.0F;

} // namespace

QString crashMessage() {
    // Two of the line breaks fall inside a word, exactly where the system's
    // own message breaks them.
    const QString crlf = u"\r\n"_s;
    return u"このプログラムは不正な処理を行ったので強制終了されま"_s + crlf + u"す。"_s + crlf +
           crlf + u"終了しない場合は、プログラムの製造元に連絡してくださ"_s + crlf + u"い｡ "_s;
}

void frmMain_Load(rt::FrmMain& f) {
    f.label.setCaption(crashMessage());
    f.frmMain.setHeight(kCompactHeight);
    f.Tex.setFontName(u"Small Fonts"_s);
    f.Tex.setFontSize(kDetailsFontPoints);
}

void ShowSui_Click(rt::FrmMain& f) {
    f.ShowSui.setEnabled(false);
    f.frmMain.setHeight(kExpandedHeight);
}

void Close_Click(rt::FrmMain& f) {
    f.frmMain.unload();
}

} // namespace dialog
