#include "main_window.h"

#include "dialog/crash_dialog.h"
#include "editor/file_commands.h"
#include "editor/font_switch.h"
#include "editor/panel.h"
#include "extras/about.h"
#include "extras/icon_pulse.h"
#include "window/runtime.h"

namespace yonamito {

MainWindow::MainWindow() : form_(rt::frmMainDescription()), controls_(form_) {
    bindEvents();
}

// Every event of frmMain and the one handler it goes to.
void MainWindow::bindEvents() {
    rt::FrmMain& f = controls_;
    rt::on(&f.frmMain, &rt::Form::loadEvent, [&f] { dialog::frmMain_Load(f); });
    rt::on(&f.ShowSui, &rt::CommandButton::click, [&f] { dialog::ShowSui_Click(f); });
    rt::on(&f.Close, &rt::CommandButton::click, [&f] { dialog::Close_Click(f); });
    rt::on(&f.label, &rt::Label::click, [&f] { editor::label_Click(f); });
    rt::on(&f.mnu_New, &rt::CommandButton::click, [&f] { editor::mnu_New_Click(f); });
    rt::on(&f.mnu_Open, &rt::CommandButton::click, [&f] { editor::mnu_Open_Click(f); });
    rt::on(&f.mnu_Save, &rt::CommandButton::click, [&f] { editor::mnu_Save_Click(f); });
    rt::on(&f.mnu_Font_N, &rt::CommandButton::click, [&f] { editor::mnu_Font_N_Click(f); });
    rt::on(&f.mnu_Font_S, &rt::CommandButton::click, [&f] { editor::mnu_Font_S_Click(f); });
    rt::on(&f.About, &rt::CommandButton::click, [&f] { extras::About_Click(f); });
    rt::on(&f.label, &rt::Label::dblClick, [&f] { extras::label_DblClick(f); });
    rt::on(&f.Timer, &rt::Timer::timer, [&f] { extras::Timer_Timer(f); });
}

int run() {
    rt::setUpApplication(rt::versionRecord());
    MainWindow window;
    return rt::run(window.form());
}

} // namespace yonamito
