#pragma once

#include "window/frm_main_description.h"

namespace editor {

// A click on the crash message shows or hides the hidden button bar.
void label_Click(rt::FrmMain& f);

} // namespace editor
