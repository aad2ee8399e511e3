#include "editor/file_commands.h"
namespace editor {
QString textFileFilter() { return {}; }
void mnu_New_Click(rt::FrmMain& f) { f.Tex.setText(QString()); }
void mnu_Open_Click(rt::FrmMain&) {}
void mnu_Save_Click(rt::FrmMain&) {}
}
