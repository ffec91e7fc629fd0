#include "application.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "ui/Unit1.h"

int RunApplication() {
    // The program takes no arguments; Qt is given only a program name.
    static int argc = 1;
    static char name[] = "krx3-upload";
    static char* argv[] = {name, nullptr};
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("KRX3 LogFile Upload Tool"));
        try {
            TForm1 form;
            form.show();
            QApplication::exec();
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromLocal8Bit(e.what()));
        } catch (...) {
            QMessageBox::critical(nullptr, QApplication::applicationName(), QString());
        }
    } catch (...) {
        // No application object, so nothing can be shown.
    }
    return 0;
}
