#pragma once

#include "window/frm_main_description.h"

namespace dialog {

// The crash message, pieced together as the system would break its lines.
QString crashMessage();

// Start-up: the crash message, the compact height and the details font.
void frmMain_Load(rt::FrmMain& f);
// "詳細(&D)>>": grows the window once to show the details.
void ShowSui_Click(rt::FrmMain& f);
// "閉じる(&C)": ends the program without a question.
void Close_Click(rt::FrmMain& f);

} // namespace dialog
