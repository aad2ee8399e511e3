#include "editor/panel.h"

namespace editor {

void label_Click(rt::FrmMain& f) {
    f.Menuu.setVisible(!f.Menuu.visible());
}

} // namespace editor
