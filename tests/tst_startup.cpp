// Start-up as a user meets it: the options dialog, the summary box, the window
// size, the help boxes, and the built program on a real X server.
#include "mmtest.h"
#include "xvfbsession.h"

#include <QAbstractButton>
#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

Q_DECLARE_METATYPE(mmtest::OptionsEditor)

namespace
{

// What a message box showed, read while it was open.
struct BoxSeen {
    QString title;
    QString text;
    QPixmap icon;
    QMessageBox::StandardButtons buttons;
};

mmtest::ModalAnswer readAndClose(BoxSeen *seen)
{
    return {
        &QMessageBox::staticMetaObject, [seen](QWidget *w) {
            auto *box = static_cast<QMessageBox *>(w);
            *seen = {box->windowTitle(), box->text(), box->iconPixmap(), box->standardButtons()};
            box->button(QMessageBox::Ok)->click();
        }};
}

BoxSeen openBox(MainWindow &window, const char *actionName)
{
    BoxSeen seen;
    auto *action = mmtest::widget<QAction>(&window, actionName);
    mmtest::answerModals([action] { action->trigger(); }, {readAndClose(&seen)});
    return seen;
}

const QString untouchedSummary = "Serial device: /dev/ttyUSB0\n"
                                 "Baudrate: 9600\n"
                                 "\n"
                                 "Message data bytes: 12\n"
                                 "Sensor 1 type: CMR3000 gyroscope\n"
                                 "Sensor 2 type: SCA3100 accelerometer\n"
                                 "\n"
                                 "Please make sure that your device(s) are ready!";

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void summary_data();
    void summary();
    void windowAfterStartup_data();
    void windowAfterStartup();
    void aboutBox();
    void aboutIconNeedsLogoBesideTheProgram();
    void readmeBox();
    void declinedProgramEndsWithStatusZero();
    void acceptedProgramShowsSummaryThenWindow_data();
    void acceptedProgramShowsSummaryThenWindow();
};

void TestStartup::summary_data()
{
    QTest::addColumn<mmtest::OptionsEditor>("edit");
    QTest::addColumn<QString>("expected");

    QTest::newRow("untouched") << mmtest::OptionsEditor() << untouchedSummary;
    QTest::newRow("test mode") << mmtest::OptionsEditor([](Options &o) { mmtest::setTestMode(o); })
                               << "TEST MODE\n\n" + untouchedSummary;
    QTest::newRow("slot 2 off") << mmtest::OptionsEditor(
                                       [](Options &o) { mmtest::setSensor(o, 2, false, 1, 6); })
                                << QString(untouchedSummary)
                                       .replace("Sensor 2 type: SCA3100 accelerometer",
                                                "Sensor 2 UNUSED");
    // Slot 1 switched off is still named by the type chosen for it.
    QTest::newRow("slot 1 off") << mmtest::OptionsEditor([](Options &o) {
        mmtest::setSensor(o, 1, false, 0, 6);
    }) << untouchedSummary;
    QTest::newRow("other device and sensors") << mmtest::OptionsEditor([](Options &o) {
        mmtest::setDevice(o, "/dev/ttyACM3");
        mmtest::setSensor(o, 1, true, 1, 4);
        mmtest::setSensor(o, 2, true, 0, 5);
    })
                                              << "Serial device: /dev/ttyACM3\n"
                                                 "Baudrate: 9600\n"
                                                 "\n"
                                                 "Message data bytes: 9\n"
                                                 "Sensor 1 type: SCA3100 accelerometer\n"
                                                 "Sensor 2 type: CMR3000 gyroscope\n"
                                                 "\n"
                                                 "Please make sure that your device(s) are ready!";
}

