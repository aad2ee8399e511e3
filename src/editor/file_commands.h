#pragma once

#include "window/frm_main_description.h"

namespace editor {

// The one filter that both file dialogs offer.
QString textFileFilter();

// New: empties the details text without a question; the text is the
// program's own again.
void mnu_New_Click(rt::FrmMain& f);
// Open: replaces the details text with a text file's lines and remembers
// how the file was stored. A failure leaves the text as it was and tells the
// user in a message box; a cancelled dialog ends the command quietly.
void mnu_Open_Click(rt::FrmMain& f);
// Save: writes the details text to a text file, in the format the text was
// opened in. A failure leaves an existing file as it was and tells the user
// in a message box; a cancelled dialog ends the command quietly.
void mnu_Save_Click(rt::FrmMain& f);

} // namespace editor
