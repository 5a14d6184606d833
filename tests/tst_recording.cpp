// Recordings as a user keeps and opens them: the logger's files and sessions the
// program recorded, exported by the built program and shown in the viewer.
#include "datalogger.h"
#include "mmtest.h"
#include "recording.h"
#include "recordingviewer.h"

#include <QListWidget>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

namespace
{

// Sample n: distinct per n; over 65 536 samples, every range from end to end.
mmtest::Values sample(int n)
{
    return {n * 37 % 16384 - 8192,   8191 - n % 16384,  n % 2 ? -8192 : 8191,
            n * 101 % 65536 - 32768, 32767 - n % 65536, n % 2 ? -32768 : 32767};
}

// A session of rows 0..9 of log.txt: row 5 at 0.5 s, row 9 at the end; two notes.
const QByteArray session =
    R"({"format":"motionmonitor-session","version":1,"start":"2026-12-07T17:17:44.512Z"}
{"t_ms":0,"rows":0,"event":"file","path":"log.txt","offset":0,"index":0}
{"t_ms":500,"rows":6,"event":"mark"}
{"t_ms":500,"rows":6,"event":"note","at_ms":250,"text":"trial 3, \u0022left\u0022 foot"}
{"t_ms":500,"rows":6,"event":"note","at_ms":450,"text":"päivä\nsecond line"}
{"t_ms":900,"rows":10,"event":"end"}
)";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT
    QTemporaryDir tmp;
    QByteArray log; // tmp/log.txt, as the logger wrote it; sample n in row n

    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(tmp.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName()
                                                                                  : QString();
    }

