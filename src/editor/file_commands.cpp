#include "editor/file_commands.h"

#include "textfile/textfile.h"
#include "window/long_work.h"
#include "window/runtime.h"

#include <optional>

namespace editor {

using namespace Qt::StringLiterals;

namespace {

// Tells the user which file a command failed on and why, worded like the
// runtime's own error reports.
void reportFailure(const QString& what, const rt::RuntimeError& error) {
    rt::msgBox(u"%1\r\n\r\n実行時エラー '%2':\r\n%3"_s.arg(what, QString::number(error.code()),
                                                           error.message()),
               rt::Critical, rt::versionRecord().productName);
}

// The name a user knows an encoding by.
QString encodingName(const rt::TextFormat& format) {
    switch (format.encoding) {
    case rt::FileEncoding::Cp932:
        return u"シフト JIS (CP932)"_s;
    case rt::FileEncoding::EucJpMs:
        return u"EUC-JP"_s;
    case rt::FileEncoding::Iso2022Jp:
        return u"JIS (ISO-2022-JP)"_s;
    case rt::FileEncoding::ShiftJis2004:
        return u"Shift_JIS-2004"_s;
    case rt::FileEncoding::EucJis2004:
        return u"EUC-JIS-2004"_s;
    case rt::FileEncoding::Iso2022Jp2004:
        return u"ISO-2022-JP-2004"_s;
    default:
        return u"Unicode"_s;
    }
}

// Asks whether text with a character the file's encoding cannot hold goes
// out as UTF-8 instead. True for yes.
bool askUtf8(const rt::Unheld& unheld, const rt::TextFormat& format) {
    const char32_t c = unheld.character;
    const QString shown = QString::fromUcs4(&c, 1);
    const QString code = u"U+%1"_s.arg(uint(c), 4, 16, QChar(u'0')).toUpper();
    const QString prompt =
        u"%1 行目の文字「%2」(%3) は、このファイルの文字コード %4 では保存できません。\r\n\r\n"
        u"文書全体を UTF-8 で保存しますか?\r\n"
        u"[いいえ] を選ぶと保存しません。ファイルは元のままです。"_s.arg(
            QString::number(unheld.line), shown, code, encodingName(format));
    return rt::msgBox(prompt, rt::YesNo | rt::Question, rt::versionRecord().productName) == 6;
}

} // namespace

QString textFileFilter() {
    return u"テキストファイル (*.txt)|*.txt"_s;
}

void mnu_New_Click(rt::FrmMain& f) {
    f.Tex.setText(QString());
    f.TexFormat = rt::nativeTextFormat();
}

void mnu_Open_Click(rt::FrmMain& f) {
    const std::optional<rt::RuntimeError> error = rt::trapErrors([&f] {
        f.cmnOpen.setFilter(textFileFilter());
        f.cmnOpen.showOpen();
        // A cancelled dialog names no file; that ends the command quietly.
        if (f.cmnOpen.fileName().isEmpty())
            return;
        // Reading and decoding a large file takes a while; the window keeps
        // repainting meanwhile.
        std::optional<rt::InputFile> opened;
        const QString name = f.cmnOpen.fileName();
        rt::runLongWork([&opened, &name] { opened.emplace(name); });
        rt::InputFile& file = *opened;
        QString text;
        if (!file.eof()) {
            text = file.lineInput();
        }
        while (!file.eof()) {
            text += u"\r\n"_s;
            text += file.lineInput();
        }
        rt::TextFormat format = file.format();
        file.close();
        // The text changes only now, after the whole file was read.
        f.Tex.setText(text);
        f.TexFormat = std::move(format);
    });
    // The text stays as it was; the user learns why.
    if (error)
        reportFailure(u"%1 を開けませんでした。"_s.arg(f.cmnOpen.fileName()), *error);
}

void mnu_Save_Click(rt::FrmMain& f) {
    const std::optional<rt::RuntimeError> error = rt::trapErrors([&f] {
        f.cmnSave.setFilter(textFileFilter());
        f.cmnSave.showSave();
        if (f.cmnSave.fileName().isEmpty())
            return;
        rt::OutputFile file(f.cmnSave.fileName(), f.TexFormat);
        file.print(f.Tex.text());
        std::optional<rt::Unheld> unheld;
        rt::runLongWork([&file, &unheld] { unheld = file.encode(); });
        if (unheld) {
            // Nothing is replaced and the encoding never changes unasked:
            // the user chooses between UTF-8 and not saving at all.
            if (!askUtf8(*unheld, f.TexFormat))
                return;
            rt::runLongWork([&file, &f] { file.encode(rt::utf8Instead(f.TexFormat)); });
        }
        // The file on disk changes only here, once every byte is written.
        rt::runLongWork([&file] { file.close(); });
        f.TexFormat = file.format();
    });
    // A failed Save leaves the old file as it was; the user must know that
    // the text is not saved before closing the window.
    if (error)
        reportFailure(u"%1 を保存できませんでした。"_s.arg(f.cmnSave.fileName()), *error);
}

} // namespace editor
