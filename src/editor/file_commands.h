#pragma once

#include "window/frm_main_description.h"

namespace editor {

// The one filter that both file dialogs offer.
QString textFileFilter();

// New: empties the details text without a question.
void mnu_New_Click(rt::FrmMain& f);
// Open: replaces the details text with a text file's lines. Any failure
// ends the command silently and leaves the text as it was.
void mnu_Open_Click(rt::FrmMain& f);
// Save: writes the details text to a text file. Any failure ends the
// command silently and leaves an existing file as it was.
void mnu_Save_Click(rt::FrmMain& f);

} // namespace editor
