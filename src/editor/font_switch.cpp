#include "editor/font_switch.h"

namespace editor {

using namespace Qt::StringLiterals;

// The two buttons work as a pair: the button of the face in use is greyed,
// the other enabled. Only the face changes; size and weight stay.

void mnu_Font_N_Click(rt::FrmMain& f) {
    f.mnu_Font_N.setEnabled(false);
    f.mnu_Font_S.setEnabled(true);
    f.Tex.setFontName(u"ＭＳ ゴシック"_s);
}

void mnu_Font_S_Click(rt::FrmMain& f) {
    f.mnu_Font_N.setEnabled(true);
    f.mnu_Font_S.setEnabled(false);
    f.Tex.setFontName(u"Small Fonts"_s);
}

} // namespace editor
