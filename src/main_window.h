#pragma once

#include "window/form.h"
#include "window/frm_main_description.h"

namespace yonamito {

// frmMain with its handlers bound: the whole program, ready to load.
class MainWindow {
public:
    MainWindow();
    rt::Form& form() { return form_; }
    rt::FrmMain& controls() { return controls_; }

private:
    void bindEvents();

    rt::Form form_;
    rt::FrmMain controls_;
};

// Sets up the application, runs the program and returns its exit status.
int run();

} // namespace yonamito
