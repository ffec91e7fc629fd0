// Writes a PNG of one X window, named by its id: how the smoke test of the
// Windows program keeps a picture of the window it drove under Wine.
//
//   grab_window WINDOW-ID FILE.png     (DISPLAY names the X server)
//
// Exit status 0: written; 1: no picture of that window; 2: usage.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");  // the window is on an X server, whatever QT_QPA_PLATFORM says
    QGuiApplication app(argc, argv);
    bool ok = argc == 3;
    const WId id = ok ? QString::fromLocal8Bit(argv[1]).toULongLong(&ok, 0) : 0;
    if (!ok) return 2;
    const QPixmap picture = app.primaryScreen()->grabWindow(id);
    return !picture.isNull() && picture.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
