#pragma once

#include "textfile/text_codec.h"
#include "window/controls.h"
#include "window/form.h"
#include "window/form_description.h"
#include "window/runtime.h"

namespace rt {

// The program's one window, described once as data.
const FormDescription& frmMainDescription();

// The program's version record.
const VersionRecord& versionRecord();

// frmMain with every control looked up once, by the names that the
// handlers use, and the window's one variable beside its controls.
struct FrmMain {
    explicit FrmMain(Form& form);

    Form& frmMain;
    CommonDialog& cmnOpen;
    PictureBox& Menuu;
    CommandButton& About;
    CommandButton& mnu_Font_N;
    CommandButton& mnu_Font_S;
    CommandButton& mnu_Save;
    CommandButton& mnu_Open;
    CommandButton& mnu_New;
    rt::Timer& Timer;
    TextBox& Tex;
    CommandButton& ShowSui;
    CommandButton& Close;
    CommonDialog& cmnSave;
    rt::Label& label;
    rt::Image& Ico;

    // True while the error icon pulses.
    bool IcoPulse = false;
    // How the text in Tex is stored on disk: Open sets it from the file, New
    // and the start-up report leave the program's own, and Save writes the
    // text back in it.
    TextFormat TexFormat = nativeTextFormat();
};

} // namespace rt
