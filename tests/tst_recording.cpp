// Recordings as a user keeps and opens them: what the program's logger wrote
// read back, also cut short or copied with Windows line ends, other files
// refused at their first bad line; sessions the program recorded as one
// timeline; the viewer, and images and CSV written by the built program.
#include "datalogger.h"
#include "mmtest.h"
#include "recording.h"
#include "recordingviewer.h"

#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

namespace
{

const QByteArray header = "indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n";

// Sample n: distinct per n; over 65 536 samples, every range from end to end.
mmtest::Values sample(int n)
{
    return {n * 37 % 16384 - 8192,   8191 - n % 16384,  n % 2 ? -8192 : 8191,
            n * 101 % 65536 - 32768, 32767 - n % 65536, n % 2 ? -32768 : 32767};
}

// A session of rows 0..9 of log.txt: row 5 at 0.5 s, row 9 at the end.
const QByteArray session =
    R"({"format":"motionmonitor-session","version":1,"start":"2026-12-07T17:17:44.512Z"}
{"t_ms":0,"rows":0,"event":"file","path":"log.txt","offset":0,"index":0}
{"t_ms":500,"rows":6,"event":"mark"}
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
            for (const int end = n + rows; n < end; ++n) {
                const mmtest::Values v = sample(n);
                logger.Log(v[0], v[1], v[2], v[3], v[4], v[5]);
            }
        }
        QVERIFY(QFile::rename(logger.currentFile(), tmp.filePath("log.txt")));
        log = readAll(tmp.filePath("log.txt"));
    }

    // Log files as copy.txt, and session files beside log.txt: the rows they
    // hold, or refused at the line that breaks a rule, or cut short.
    void recordingsAsTheyCome_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("first"); // the sample of the first row
        QTest::addColumn<int>("rows");  // -1: refused
        // Of the refusal or the note, after "PATH:" (or whole from "%1/"); %1: tmp.
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const QByteArray &content, int first, int rows,
                            const char *message) {
            QTest::newRow(name) << content << first << rows << QString(message);
        };
        const QByteArray h = header, r = "0,1,2,3,4,5,6\n";
        row("log file", log, 0, 70000, "");
        row("Windows line ends", QByteArray(log).replace("\n", "\r\n"), 0, 70000, "");
        row("last row without its line end", log.left(log.indexOf("\n2,")), 0, 1,
            "3: the last line was cut short");
        row("empty", "", 0, -1, "1: the file is empty");
        row("no header", r, 0, -1, "1: not a log file");
        row("leading zero", h + "0,1,2,3,4,05,6\n", 0, -1, "2: field 6 (gyroscope Y) is not");
        row("out of range after a second header", h + r + h + "0,1,8192,3,4,5,6\n", 0, -1,
            "4: field 3 (accelerometer Y) is 8192, out of the range -8192..8191");
        row("long line", h + r + QByteArray(100000, '7'), 0, -1, "3: the line is longer");
        row("session", session, 0, 10, "");
        row("session after an earlier one in its log file",
            QByteArray(session)
                .replace("t\":0", "t\":" + QByteArray::number(log.lastIndexOf(h)))
                .replace(":6,", ":3,")
                .replace(":10,", ":5,"),
            10, 5, "");
        row("session cut short", session.chopped(20), 0, 6, "4: the last line was cut short");
        row("not a session", QByteArray(session).replace(":1,", ":2,"), 0, -1,
            "1: not a session file");
        row("session naming a missing log file", QByteArray(session).replace("log", "gone"), 0, -1,
            "2: the log file %1/gone.txt is missing");
        row("session with a bad line before its last", QByteArray(session).replace("6,\"e", "6"), 0,
            -1, "3: not a JSON object");
        row("session rows falling", QByteArray(session).replace(":10,", ":5,"), 0, -1,
            "4: out of order");
        row("session naming other rows", QByteArray(session).replace("x\":0", "x\":3"), 0, -1,
            "%1/log.txt:2: row index 0 where");
    }
    void recordingsAsTheyCome()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, first);
        QFETCH(int, rows);
        QFETCH(QString, message);
        const QString path =
            write(content.startsWith('{') ? "s.session.jsonl" : "copy.txt", content);
        Recording r;
        QString error;
        QCOMPARE(r.open(path, &error), rows >= 0);
        QCOMPARE(r.rows(), std::max(rows, 0));
        const QString said = rows >= 0 ? r.note() : error;
        message.replace("%1", tmp.path());
        QVERIFY2(
            message.isEmpty()
                ? said.isEmpty()
                : said.startsWith(message.startsWith(tmp.path()) ? message : path + ":" + message),
            qPrintable(said));
        for (int i = 0; i < r.rows(); ++i)
            for (int c = 0; c < Recording::columnCount; ++c)
                QCOMPARE(int(r.column(c)[size_t(i)]), sample(first + i)[size_t(c)]);
        if (rows == 10) { // the first row at the start, those after each line spread evenly
            QCOMPARE(r.timeline()->seconds(0), 0.0);
            QCOMPARE(r.timeline()->seconds(7), 0.7);
            QCOMPARE(r.timeline()->firstRowFrom(0.65), 7);
        }
    }

    // `motionmonitor --record` over roll-overs and an unplug: every frame
    // logged in order, once; the CSV export holds the rows of the log files
    // at rising times that span the session; the one gap, where the receiver
    // was away, holds its two events and breaks the curves.
    void sessionOverAnUnplug()
    {
        const QString link = tmp.filePath("ttyUSB0"), logs = tmp.filePath("unplug");
        QVERIFY(QDir().mkpath(logs));
        const auto session = [&] {
            return QDir(logs).filePath(QDir(logs).entryList({"*.session.jsonl"}).value(0));
        };
        auto first = std::make_unique<mmtest::Nodesim>(link, QStringList{"--hangup-after", "100"});
        QProcess recorder;
        recorder.start(MM_BINARY,
                       {"--record", "--device", link, "--log-dir", logs, "--rows-per-file", "40"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(session()).isFile(), 20000); // at the first row
        QElapsedTimer wall;
        wall.start();
        QTRY_VERIFY_WITH_TIMEOUT(readAll(session()).contains("\"lost\""), 20000);
        const auto marks = readAll(session()).count("\"mark\""); // away for a second at least
        QTRY_VERIFY_WITH_TIMEOUT(readAll(session()).count("\"mark\"") >= marks + 2, 5000);
        first.reset();
        mmtest::Nodesim second(link, {"--count", "60"});
        const QString last = mmtest::sineRows(60).last().section(',', 1);
        QTRY_VERIFY_WITH_TIMEOUT(mmtest::logRows(logs).join('\n').endsWith("," + last), 30000);
        const double seconds = double(wall.elapsed()) / 1000;
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        const QStringList rows = mmtest::logRows(logs);
        const int gap = int(rows.size()) - 60; // before the second simulator's rows
        const QStringList sent = mmtest::sineRows(gap) + mmtest::sineRows(60);
        const QString said = recorder.readAllStandardOutput();
        QVERIFY2(said.count("Serial device lost: ") == 1 && said.count("Serial port reopened") == 1,
                 qPrintable(said));
        QCOMPARE(second.said("init message 31 37 01"), 1);

        QProcess view;
        view.start(MM_BINARY, {"--view", session(), "--export", tmp.filePath("unplug.csv")});
        QVERIFY(view.waitForFinished(60000) && view.exitCode() == 0);
        QStringList csv = QString(readAll(tmp.filePath("unplug.csv"))).split('\n');
        QCOMPARE(csv.takeFirst(), "time_s,acc_x,acc_y,acc_z,gyro_x,gyro_y,gyro_z");
        QCOMPARE(csv.takeLast(), QString());
        QCOMPARE(csv.size(), rows.size());
        const auto time = [&](int i) { return csv[i].section(',', 0, 0).toDouble(); };
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(csv[i].section(',', 1), rows[i].section(',', 1));
            QCOMPARE(rows[i].section(',', 1), sent[i].section(',', 1));
            QVERIFY(i == 0 || time(i) > time(i - 1));
        }
        QVERIFY2(qAbs(time(gap + 59) - seconds) < 1 && time(gap) - time(gap - 1) >= 1,
                 qPrintable(csv.join('\n')));

        QString error;
        std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(session(), nullptr, &error));
        QVERIFY2(viewer, qPrintable(error));
        const Timeline &timeline = *viewer->recording().timeline();
        QCOMPARE(timeline.breaks, std::vector<std::int64_t>{gap});
        int away = 0, rollOvers = 0;
        for (const Timeline::Event &e : timeline.events) {
            rollOvers += e.kind == Timeline::Event::File;
            away += e.kind == Timeline::Event::Link && e.seconds >= timeline.seconds(gap - 1) &&
                    e.seconds <= timeline.seconds(gap);
        }
        QCOMPARE(away, 2); // lost and reopened
        QCOMPARE(rollOvers, 3);
        // No line across the gap.
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
        auto *gyro = mmtest::widget<QCustomPlot>(viewer.get(), "gyroPlot");
        gyro->replot();
        const QImage image = gyro->toPixmap(gyro->width(), gyro->height()).toImage();
        QRect band = gyro->axisRect()->rect().adjusted(0, 2, 0, -2);
        band.setLeft(int(gyro->xAxis->coordToPixel(timeline.seconds(gap - 1))) + 3);
        band.setRight(int(gyro->xAxis->coordToPixel(timeline.seconds(gap))) - 3);
        QVERIFY(band.width() > 100);
        QCOMPARE(mmtest::curvePixels(image) - mmtest::curvePixels(image, band), 0);
    }

    // "Open recording…" with a good and a broken file: the broken one is
    // named in a box (as by --view), the good one opens in a viewer, whose
    // plots move together with the statistics of the rows in view, and which
    // a double-click fits to the recording.
    void opensFromTheMainWindow()
    {
        const QString good = write("view.txt", log), broken = write("broken.txt", header + "0,x");
        auto window = mmtest::startMainWindow();
        mmtest::MessageBox box;
        mmtest::trigger(*window, "actionOpenRecording",
                        {mmtest::chooseFiles(QStringLiteral("\"%1\" \"%2\"").arg(good, broken)),
                         mmtest::closeMessageBox(&box)});
        QCOMPARE(box.text, broken + ":2: 2 fields where a row has 7");
        const auto viewers = window->findChildren<QMainWindow *>("RecordingViewer");
        QCOMPARE(viewers.size(), 1);
        QCOMPARE(viewers[0]->windowTitle(), "view.txt (70000 rows)");
        auto *gyro = mmtest::widget<QCustomPlot>(viewers[0], "gyroPlot");
        QVERIFY(QTest::qWaitForWindowExposed(viewers[0]));
        gyro->xAxis->setRange(100, 120);
        QCOMPARE(mmtest::widget<QCustomPlot>(viewers[0], "accPlot")->xAxis->range(),
                 QCPRange(100, 120));
        auto *statistics = mmtest::widget<QTableWidget>(viewers[0], "statistics");
        // Gyroscope X rises from row 100 to 120.
        QCOMPARE(statistics->item(0, Recording::GyroX)->text(),
                 QString::number(sample(100)[Recording::GyroX]));
        gyro->yAxis->setRange(-10, 10);
        QTest::mouseDClick(gyro, Qt::LeftButton, {}, gyro->axisRect()->center());
        QCOMPARE(gyro->xAxis->range(), QCPRange(0, 69999));
        const QCPRange values = gyro->yAxis->range();
        QVERIFY(values.contains(-32768) && values.contains(32767) && values.size() < 80000);
        mmtest::MessageBox viewBox;
        int status = 0;
        mmtest::answerModals([&] { status = viewRecording(broken, QString()); },
                             {mmtest::closeMessageBox(&viewBox)});
        QCOMPARE(status, 1);
        QCOMPARE(viewBox.text, box.text);
    }

    // The built program without a display: --export writes images and CSV
    // all the same; --view alone says in one line what works instead and
    // ends as for a usage error.
    void withoutADisplay_data()
    {
        QTest::addColumn<QByteArray>("tail");  // after the rows of log.txt
        QTest::addColumn<QString>("out");      // for --export; none: --view alone
        QTest::addColumn<QByteArray>("magic"); // the file's first bytes; none: refused
        QTest::addColumn<QByteArray>("said");  // on the standard error stream
        const auto row = [](const char *tail, const char *out, const QByteArray &magic,
                            const char *said) {
            QTest::newRow(*out ? out : "--view")
                << QByteArray(tail) << QString(out) << magic << QByteArray(said);
        };
        row("", "out.JPG", "\xff\xd8\xff", "");
        row("", "out.pdf", "%PDF-", "");
        row("", "out.csv", "row,acc_x,acc_y,acc_z,gyro_x,gyro_y,gyro_z\n0,", "");
        row("1,2", "cut.png", "\x89PNG\r\n\x1a\n", "export.txt:70004: the last line was cut short");
        row("x\n", "refused.png", "", "export.txt:70004: 1 fields");
        row("", "", "", "--view needs a display (DISPLAY is not set); --view FILE --export");
    }
    void withoutADisplay()
    {
        QFETCH(QByteArray, tail);
        QFETCH(QString, out);
        QFETCH(QByteArray, magic);
        QFETCH(QByteArray, said);
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment().filter(
            QRegularExpression("^(?!DISPLAY=|WAYLAND_DISPLAY=|QT_QPA_PLATFORM=)")));
        p.start(MM_BINARY,
                QStringList{"--view", write("export.txt", log + tail)} +
                    (out.isEmpty() ? QStringList() : QStringList{"--export", tmp.filePath(out)}));
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), out.isEmpty() ? 2 : magic.isEmpty() ? 1 : 0);
        const QByteArray stderrText = p.readAllStandardError();
        QVERIFY2(stderrText.contains(said) && (!out.isEmpty() || stderrText.count('\n') == 1),
                 stderrText);
        QCOMPARE(QFileInfo(tmp.filePath(out)).isFile(), !magic.isEmpty());
        QVERIFY(readAll(tmp.filePath(out)).startsWith(magic));
        if (!magic.isEmpty() && (out.endsWith(".png") || out.endsWith(".JPG"))) // curves drawn
            QVERIFY(mmtest::curvePixels(QImage(tmp.filePath(out))) > 2000);
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
