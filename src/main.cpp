#include "main_window.h"
#include "window/runtime.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    rt::useUtf8Characters();
    QApplication app(argc, argv);
    return yonamito::run();
}
