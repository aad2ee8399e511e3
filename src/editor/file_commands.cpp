#include "editor/file_commands.h"

#include "window/runtime.h"
#include "window/textfile.h"

namespace editor {

using namespace Qt::StringLiterals;

QString textFileFilter() {
    return u"テキストファイル (*.txt)|*.txt"_s;
}

void mnu_New_Click(rt::FrmMain& f) {
    f.Tex.setText(QString());
}

void mnu_Open_Click(rt::FrmMain& f) {
    // Any error ends the command silently; the text stays as it was.
    rt::trapErrors([&f] {
        f.cmnOpen.setFilter(textFileFilter());
        f.cmnOpen.showOpen();
        rt::InputFile file(f.cmnOpen.fileName());
        QString text;
        if (!file.eof()) {
            text = file.lineInput();
        }
        while (!file.eof()) {
            text += u"\r\n"_s;
            text += file.lineInput();
        }
        file.close();
        // The text changes only now, after the whole file was read.
        f.Tex.setText(text);
    });
}

void mnu_Save_Click(rt::FrmMain& f) {
    // Any error ends the command silently; an existing file keeps its old
    // content, because nothing was committed.
    rt::trapErrors([&f] {
        f.cmnSave.setFilter(textFileFilter());
        f.cmnSave.showSave();
        rt::OutputFile file(f.cmnSave.fileName());
        file.print(f.Tex.text());
        // The file on disk is replaced only here, once every byte is written.
        file.close();
    });
}

} // namespace editor