void TestStartup::summary()
{
    QFETCH(mmtest::OptionsEditor, edit);
    QFETCH(QString, expected);

    BoxSeen seen;
    std::unique_ptr<MainWindow> window;
    mmtest::answerModals([&] { window = std::make_unique<MainWindow>(); },
                         {mmtest::acceptOptions(edit), readAndClose(&seen)});
    QVERIFY(window);
    QCOMPARE(seen.text, expected);
    QCOMPARE(seen.title, QString("Information"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.icon.isNull());
}

// "Draw plots" and the window size that follows from it.
static void windowSizeRows()
{
    QTest::addColumn<bool>("drawPlots");
    QTest::addColumn<QSize>("size");
    QTest::newRow("plots") << true << QSize(1000, 780);
    QTest::newRow("Draw plots off") << false << QSize(450, 780);
}

void TestStartup::windowAfterStartup_data()
{
    windowSizeRows();
}

void TestStartup::windowAfterStartup()
{
    QFETCH(bool, drawPlots);
    QFETCH(QSize, size);

    auto window =
        mmtest::startMainWindow([drawPlots](Options &o) { mmtest::setDrawPlots(o, drawPlots); });
    QVERIFY(window);
    QCOMPARE(window->size(), size);
    QCOMPARE(window->windowTitle(), QString("MainWindow"));
    QCOMPARE(window->objectName(), QString("MainWindow"));
    // main() shows the window; the constructor leaves that to it.
    QVERIFY(!window->isVisible());
    // The acceptance reached the window before the summary: its lines, only.
    QCOMPARE(mmtest::widget<QTextBrowser>(window.get(), "msgBrowser")->toPlainText(),
             QString("options updated.\n****************"));
    QPointer<Options> options = mmtest::optionsDialog();
    QVERIFY(options);
    QVERIFY(options->isHidden());

    // A top-level dialog stays reachable through the toolkit, so a leak check
    // would not notice it left behind: the window must release it itself.
    window.reset();
    QVERIFY(options.isNull());
}

void TestStartup::aboutBox()
{
    auto window = mmtest::startMainWindow();
    QVERIFY(window);
    const BoxSeen about = openBox(*window, "actionAbout");
    QCOMPARE(about.title, QString("Information"));
    QCOMPARE(about.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    const QStringList lines = about.text.split('\n');
    QCOMPARE(lines.size(), 10); // nine lines, each ended by a line break
    QCOMPARE(lines.first(), QString("This program is made by:"));
    QCOMPARE(lines.at(8), QString("Version: 1.3.0_linux "));
    QVERIFY(about.text.endsWith("\n"));
    for (int empty : {1, 4, 7, 9})
        QVERIFY2(lines.at(empty).isEmpty(), qPrintable(lines.at(empty)));
    QVERIFY(lines.at(5).startsWith("at "));
}

void TestStartup::aboutIconNeedsLogoBesideTheProgram()
{
    auto window = mmtest::startMainWindow();
    QVERIFY(window);
    {
        mmtest::WorkingDirectory here(mmtest::programDir());
        const QPixmap logo(mmtest::programDir() + "/logo.png");
        QVERIFY(!logo.isNull());
        const BoxSeen about = openBox(*window, "actionAbout");
        QCOMPARE(about.icon.size(), logo.size());
        QCOMPARE(about.icon.toImage(), logo.toImage());
    }
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    mmtest::WorkingDirectory there(elsewhere.path());
    const BoxSeen about = openBox(*window, "actionAbout");
    QVERIFY(about.icon.isNull());
    QVERIFY(about.text.endsWith("Version: 1.3.0_linux \n"));
}

void TestStartup::readmeBox()
{
    auto window = mmtest::startMainWindow();
    QVERIFY(window);
    for (int time = 0; time < 2; ++time) {
        const BoxSeen readme = openBox(*window, "actionReadme");
        QCOMPARE(readme.text, QString("Check readme.txt"));
        QCOMPARE(readme.title, QString("Information"));
        QVERIFY(readme.icon.isNull());
    }
}

// The built program on a real X server, driven by keys and clicks.
namespace
{

// The built program on its own X server, started beside logo.png.
struct ProgramOnX {
    XvfbSession x;
    QProcess process;
    qint64 pid = 0;
    QString options; // the start-up options dialog's window, once shown

    ~ProgramOnX()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(30000);
        }
    }
    QString output() { return QString::fromLocal8Bit(process.readAll()); }
};

// Starts the program and waits for its options dialog.
void startUntilOptions(ProgramOnX &p)
{
    QVERIFY2(p.x.isRunning(), qPrintable(p.x.error()));
    p.process.setProcessEnvironment(p.x.environment());
    p.process.setWorkingDirectory(mmtest::programDir());
    p.process.setProcessChannelMode(QProcess::MergedChannels);
    p.process.start(mmtest::programPath(), {});
    QVERIFY(p.process.waitForStarted(30000));
    p.pid = p.process.processId();
    p.options = p.x.waitForWindow(p.pid, "^Options$");
    QVERIFY2(!p.options.isEmpty(), qPrintable(p.output()));
}

} // namespace

void TestStartup::declinedProgramEndsWithStatusZero()
{
    ProgramOnX program;
    startUntilOptions(program);
    if (QTest::currentTestFailed())
        return;
    const XvfbSession &x = program.x;
    const qint64 pid = program.pid;
    const QString options = program.options;
    QCOMPARE(x.visibleWindows(pid, "."), QStringList{options});
    QVERIFY(x.pressKey(options, "Escape"));

    // Until the process has ended, no other window may appear.
    const QDeadlineTimer deadline(60000);
    while (program.process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        const QStringList others = x.visibleWindows(pid, "^(MainWindow|Information)$");
        QVERIFY2(others.isEmpty(), "a window appeared after the options were declined");
        program.process.waitForFinished(50);
    }
    QVERIFY2(program.process.state() == QProcess::NotRunning, "still running");
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.process.exitCode() == 0, qPrintable(program.output()));
}

void TestStartup::acceptedProgramShowsSummaryThenWindow_data()
{
    windowSizeRows();
}

void TestStartup::acceptedProgramShowsSummaryThenWindow()
{
    QFETCH(bool, drawPlots);
    QFETCH(QSize, size);

    ProgramOnX program;
    startUntilOptions(program);
    if (QTest::currentTestFailed())
        return;
    const XvfbSession &x = program.x;
    const qint64 pid = program.pid;
    const QString options = program.options;
    QCOMPARE(x.windowSize(options), QSize(592, 407));
    if (!drawPlots) {
        // "Draw plots" sits at 10,10 in the plot panel at 460,120.
        QVERIFY(x.click(options, 460 + 10 + 8, 120 + 10 + 11));
    }
    QVERIFY(x.pressKey(options, "Return"));

    const QString summary = x.waitForWindow(pid, "^Information$");
    QVERIFY2(!summary.isEmpty(), qPrintable(program.output()));
    QVERIFY(x.visibleWindows(pid, "^MainWindow$").isEmpty());
    QVERIFY(x.visibleWindows(pid, "^Options$").isEmpty());
    QVERIFY(x.pressKey(summary, "Return"));

    const QString window = x.waitForWindow(pid, "^MainWindow$");
    QVERIFY2(!window.isEmpty(), qPrintable(program.output()));
    QCOMPARE(x.windowSize(window), size);
    QCOMPARE(x.xdotool({"getwindowname", window}), QString("MainWindow"));
    QVERIFY(x.visibleWindows(pid, "^Information$").isEmpty());
    QCOMPARE(program.process.state(), QProcess::Running);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
