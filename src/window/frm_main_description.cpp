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

// frmMain: its own properties, then its controls in stored order, one row
// each, with only the properties that differ from the runtime's defaults.
// Positions are twips in the parent's client area; the six buttons of the
// hidden bar sit inside Menuu. Of the bar's buttons only About takes a Tab
// stop; the others are meant for the mouse.
FormDescription describeFrmMain() {
    using enum ControlKind;
    const QString form = u"frmMain"_s;
    const QString bar = u"Menuu"_s;
    const FontDescription terminal{u"Terminal"_s, 7.5F, 400, kShiftJisCharset};
    const FontDescription uiGothic{u"MS UI Gothic"_s, 9.0F, 400, kShiftJisCharset};
    // A table reads best one control to a row, so the formatter keeps out.
    // clang-format off
    return FormDescription{
        .name = form, .caption = u"ヨナミト"_s, .icon = u":/icons/program.xpm"_s,
        .clientWidth = 6930, .clientHeight = 3690, .width = 7020, .height = 4065,
        .messageLabel = u"label"_s,
        .controls = {
            {.name = u"cmnOpen"_s, .kind = CommonDialog, .parent = form},
            {.name = u"Menuu"_s, .kind = PictureBox, .parent = form,
             .left = 170, .top = 3240, .width = 6570, .height = 420, .tabIndex = 4,
             .visible = false, .fixedSingleBorder = true},
            {.name = u"About"_s, .kind = CommandButton, .parent = bar,
             .left = 5520, .top = 0, .width = 975, .height = 375, .tabIndex = 10,
             .caption = u"About"_s},
            {.name = u"mnu_Font_N"_s, .kind = CommandButton, .parent = bar,
             .left = 4440, .top = 0, .width = 1095, .height = 375, .tabIndex = 9,
             .caption = u"NormalFont"_s, .tabStop = false},
            {.name = u"mnu_Font_S"_s, .kind = CommandButton, .parent = bar,
             .left = 3360, .top = 0, .width = 1095, .height = 375, .tabIndex = 8,
             .caption = u"StyeFont"_s, .enabled = false, .tabStop = false},
            {.name = u"mnu_Save"_s, .kind = CommandButton, .parent = bar,
             .left = 2160, .top = 0, .width = 1095, .height = 375, .tabIndex = 7,
             .caption = u"Save"_s, .tabStop = false},
            {.name = u"mnu_Open"_s, .kind = CommandButton, .parent = bar,
             .left = 1080, .top = 0, .width = 1095, .height = 375, .tabIndex = 6,
             .caption = u"Open"_s, .tabStop = false},
            {.name = u"mnu_New"_s, .kind = CommandButton, .parent = bar,
             .left = 0, .top = 0, .width = 1095, .height = 375, .tabIndex = 5,
             .caption = u"New"_s, .tabStop = false},
            {.name = u"Timer"_s, .kind = Timer, .parent = form},
            {.name = u"Tex"_s, .kind = TextBox, .parent = form,
             .left = 170, .top = 1410, .width = 6570, .height = 1815, .tabIndex = 3,
             .text = kInitialReport, .multiLine = true, .verticalScrollBar = true,
             .buttonFaceBackground = true, .accessibleName = u"詳細"_s, .font = terminal},
            {.name = u"ShowSui"_s, .kind = CommandButton, .parent = form,
             .left = 5420, .top = 1010, .width = 1320, .height = 320, .tabIndex = 2,
             .caption = u"詳細(&D)>>"_s},
            {.name = u"Close"_s, .kind = CommandButton, .parent = form,
             .left = 5420, .top = 155, .width = 1320, .height = 320, .tabIndex = 1,
             .caption = u"閉じる(&C)"_s, .defaultButton = true},
            {.name = u"cmnSave"_s, .kind = CommonDialog, .parent = form},
            {.name = u"label"_s, .kind = Label, .parent = form,
             .left = 900, .top = 180, .width = 4095, .height = 975, .tabIndex = 0,
             .caption = u"ここに文字列が表示されます。"_s, .font = uiGothic},
            {.name = u"Ico"_s, .kind = Image, .parent = form,
             .left = 150, .top = 180, .width = 480, .height = 480,
             .stretch = true, .picture = u":/icons/error32.xpm"_s, .accessibleName = u"エラー"_s},
        },
    };
    // clang-format on
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
