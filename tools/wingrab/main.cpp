// wingrab: saves the contents of one X window, named by its id, as a PNG
// image. The demonstration script takes its screenshot with it: the X
// packages it installs bring no screenshot tool of their own.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    // A window id means something only to the X server, whatever platform
    // the environment asks for.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const WId window = args.size() == 3 ? args[1].toULongLong(&ok, 0) : 0;
    if (!ok) {
        std::fprintf(stderr, "usage: wingrab <window id, decimal or 0x...> <file.png>\n");
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
    if (shot.isNull() || !shot.save(args[2], "PNG")) {
        std::fprintf(stderr, "wingrab: could not save window %s as %s\n", qPrintable(args[1]),
                     qPrintable(args[2]));
        return 1;
    }
    std::printf("%s: %dx%d\n", qPrintable(args[2]), shot.width(), shot.height());
    return 0;
}
