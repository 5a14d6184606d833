#include "mainwindow.h"
#include "termination.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>
#include <memory>

namespace
{

// --help and --version are answered without reaching the window system, so
// that they work where there is no display.
bool answersOnly(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (!std::strcmp(argv[i], option))
                return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const std::unique_ptr<QCoreApplication> app(
        answersOnly(argc, argv) ? new QCoreApplication(argc, argv) : new QApplication(argc, argv));
    QCoreApplication::setApplicationName("motionmonitor");
    QCoreApplication::setApplicationVersion(MainWindow::versionString());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Monitors and logs a wireless motion-sensor node through its USB receiver.\n"
        "Every run starts with the options dialog; cancelling it ends the program.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(*app);

    closeOnTermination(*app);
    // The constructor runs the start-up options dialog and may end the process.
    MainWindow window;
    if (terminationRequested())
        return 0;
    window.show();
    return app->exec();
}
