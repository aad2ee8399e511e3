#pragma once

// What every widget test starts from: the real window on Qt's offscreen
// platform, opened as a user finds it, its buttons clicked, its file dialogs
// answered by the test and its message boxes noted and closed.

#include "main_window.h"
#include "window/runtime.h"

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace testfiles {

// The file's bytes, or a marker no real content equals when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace testfiles

class WindowTest : public QObject {
protected:
    std::unique_ptr<yonamito::MainWindow> app_;
    QTemporaryDir dir_;
    QString filter_;    // the filter the last file dialog was given
    QStringList boxes_; // "title|text" of each message box of the last press
    // The answer to a question box.
    QMessageBox::StandardButton reply_ = QMessageBox::Yes;

    rt::FrmMain& f() { return app_->controls(); }
    QWidget* window() { return app_->form().window(); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    // Once per test program: the runtime, and file dialogs that answer what
    // the test gives press().
    void setUpRuntime() {
        rt::setUpApplication(rt::versionRecord());
        rt::CommonDialog::setScript([this](rt::CommonDialog::Mode, const QString& filter) {
            filter_ = filter;
            return answer_;
        });
    }

    // A new window, shown and active; then a click on Details and one on the
    // message (which shows the bar) where asked.
    bool start(bool details, bool bar) {
        app_ = std::make_unique<yonamito::MainWindow>();
        app_->form().load();
        app_->form().show();
        if (!QTest::qWaitForWindowActive(window()))
            return false;
        if (details)
            click(f().ShowSui);
        if (bar)
            QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        return true;
    }

    void click(rt::CommandButton& button) { QTest::mouseClick(button.button(), Qt::LeftButton); }

    // Clicks a button, the file dialog answering `answer` (empty: cancelled),
    // and closes each message box that appears, noting its title and text.
    void press(rt::CommandButton& button, const QString& answer) {
        answer_ = answer;
        boxes_.clear();
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes_ << box->windowTitle() + u'|' + box->text();
                if (QAbstractButton* reply = box->button(reply_))
                    reply->click();
                else
                    box->accept();
            }
        });
        closer.start(10);
        click(button);
    }
    void open(const QString& name) { press(f().mnu_Open, name); }
    void save(const QString& name) { press(f().mnu_Save, name); }

private:
    QString answer_;
};