private slots:
    // Three starts of the program's logger within one second append to one
    // file: 10 rows, none, 69 990 rows (across many of the reader's chunks).
    void initTestCase()
    {
        Datalogger logger;
        logger.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(17, 17, 44)); });
        logger.ReceiveFilename(tmp.path());
        int n = 0;
        for (const int rows : {10, 0, 69990}) {
            logger.CreateFile();
            for (const int end = n + rows; n < end; ++n)
                std::apply([&](auto... v) { logger.Log(v...); }, sample(n));
        }
        QVERIFY(QFile::rename(logger.currentFile(), tmp.filePath("log.txt")));
        log = readAll(tmp.filePath("log.txt"));
        QVERIFY(QDir().mkdir(tmp.filePath("logs")));
        write("07.12, 17.17.44.txt", log.split('\n').mid(0, 11).join('\n') + '\n'); // rows 0..9
    }

    // Files exported by the built program without a display: rows and times, notes of what was
    // cut short, refusals naming the line (each rule: the fuzz targets); --view: a usage error.
    void withoutADisplay_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("out");  // for --export; none: --view alone
        QTest::addColumn<int>("first");    // the sample of the first row
        QTest::addColumn<int>("rows");     // -1: refused
        QTest::addColumn<QString>("said"); // on the standard error stream; %1: tmp
        QTest::addColumn<double>("step");  // between a session's rows, in seconds
        const auto row = [](const char *name, const QByteArray &content, const char *out, int first,
                            int rows, const char *said, double step = 0.1) {
            QTest::newRow(name) << content << QString(out) << first << rows << QString(said)
                                << step;
        };
        const QByteArray crlf = QByteArray(log).replace("\n", "\r\n");
        row("log file", log, "log.csv", 0, 70000, "");
        row("Windows line ends, the last line cut short", crlf + "1,2", "crlf.csv", 0, 70000,
            "copy.txt:70004: the last line was cut short");
        row("refused", log + "x\n", "refused.png", 0, -1, "copy.txt:70004: 1 fields");
        row("image", log, "log.png", 0, 70000, "");
        row("session", session, "session.pdf", 0, 10, "");
        const QByteArray third = "\"offset\":" + QByteArray::number(log.lastIndexOf("indeksi"));
        row("session after an earlier one in its log file",
            QByteArray(session).replace("\"offset\":0", third), "later.csv", 10, 10, "");
        row("session cut short", session.chopped(20), "cut.csv", 0, 6,
            "s.session.jsonl:6: the last line was cut short");
        row("not a session", QByteArray(session).replace(":1,", ":2,"), "other.csv", 0, -1,
            "s.session.jsonl:1: not a session file");
        row("session naming a missing log file", QByteArray(session).replace("log", "gone"),
            "missing.csv", 0, -1, "s.session.jsonl:2: the log file %1/gone.txt is missing");
        // As written with a relative log directory by earlier versions: relative to the
        // working directory of the time, not to the session file.
        row("session naming its log file from the working directory",
            QByteArray(session).replace("log.txt", "logs/log.txt"), "old.csv", 0, 10, "");
        // Cut short after its first line: the log file named after its start (a file of ten
        // rows) at the line's pace, 14 bytes a frame at 960 bytes/s; or nothing to open.
        const QByteArray head = session.left(session.indexOf('}')) +
                                R"(,"options":{"data_bytes":12,"end1":55,"end2":1}})" + '\n';
        row("session cut after its first line", head, "cut1.csv", 0, 10,
            "s.session.jsonl: the session file was cut short after its first line", 14 / 960.0);
        row("session cut after its first line, no log file of its start",
            QByteArray(head).replace("17:17:44", "17:17:50"), "cut2.csv", 0, -1,
            "s.session.jsonl: the session file names no log file");
        row("--view", log, "", 0, -1, "needs a display (DISPLAY is not set); --view FILE --export");
    }
    void withoutADisplay()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, out);
        QFETCH(int, first);
        QFETCH(int, rows);
        QFETCH(QString, said);
        QFETCH(double, step);
        const bool session = content.startsWith('{');
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment().filter(
            QRegularExpression("^(?!DISPLAY=|WAYLAND_DISPLAY=|QT_QPA_PLATFORM=)")));
        p.start(MM_BINARY,
                QStringList{"--view", write(session ? "s.session.jsonl" : "copy.txt", content)} +
                    (out.isEmpty() ? QStringList() : QStringList{"--export", tmp.filePath(out)}));
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), out.isEmpty() ? 2 : rows < 0 ? 1 : 0);
        const QString error = p.readAllStandardError();
        QVERIFY2(error.contains("motionmonitor: ") == !said.isEmpty() &&
                     error.contains(said.replace("%1", tmp.path())) &&
                     (!out.isEmpty() || error.count('\n') == 1),
                 qPrintable(error));
        const QString file = tmp.filePath(out);
        QCOMPARE(QFileInfo(file).isFile(), rows >= 0);
        if (rows >= 0 && out.endsWith(".csv")) { // a session's rows 0.1 s apart
            QStringList csv = QString(readAll(file)).trimmed().split('\n');
            QCOMPARE(csv.takeFirst(), (session ? "time_s" : "row") +
                                          QString(",acc_x,acc_y,acc_z,gyro_x,gyro_y,gyro_z"));
            QCOMPARE(csv.size(), rows);
            for (int i = 0; i < rows; ++i) {
                QString values;
                for (const int v : sample(first + i))
                    values += ',' + QString::number(v);
                const double key = csv[i].section(',', 0, 0).toDouble();
                QCOMPARE(csv[i].section(',', 1), values.mid(1));
                QVERIFY(session ? qAbs(key - i * step) < 0.0015 : key == i);
            }
        } else if (rows >= 0) {
            QVERIFY(readAll(file).startsWith(out.endsWith(".pdf") ? "%PDF-" : "\x89PNG\r\n\x1a\n"));
            QVERIFY(out.endsWith(".pdf") || mmtest::curvePixels(QImage(file)) > 2000); // curves
        }
    }

    // `motionmonitor --record` over roll-overs and an unplug, with the default log directory
    // `logs` in a working directory with a space; its CSV as the built program exports it from
    // elsewhere: the rows logged as sent, at rising times spanning the session, the line's rate
    // of rows in the first second and in the second after the reconnection (68 +- 3); the
    // session names its log files beside it; the receiver's absence a gap, two events, a break.
    void sessionOverAnUnplug()
    {
        QTemporaryDir home(QDir::tempPath() + "/mm record XXXXXX");
        mmtest::WorkingDirectory here(home.path());
        const QString link = home.filePath("ttyUSB0"), logs = home.filePath("logs");
        QVERIFY(QDir().mkpath(logs));
        const auto session = [&] {
            return QDir(logs).filePath(QDir(logs).entryList({"*.session.jsonl"}).value(0));
        };
        auto first = std::make_unique<mmtest::Nodesim>(link, QStringList{"--hangup-after", "100"});
        QProcess recorder;
        recorder.start(MM_BINARY, {"--record", "--device", link, "--log-dir", "logs",
                                   "--rows-per-file", "40"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(session()).isFile(), 20000); // at the first row
        QElapsedTimer wall;
        wall.start();
        // Away for a second at least: the marks of three half-second ticks after the loss.
        QTRY_VERIFY_WITH_TIMEOUT(
            QString(readAll(session())).section("\"lost\"", 1).count("\"mark\"") >= 3, 25000);
        first.reset();
        mmtest::Nodesim second(link, {"--count", "150"});
        const QString last = mmtest::sineRows(150).last().section(',', 1);
        QTRY_VERIFY_WITH_TIMEOUT(mmtest::logRows(logs).join('\n').endsWith("," + last), 30000);
        const double seconds = double(wall.elapsed()) / 1000;
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        const QStringList rows = mmtest::logRows(logs);
        const int gap = int(rows.size()) - 150; // before the second simulator's rows
        const QStringList sent = mmtest::sineRows(gap) + mmtest::sineRows(150);
        QVERIFY(!readAll(session()).contains("\"path\":\"logs/"));

        const QStringList csv = mmtest::exportedCsv(session()).mid(1);
        QCOMPARE(csv.size(), rows.size());
        const auto time = [&](int i) { return csv[i].section(',', 0, 0).toDouble(); };
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(csv[i].section(',', 1), rows[i].section(',', 1));
            QCOMPARE(rows[i].section(',', 1), sent[i].section(',', 1));
            QVERIFY(i == 0 || time(i) > time(i - 1));
        }
        QVERIFY(qAbs(time(gap + 149) - seconds) < 1 && time(gap) - time(gap - 1) >= 1);
        int afterGap = 0;
        for (int i = gap; i < rows.size(); ++i)
            afterGap += time(i) < time(gap) + 1;
        QVERIFY2(qAbs(mmtest::rowsPerSecond(QStringList{""} + csv)[0] - 68) <= 3 &&
                     qAbs(afterGap - 68) <= 3,
                 qPrintable(csv.mid(0, 3).join(' ') + " ... " + csv.mid(gap, 3).join(' ')));
        QString error;
        std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(session(), nullptr, &error));
        QVERIFY2(viewer, qPrintable(error));
        const Timeline &timeline = *viewer->recording().timeline();
        QCOMPARE(timeline.breaks, std::vector<std::int64_t>{gap});
        int away = 0;
        for (const Timeline::Event &e : timeline.events)
            away += e.kind == Timeline::Event::Link && e.seconds >= timeline.seconds(gap - 1) &&
                    e.seconds <= timeline.seconds(gap);
        // Lost and reopened in the gap; the first log file and six roll-overs.
        QCOMPARE(std::pair(away, int(readAll(session()).count("\"file\""))), std::pair(2, 7));
        viewer->show(); // no line across the gap
        QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
        auto *gyro = mmtest::widget<QCustomPlot>(viewer.get(), "gyroPlot");
        const QImage image = gyro->toPixmap(gyro->width(), gyro->height()).toImage();
        QRect band = gyro->axisRect()->rect().adjusted(0, 2, 0, -2);
        band.setLeft(int(gyro->xAxis->coordToPixel(timeline.seconds(gap - 1))) + 3);
        band.setRight(int(gyro->xAxis->coordToPixel(timeline.seconds(gap))) - 3);
        QVERIFY(band.width() > 100);
        QCOMPARE(mmtest::curvePixels(image) - mmtest::curvePixels(image, band), 0);
    }

    // A session's notes: written as CSV by the built program (--notes; a log file on its own has
    // none), marked on the time axis with their text and listed in the viewer, where a click
    // centres the view on one.
    void notes()
    {
        const QString file = write("notes.session.jsonl", session), csv = tmp.filePath("n.csv");
        for (const QString &from : {write("alone.txt", log), file}) {
            QProcess p;
            p.start(MM_BINARY, {"--view", from, "--export", csv, "--notes"});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), from == file ? 0 : 1);
        }
        QCOMPARE(readAll(csv), QByteArray("time_s,text\n0.250,\"trial 3, \"\"left\"\" foot\"\n"
                                          "0.450,\"päivä\nsecond line\"\n"));
        QString error;
        std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(file, nullptr, &error));
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
        auto *list = mmtest::widget<QListWidget>(viewer.get(), "notes");
        QCOMPARE(list->item(1)->text(), "0.45 s  päivä\nsecond line");
        auto *acc = mmtest::widget<QCustomPlot>(viewer.get(), "accPlot");
        acc->xAxis->setRange(0.6, 0.8);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
        QCOMPARE(acc->xAxis->range().center(), 0.25);
        QStringList labels;
        for (const QCPItemText *label : acc->findChildren<QCPItemText *>())
            labels << label->text();
        QVERIFY(labels.contains("trial 3, \"left\" foot") && labels.contains("päivä"));
    }

    // "Open recording…": a broken file named in a box (as by --view), a good
    // one in a viewer whose plots move together, with the statistics of the
    // rows in view, and which a double-click fits to the recording.
    void opensFromTheMainWindow()
    {
        const QString good = write("view.txt", log);
        const QString broken = write("broken.txt", log.left(log.indexOf('\n') + 1) + "0,x");
        auto window = mmtest::startMainWindow();
        mmtest::MessageBox box, viewBox;
        mmtest::trigger(*window, "actionOpenRecording",
                        {mmtest::chooseFiles(QStringLiteral("\"%1\" \"%2\"").arg(good, broken)),
                         mmtest::closeMessageBox(&box)});
        QCOMPARE(box.text, broken + ":2: 2 fields where a row has 7");
        auto *viewer = mmtest::widget<QMainWindow>(window.get(), "RecordingViewer");
        auto *gyro = mmtest::widget<QCustomPlot>(viewer, "gyroPlot");
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QVERIFY(!mmtest::widget<QListWidget>(viewer, "notes")->isVisible()); // no notes
        gyro->xAxis->setRange(100, 120);
        QCOMPARE(mmtest::widget<QCustomPlot>(viewer, "accPlot")->xAxis->range(),
                 QCPRange(100, 120));
        auto *statistics = mmtest::widget<QTableWidget>(viewer, "statistics");
        QCOMPARE(statistics->item(0, Recording::GyroX)->text(), // gyroscope X rises in view
                 QString::number(sample(100)[Recording::GyroX]));
        gyro->yAxis->setRange(-10, 10);
        QTest::mouseDClick(gyro, Qt::LeftButton, {}, gyro->axisRect()->center());
        QCOMPARE(gyro->xAxis->range(), QCPRange(0, 69999));
        const QCPRange values = gyro->yAxis->range();
        QVERIFY(values.contains(-32768) && values.contains(32767) && values.size() < 80000);
        mmtest::answerModals([&] { QCOMPARE(viewRecording(broken, {}), 1); },
                             {mmtest::closeMessageBox(&viewBox)});
        QCOMPARE(viewBox.text, box.text);
    }

    // The viewer's spectrum follows the view, at the rate given for a log file; a calibration,
    // the session's own or one applied, turns the statistics and the value axes into units.
    void spectrumAndCalibrationInTheViewer()
    {
        const QByteArray inUnits = R"(,"calibration":{"format":"motionmonitor-calibration",)"
                                   R"("version":1,"accelerometer":{"unit":"g","x":{"offset":100,)"
                                   R"("scale":0.5},"y":{"offset":0,"scale":0.5},"z":{"offset":0,)"
                                   R"("scale":0.5}}}})";
        QString error;
        std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(
            write("calibrated.session.jsonl", QByteArray(session).replace("Z\"}", "Z\"" + inUnits)),
            nullptr, &error));
        QVERIFY2(viewer, qPrintable(error));
        const auto statistic = [](QWidget *w, int row, int column) {
            return mmtest::widget<QTableWidget>(w, "statistics")->item(row, column)->text();
        };
        QCOMPARE(statistic(viewer.get(), 0, Recording::AccX), "-4146.00"); // (-8192 - 100) / 2
        const QCPAxis *values = mmtest::widget<QCustomPlot>(viewer.get(), "accPlot")->yAxis;
        QCOMPARE(values->label(), "Magnitude (g)");
        QVERIFY(values->range().contains(-4146) && values->range().lower > -5000); // drawn so
        ViewRequest csv;
        csv.exportFile = tmp.filePath("calibrated.csv");
        QCOMPARE(viewRecording(tmp.filePath("calibrated.session.jsonl"), csv), 0);
        QVERIFY(readAll(tmp.filePath("calibrated.csv"))
                    .startsWith("time_s,acc_x_g,acc_y_g,acc_z_g,gyro_x,"));

        viewer.reset(RecordingViewer::open(write("view.txt", log), nullptr, &error, 68.5));
        auto *acc = mmtest::widget<QCustomPlot>(viewer.get(), "accPlot");
        auto *spectrum = mmtest::widget<QCustomPlot>(viewer.get(), "accSpectrum");
        const auto title = [&] {
            return static_cast<QCPTextElement *>(spectrum->plotLayout()->element(0, 0))->text();
        };
        viewer->findChild<QAction *>("actionSpectrum")->trigger();
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.get()) && acc->isHidden());
        // 70 000 rows: (70 000 - 8192) / 4096 + 1 segments; 10 000 rows: (10 000 - 2048) / 1024
        // + 1.
        QTRY_VERIFY(
            title().contains("no rate: cycles per row, step 0.0001221, 16 segments of 8192"));
        acc->xAxis->setRange(0, 9999);
        QTRY_VERIFY(title().contains("8 segments of 2048 rows"));
        mmtest::widget<QPushButton>(viewer.get(), "linePace")->click();
        QTRY_VERIFY(title().contains("68.50 rows/s, step 0.03345 Hz"));
        const QString file = write("my calibration.json",
                                   R"({"format":"motionmonitor-calibration","version":1,)"
                                   R"("gyroscope":{"unit":"°/s","y":{"offset":0,"scale":2}}})");
        mmtest::answerModals(
            [&] { viewer->findChild<QAction *>("actionApplyCalibration")->trigger(); },
            {mmtest::chooseFiles(file)});
        QCOMPARE(statistic(viewer.get(), 1, Recording::GyroY), QString::number(2 * 32767) + ".0");
        QTRY_VERIFY(spectrum->yAxis->label().contains("counts²/Hz") &&
                    mmtest::widget<QCustomPlot>(viewer.get(), "gyroSpectrum")
                        ->yAxis->label()
                        .contains("(°/s)²/Hz"));
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
