#pragma once

#include "window/frm_main_description.h"

namespace editor {

// "NormalFont": the Japanese monospace Gothic face for the details text.
void mnu_Font_N_Click(rt::FrmMain& f);
// "StyeFont": back to the small face that the text starts with.
void mnu_Font_S_Click(rt::FrmMain& f);

} // namespace editor
