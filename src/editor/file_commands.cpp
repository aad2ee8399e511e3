#include "editor/file_commands.h"

#include "window/long_work.h"
#include "window/runtime.h"
#include "textfile/textfile.h"

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
