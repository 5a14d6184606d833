#include "calibratecommand.h"
#include "mainwindow.h"
#include "noteserver.h"
#include "recorder.h"
#include "recordingviewer.h"
#include "termination.h"
#include "welch.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
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

bool given(int argc, char **argv, const char *option)
{
    const size_t n = std::strlen(option);
    for (int i = 1; i < argc; ++i)
        if (!std::strncmp(argv[i], option, n) && (argv[i][n] == 0 || argv[i][n] == '='))
            return true;
    return false;
}

// An export draws into memory only, so it needs no display: it runs on the
// offscreen platform unless one is asked for. A window does need one; Qt
// would abort without it.
bool displayFor(int argc, char **argv)
{
    if (answersOnly(argc, argv))
        return true;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (given(argc, argv, "--export")) {
        if (platform.isEmpty())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    const bool windowSystem =
        platform.isEmpty() || platform == "xcb" || platform.startsWith("wayland");
    return !windowSystem || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything touches the window system.
    if (given(argc, argv, "--note"))
        return runNote(argc, argv, MainWindow::versionString());
    if (given(argc, argv, "--record"))
        return runRecorder(argc, argv, MainWindow::versionString());
    if (given(argc, argv, "--calibrate"))
        return runCalibrate(argc, argv, MainWindow::versionString());
    if (!displayFor(argc, argv)) {
        std::fputs(given(argc, argv, "--view")
                       ? "motionmonitor: --view needs a display (DISPLAY is not set); --view FILE "
                         "--export OUT.png|.pdf|.csv works without one\n"
                       : "motionmonitor: the window needs a display (DISPLAY is not set); "
                         "without one, --record records and --view FILE --export OUT.png|.pdf|"
                         ".csv draws or writes a recording\n",
                   stderr);
        return 2;
    }
    const std::unique_ptr<QCoreApplication> app(
        answersOnly(argc, argv) ? new QCoreApplication(argc, argv) : new QApplication(argc, argv));
    QCoreApplication::setApplicationName("motionmonitor");
    QCoreApplication::setApplicationVersion(MainWindow::versionString());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Monitors and logs a wireless motion-sensor node through its USB receiver.\n"
        "Every run starts with the options dialog; cancelling it ends the program.\n"
        "With --view, it shows a session or a log file it wrote instead.\n"
        "With --record, it acquires and logs without a window: see --record --help.\n"
        "With --calibrate, it measures a calibration from a recording: see --calibrate --help.\n"
        "With --note TEXT, it adds a note to a running --record: see --note --help.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption view(
        "view", "Show the recording in <file>: a session file or a log file.", "file");
    const QCommandLineOption exportImage("export",
                                         "With --view: write its plots to <out> (.png, .jpg or "
                                         ".pdf) or its rows to <out> (.csv), and exit.",
                                         "out");
    const QCommandLineOption spectrum(
        "spectrum", "With --view: show the spectrum of the rows in view; with --export, write its "
                    "plots, or its densities as CSV.");
    const QCommandLineOption from("from",
                                  "With --view: the view's start (seconds of a session, "
                                  "rows of a log file).",
                                  "key");
    const QCommandLineOption to("to", "With --view: the view's end.", "key");
    const QCommandLineOption calibration(
        "calibration", "With --view: show values in the units of the calibration <file>.", "file");
    const QCommandLineOption rate("rate",
                                  "With --view of a log file: its rows per second, for the "
                                  "spectrum (default: none, cycles per row).",
                                  "hz");
    const QCommandLineOption segment(
        "segment", "With --view: rows in each segment of the spectrum, a power of two.", "rows");
    const QCommandLineOption notes(
        "notes", "With --view and --export <out>.csv: write the session's notes (time_s,text) "
                 "instead of its rows.");
    parser.addOptions({view, exportImage, spectrum, from, to, calibration, rate, segment, notes});
    parser.process(*app);
    const auto usage = [](const char *text) {
        std::fprintf(stderr, "motionmonitor: %s (see --help)\n", text);
        return 2;
    };
    for (const QCommandLineOption &o :
         {exportImage, spectrum, from, to, calibration, rate, segment, notes})
        if (parser.isSet(o) && !parser.isSet(view))
            return usage(qPrintable("--" + o.names().first() + " needs --view"));
    ViewRequest request;
    request.exportFile = parser.value(exportImage);
    request.spectrum = parser.isSet(spectrum);
    request.calibrationFile = parser.value(calibration);
    bool ok = true;
    for (auto [option, value] : {std::pair(&from, &request.from), std::pair(&to, &request.to)})
        if (parser.isSet(*option) && ok)
            *value = parser.value(*option).toDouble(&ok);
    if (!ok)
        return usage("--from and --to take a number");
    if (parser.isSet(rate))
        request.rate = parser.value(rate).toDouble(&ok);
    if (!ok || request.rate < 0)
        return usage("--rate takes rows per second, 0 or more");
    if (parser.isSet(segment))
        request.segment = parser.value(segment).toInt(&ok);
    if (parser.isSet(segment) &&
        (!ok || request.segment < Welch::shortest || request.segment > Welch::longest ||
         (request.segment & (request.segment - 1))))
        return usage("--segment takes a power of two from 64 to 65536");
    request.notes = parser.isSet(notes);
    if (request.notes && !request.exportFile.endsWith(".csv", Qt::CaseInsensitive))
        return usage("--notes needs --export OUT.csv");

    closeOnTermination(*app);
    if (parser.isSet(view))
        return viewRecording(parser.value(view), request);
    // The constructor runs the start-up options dialog and may end the process.
    MainWindow window;
    if (terminationRequested())
        return 0;
    window.show();
    return app->exec();
}
