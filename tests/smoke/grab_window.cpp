// Writes a PNG of one X window, named by its id: how the smoke test of the
// Windows program keeps a picture of the window it drove under Wine.
//
//   grab_window WINDOW-ID FILE.png     (DISPLAY names the X server)
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    // The window is on an X server, whatever QT_QPA_PLATFORM says.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: grab_window WINDOW-ID FILE.png\n");
        return 2;
    }
    bool ok = false;
    const WId id = QString::fromLocal8Bit(argv[1]).toULongLong(&ok, 0);
    if (!ok) {
        std::fprintf(stderr, "grab_window: not a window id: %s\n", argv[1]);
        return 2;
    }
    const QPixmap picture = app.primaryScreen()->grabWindow(id);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "grab_window: could not grab window %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    std::printf("%s: %dx%d\n", argv[2], picture.width(), picture.height());
    return 0;
}
