#include "window/frm_main_description.h"

#include "version.h"

namespace rt {

using namespace Qt::StringLiterals;

namespace {

// The fault report that the details area shows at start: eleven lines, each
// ending in CR LF, two of them with a trailing space.
const QString kInitialReport =
    u"ヨナミト の一般保護違反です。\r\n"
    u"モジュール : USER.EXE、アドレス : 0008:00003e0f\r\n"
    u"Registers:\r\n"
    u"ENX=00032adc CS=174f EIP=00007e0f EFLGS=00000286\r\n"
    u"EKX=17770018 SS=5047 ESP=00008ac6 FNI=00008ad2\r\n"
    u"MCX=00018027 DS=1667 FBI=820b82d4 FS=8097\r\n"
    u"GHJ=81750000 ES=8027 EDI=00030000 GS=0000\r\n"
    u"Bytes at CS:EIP:\r\n"
    u"66 67 8b 3e 66 89 76 06 67 8a 46 34 a8 20 74 31 \r\n"
    u"Stack dump:\r\n"
    u"00032adc 00030000 ffff0000 7d178ae2 2adc0001 00050003 00000000 7cc68aee "
    u"2adc0001 16670003 30c78b04 2adc170f 16670003 011584b4 000003ca 8b180001 \r\n"_s;

constexpr int kShiftJisCharset = 128;

ControlDescription commonDialog(const QString& name) {
    ControlDescription d;
    d.name = name;
    d.kind = ControlKind::CommonDialog;
    d.parent = u"frmMain"_s;
    return d;
}

ControlDescription panelButton(const QString& name, Twips left, Twips width, int tabIndex,
                               const QString& caption) {
    ControlDescription d;
    d.name = name;
    d.kind = ControlKind::CommandButton;
    d.parent = u"Menuu"_s;
    d.left = left;
    d.top = 0;
    d.width = width;
    d.height = 375;
    d.tabIndex = tabIndex;
    d.caption = caption;
    // Only About is reached with Tab; the other panel buttons are meant for
    // the mouse.
    d.tabStop = name == u"About"_s;
    return d;
}

FormDescription describeFrmMain() {
    FormDescription form;
    form.name = u"frmMain"_s;
    form.caption = u"ヨナミト"_s;
    form.icon = u":/icons/program.xpm"_s;
    form.clientWidth = 6930;
    form.clientHeight = 3690;
    form.width = 7020;
    form.height = 4065;

    auto& c = form.controls;
    c.push_back(commonDialog(u"cmnOpen"_s));
    {
        ControlDescription d;
        d.name = u"Menuu"_s;
        d.kind = ControlKind::PictureBox;
        d.parent = u"frmMain"_s;
        d.left = 170;
        d.top = 3240;
        d.width = 6570;
        d.height = 420;
        d.tabIndex = 4;
        d.visible = false;
        d.fixedSingleBorder = true;
        c.push_back(d);
    }
    c.push_back(panelButton(u"About"_s, 5520, 975, 10, u"About"_s));
    c.push_back(panelButton(u"mnu_Font_N"_s, 4440, 1095, 9, u"NormalFont"_s));
    {
        ControlDescription d = panelButton(u"mnu_Font_S"_s, 3360, 1095, 8, u"StyeFont"_s);
        d.enabled = false;
        c.push_back(d);
    }
    c.push_back(panelButton(u"mnu_Save"_s, 2160, 1095, 7, u"Save"_s));
    c.push_back(panelButton(u"mnu_Open"_s, 1080, 1095, 6, u"Open"_s));
    c.push_back(panelButton(u"mnu_New"_s, 0, 1095, 5, u"New"_s));
    {
        ControlDescription d;
        d.name = u"Timer"_s;
        d.kind = ControlKind::Timer;
        d.parent = u"frmMain"_s;
        c.push_back(d);
    }
    {
        ControlDescription d;
        d.name = u"Tex"_s;
        d.kind = ControlKind::TextBox;
        d.parent = u"frmMain"_s;
        d.left = 170;
        d.top = 1410;
        d.width = 6570;
        d.height = 1815;
        d.tabIndex = 3;
        d.multiLine = true;
        d.verticalScrollBar = true;
        d.buttonFaceBackground = true;
        d.font = FontDescription{u"Terminal"_s, 7.5F, 400, kShiftJisCharset};
        d.text = kInitialReport;
        c.push_back(d);
    }
    {
        ControlDescription d;
        d.name = u"ShowSui"_s;
        d.kind = ControlKind::CommandButton;
        d.parent = u"frmMain"_s;
        d.left = 5420;
        d.top = 1010;
        d.width = 1320;
        d.height = 320;
        d.tabIndex = 2;
        d.caption = u"詳細(&D)>>"_s;
        c.push_back(d);
    }
    {
        ControlDescription d;
        d.name = u"Close"_s;
        d.kind = ControlKind::CommandButton;
        d.parent = u"frmMain"_s;
        d.left = 5420;
        d.top = 155;
        d.width = 1320;
        d.height = 320;
        d.tabIndex = 1;
        d.caption = u"閉じる(&C)"_s;
        d.defaultButton = true;
        c.push_back(d);
    }
    c.push_back(commonDialog(u"cmnSave"_s));
    {
        ControlDescription d;
        d.name = u"label"_s;
        d.kind = ControlKind::Label;
        d.parent = u"frmMain"_s;
        d.left = 900;
        d.top = 180;
        d.width = 4095;
        d.height = 975;
        d.tabIndex = 0;
        d.caption = u"ここに文字列が表示されます。"_s;
        d.font = FontDescription{u"MS UI Gothic"_s, 9.0F, 400, kShiftJisCharset};
        c.push_back(d);
    }
    {
        ControlDescription d;
        d.name = u"Ico"_s;
        d.kind = ControlKind::Image;
        d.parent = u"frmMain"_s;
        d.left = 150;
        d.top = 180;
        d.width = 480;
        d.height = 480;
        d.stretch = true;
        d.picture = u":/icons/error32.xpm"_s;
        c.push_back(d);
    }
    return form;
}

} // namespace

const FormDescription& frmMainDescription() {
    static const FormDescription description = describeFrmMain();
    return description;
}

const VersionRecord& versionRecord() {
    static const VersionRecord record{u"ヨナミト"_s, u"yonamito"_s,
                                      QString::fromLatin1(YONAMITO_VERSION), u"Exeﾌｧｲﾙ"_s,
                                      QString::fromLatin1(YONAMITO_APP_ID)};
    return record;
}

FrmMain::FrmMain(Form& form)
    : frmMain(form), cmnOpen(form.control<CommonDialog>(u"cmnOpen"_s)),
      Menuu(form.control<PictureBox>(u"Menuu"_s)), About(form.control<CommandButton>(u"About"_s)),
      mnu_Font_N(form.control<CommandButton>(u"mnu_Font_N"_s)),
      mnu_Font_S(form.control<CommandButton>(u"mnu_Font_S"_s)),
      mnu_Save(form.control<CommandButton>(u"mnu_Save"_s)),
      mnu_Open(form.control<CommandButton>(u"mnu_Open"_s)),
      mnu_New(form.control<CommandButton>(u"mnu_New"_s)),
      Timer(form.control<rt::Timer>(u"Timer"_s)), Tex(form.control<TextBox>(u"Tex"_s)),
      ShowSui(form.control<CommandButton>(u"ShowSui"_s)),
      Close(form.control<CommandButton>(u"Close"_s)),
      cmnSave(form.control<CommonDialog>(u"cmnSave"_s)), label(form.control<rt::Label>(u"label"_s)),
      Ico(form.control<rt::Image>(u"Ico"_s)) {}

} // namespace rt
