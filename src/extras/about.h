#pragma once

#include "window/frm_main_description.h"

namespace extras {

// The program's own credits, kept in one place.
struct Credits {
    QString author;
    QString webSite;
    QString mail;
};
const Credits& credits();

// The About box's prompt: version, author, web site and mail address.
QString aboutPrompt();

// "About": the version and credits in a critical-stop message box.
void About_Click(rt::FrmMain& f);

} // namespace extras
