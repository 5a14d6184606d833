// Recordings as a user keeps and opens them: files the program's logger wrote
// read back, also cut short or copied with Windows line ends, other files
// refused at their first bad line; sessions the program recorded read as one
// timeline, other session files refused; recordings opened from the main
// window, and images and CSV written by the built program.
#include "acquisition.h"
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

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The session file in dir.
QString sessionIn(const QString &dir)
{
    return QDir(dir).filePath(QDir(dir).entryList({"*.session.jsonl"}).value(0));
}

QString valuesAt(const Recording &r, std::int64_t row)
{
    QStringList values;
    for (int c = 0; c < Recording::columnCount; ++c)
        values << QString::number(r.column(c)[size_t(row)]);
    return values.join(',');
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT
    QTemporaryDir tmp;
    int starts = 0;

    // The file that one start of the program's logger writes, with samples
    // first .. first + rows - 1.
    QString logged(int first, int rows)
    {
        const QString dir = tmp.filePath(QString::number(starts++));
        QDir().mkpath(dir);
        Datalogger logger;
        logger.ReceiveFilename(dir);
        for (int n = first; n < first + rows; ++n) {
            const mmtest::Values v = sample(n);
            logger.Log(v[0], v[1], v[2], v[3], v[4], v[5]);
        }
        if (rows == 0)
            logger.CreateFile();
        return QDir(dir).filePath(QDir(dir).entryList(QDir::Files).value(0));
    }
    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(tmp.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName()
                                                                                  : QString();
    }

private slots:
    void readsWhatTheLoggerWrote_data()
    {
        QTest::addColumn<QList<int>>("starts"); // rows of each start that shares the file
        QTest::newRow("one row") << QList<int>{1};
        QTest::newRow("70 000 rows") << QList<int>{70000};
        QTest::newRow("two starts in one second") << QList<int>{3, 2};
        QTest::newRow("an empty start between") << QList<int>{2, 0, 4};
    }
    void readsWhatTheLoggerWrote()
    {
        QFETCH(QList<int>, starts);
        QByteArray content;
        int rows = 0;
        for (int n : starts) {
            content += readAll(logged(rows, n));
            rows += n;
        }
        Recording r;
        QString error;
        QVERIFY2(r.read(write("log.txt", content), &error), qPrintable(error));
        QCOMPARE(r.rows(), rows);
        for (int n = 0; n < rows; ++n)
            for (int c = 0; c < Recording::columnCount; ++c)
                QCOMPARE(int(r.column(c)[size_t(n)]), sample(n)[size_t(c)]);
    }

    void logFilesAsTheyCome_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("rows");        // -1: refused
        QTest::addColumn<QString>("message"); // after "PATH:", of the refusal or the note
        const QByteArray row = "0,1,2,3,4,5,6\n", h = header;
        const auto refused = [](const char *name, const QByteArray &content, const char *error) {
            QTest::newRow(name) << content << -1 << QString(error);
        };
        QTest::newRow("Windows line ends")
            << QByteArray(h + row + row).replace("\n", "\r\n") << 2 << QString();
        QTest::newRow("last line cut short")
            << h + row + row + "1,-5" << 2 << "4: the last line was cut short";
        QTest::newRow("last row without its line end")
            << h + row + "1,1,2,3,4,5,6" << 1 << "3: the last line was cut short";
        refused("empty", "", "1: the file is empty");
        refused("no header", row, "1: not a log file");
        refused("last line no row begins so", h + row + "1,x", "3: 2 fields where a row has 7");
        refused("letters", h + "0,1,2,3x,4,5,6\n",
                "2: field 4 (accelerometer Z) is not an integer");
        refused("leading zero", h + "0,1,2,3,4,05,6\n", "2: field 6 (gyroscope Y) is not");
        refused("out of range after a second header", h + row + h + "0,1,8192,3,4,5,6\n",
                "4: field 3 (accelerometer Y) is 8192, out of the range -8192..8191");
        refused("long line", h + row + QByteArray(100000, '7'), "3: the line is longer");
    }
    void logFilesAsTheyCome()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, rows);
        QFETCH(QString, message);
        const QString path = write("file.txt", content);
        Recording r;
        QString error;
        QCOMPARE(r.read(path, &error), rows >= 0);
        QCOMPARE(r.rows(), std::max(rows, 0));
        const QString said = rows >= 0 ? r.note() : error;
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.startsWith(path + ":" + message),
                 qPrintable(said));
    }

    // Recorded by the program over roll-overs and an unplug: the CSV export
    // holds the rows of the log files, in order, once each, at rising times
    // that span the session; the one gap, where the receiver was away, breaks
    // the curves.
    void sessionOverAnUnplug()
    {
        const QString link = tmp.filePath("ttyUSB0"), logs = tmp.filePath("unplug");
        QVERIFY(QDir().mkpath(logs));
        auto first = std::make_unique<mmtest::Nodesim>(link, QStringList{"--hangup-after", "100"});
        OptionSet options;
        options.devicename = link;
        options.filename = logs;
        options.newfileLines = 40;
        Acquisition acquisition;
        acquisition.applyOptions(options);
        acquisition.setLogging(true);
        connect(acquisition.timer(), &QTimer::timeout, &acquisition, &Acquisition::tick);
        QElapsedTimer wall;
        wall.start();
        QVERIFY(acquisition.start(42));
        const auto session = [&] { return readAll(sessionIn(logs)); };
        QTRY_VERIFY_WITH_TIMEOUT(session().contains("\"lost\""), 20000);
        const auto marks = session().count("\"mark\""); // away for a second at least
        QTRY_VERIFY_WITH_TIMEOUT(session().count("\"mark\"") >= marks + 2, 5000);
        first.reset();
        mmtest::Nodesim second(link, {"--count", "60"});
        const QString last = mmtest::sineRows(60).last().section(',', 1);
        QTRY_VERIFY_WITH_TIMEOUT(mmtest::logRows(logs).join('\n').endsWith("," + last), 30000);
        acquisition.stop();
        const double seconds = double(wall.elapsed()) / 1000;

        QProcess view;
        view.start(MM_BINARY, {"--view", sessionIn(logs), "--export", tmp.filePath("unplug.csv")});
        QVERIFY(view.waitForFinished(60000) && view.exitCode() == 0);
        QStringList csv = QString(readAll(tmp.filePath("unplug.csv"))).split('\n');
        QCOMPARE(csv.takeFirst(), "time_s,acc_x,acc_y,acc_z,gyro_x,gyro_y,gyro_z");
        QCOMPARE(csv.takeLast(), QString());
        const QStringList rows = mmtest::logRows(logs);
        QCOMPARE(csv.size(), rows.size());
        int gap = 0;
        double previous = -1, longest = 0;
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(csv[i].section(',', 1), rows[i].section(',', 1));
            const double t = csv[i].section(',', 0, 0).toDouble();
            QVERIFY(t > previous);
            if (i > 0 && t - previous > longest)
                std::tie(longest, gap) = std::tuple(t - previous, i);
            previous = t;
        }
        QVERIFY2(qAbs(previous - seconds) < 1 && longest >= 1, qPrintable(csv.join('\n')));
        QCOMPARE(rows.size() - gap, 60);

        QString error;
        std::unique_ptr<RecordingViewer> viewer(
            RecordingViewer::open(sessionIn(logs), nullptr, &error));
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

    // Session files beside log.txt, rows 0..9 of one start: the rows they
    // name, or refused at the line that breaks a rule, or cut short.
    void sessionFilesAsTheyCome_data()
    {
        QTest::addColumn<QByteArray>("session"); // lines; @N: the byte where row N begins
        QTest::addColumn<int>("first");          // the sample of the first row
        QTest::addColumn<int>("rows");           // -1: refused
        QTest::addColumn<QString>("message");    // the refusal's or the note's; %1: the folder
        const QByteArray head = R"({"format":"motionmonitor-session","version":1,)"
                                R"("start":"2026-12-07T17:17:44.512+01:00"})",
                         file = R"({"t_ms":0,"rows":0,"event":"file","path":"log.txt",)"
                                R"("offset":0,"index":0})",
                         mark = R"({"t_ms":500,"rows":6,"event":"mark"})",
                         end = R"({"t_ms":900,"rows":10,"event":"end"})";
        const auto row = [](const char *name, const QList<QByteArray> &lines, int first, int rows,
                            const char *message) {
            QTest::newRow(name) << lines.join('\n') + (lines.last().endsWith('}') ? "\n" : "")
                                << first << rows << QString(message);
        };
        row("whole", {head, file, mark, end}, 0, 10, "");
        row("rows of an earlier session first",
            {head, QByteArray(file).replace(":0}", ":5}").replace("t\":0", "t\":@5"),
             QByteArray(end).replace("10", "5")},
            5, 5, "");
        row("last line cut short", {head, file, mark, end.left(20)}, 0, 6,
            "%1/s.session.jsonl:4: the last line");
        row("not a session", {header.trimmed(), file}, 0, -1, "%1/s.session.jsonl:1: not a");
        row("bad JSON before the last", {head, file, "{\"t_ms\":6", end}, 0, -1,
            "%1/s.session.jsonl:3: not a JSON");
        row("rows falling", {head, file, mark, QByteArray(mark).replace("6", "5")}, 0, -1,
            "%1/s.session.jsonl:4: out of order");
        row("missing log file", {head, QByteArray(file).replace("log.txt", "gone.txt"), end}, 0, -1,
            "%1/s.session.jsonl:2: the log file %1/gone.txt is missing");
        row("other rows", {head, QByteArray(file).replace(":0}", ":3}"), end}, 0, -1,
            "%1/log.txt:2: row index 0 where");
    }
    void sessionFilesAsTheyCome()
    {
        QFETCH(QByteArray, session);
        QFETCH(int, first);
        QFETCH(int, rows);
        QFETCH(QString, message);
        const QString dir = tmp.filePath("sessions");
        QVERIFY(QDir().mkpath(dir));
        QFile::copy(logged(0, 10), dir + "/log.txt");
        const QByteArray log = readAll(dir + "/log.txt");
        session.replace("@5", QByteArray::number(log.indexOf("\n5,") + 1));
        Recording r;
        QString error;
        QCOMPARE(r.open(write("sessions/s.session.jsonl", session), &error), rows >= 0);
        QCOMPARE(r.rows(), std::max(rows, 0));
        const QString said = rows >= 0 ? r.note() : error;
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.startsWith(message.arg(dir)),
                 qPrintable(said));
        for (int i = 0; i < r.rows(); ++i)
            QCOMPARE(valuesAt(r, i), mmtest::logRow(0, sample(first + i)).section(',', 1));
        if (rows == 10) { // the first row at the start, those after each line spread evenly
            QCOMPARE(r.timeline()->seconds(0), 0.0);
            QCOMPARE(r.timeline()->seconds(7), 0.7);
            QCOMPARE(r.timeline()->firstRowFrom(0.65), 7);
        }
    }

    // "Open recording…" with a good and a broken file: the broken one is
    // named in a box, the good one opens in a viewer, whose plots move
    // together with the statistics of the rows in view, and which a
    // double-click fits to the recording.
    void opensFromTheMainWindow()
    {
        const QString good = logged(0, 300);
        const QString broken = write("broken.txt", header + "0,1,2\n");
        auto window = mmtest::startMainWindow();
        mmtest::MessageBox box;
        mmtest::trigger(*window, "actionOpenRecording",
                        {mmtest::chooseFiles(QStringLiteral("\"%1\" \"%2\"").arg(good, broken)),
                         mmtest::closeMessageBox(&box)});
        QCOMPARE(box.text, broken + ":2: 3 fields where a row has 7");
        const auto viewers = window->findChildren<QMainWindow *>("RecordingViewer");
        QCOMPARE(viewers.size(), 1);
        QCOMPARE(viewers[0]->windowTitle(), QFileInfo(good).fileName() + " (300 rows)");
        auto *gyro = mmtest::widget<QCustomPlot>(viewers[0], "gyroPlot");
        QVERIFY(QTest::qWaitForWindowExposed(viewers[0]));
        gyro->xAxis->setRange(100, 120);
        QCOMPARE(mmtest::widget<QCustomPlot>(viewers[0], "accPlot")->xAxis->range(),
                 QCPRange(100, 120));
        int lowest = 32767;
        for (int n = 100; n <= 120; ++n)
            lowest = std::min(lowest, sample(n)[Recording::GyroX]);
        auto *statistics = mmtest::widget<QTableWidget>(viewers[0], "statistics");
        QCOMPARE(statistics->item(0, Recording::GyroX)->text(), QString::number(lowest));
        gyro->yAxis->setRange(-10, 10);
        QTest::mouseDClick(gyro, Qt::LeftButton, {}, gyro->axisRect()->center());
        QCOMPARE(gyro->xAxis->range(), QCPRange(0, 299));
        const QCPRange values = gyro->yAxis->range();
        QVERIFY(values.contains(-32768) && values.contains(32767) && values.size() < 80000);
    }

    void exportsThroughTheProgram_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the log file; none: 300 rows logged
        QTest::addColumn<QString>("out");
        QTest::addColumn<QByteArray>("magic"); // the file's first bytes; none: refused
        QTest::addColumn<QByteArray>("said");  // on the standard error stream
        const QByteArray png("\x89PNG\r\n\x1a\n"), none;
        QTest::newRow("PNG") << none << "out.png" << png << none;
        QTest::newRow("JPG") << none << "out.JPG" << QByteArray("\xff\xd8\xff") << none;
        QTest::newRow("PDF") << none << "out.pdf" << QByteArray("%PDF-") << none;
        QTest::newRow("CSV") << none << "out.csv"
                             << QByteArray("row,acc_x,acc_y,acc_z,gyro_x,gyro_y,gyro_z\n0,")
                             << none;
        QTest::newRow("refused file") << header + "x\n"
                                      << "refused.png" << none << QByteArray("log.txt:2: 1 fields");
        QTest::newRow("cut short")
            << header + "0,1,2,3,4,5,6\n1,2"
            << "cut.png" << png << QByteArray("log.txt:3: the last line was cut short");
    }
    void exportsThroughTheProgram()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, out);
        QFETCH(QByteArray, magic);
        QFETCH(QByteArray, said);
        QProcess p;
        p.start(MM_BINARY,
                {"--view", content.isEmpty() ? logged(0, 300) : write("log.txt", content),
                 "--export", tmp.filePath(out)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), magic.isEmpty() ? 1 : 0);
        const QByteArray stderrText = p.readAllStandardError();
        QVERIFY2(said.isEmpty() || stderrText.contains(said), stderrText);
        QCOMPARE(QFile::exists(tmp.filePath(out)), !magic.isEmpty());
        QVERIFY(readAll(tmp.filePath(out)).startsWith(magic));
        if (content.isEmpty() && (out.endsWith(".png") || out.endsWith(".JPG"))) // curves drawn
            QVERIFY(mmtest::curvePixels(QImage(tmp.filePath(out))) > 2000);
    }

    // Without a display --view says in one line what works instead and ends
    // as for a usage error; with one, a refused file is shown in a box too.
    void viewWithAndWithoutADisplay()
    {
        QProcess p;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        p.setProcessEnvironment(environment);
        p.start(MM_BINARY, {"--view", logged(0, 3)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        const QString said = p.readAllStandardError();
        QVERIFY2(said.count('\n') == 1 && said.contains("needs a display") &&
                     said.contains("--export"),
                 qPrintable(said));
        const QString bad = write("bad.txt", header + "x\n");
        mmtest::MessageBox box;
        int status = 0;
        mmtest::answerModals([&] { status = viewRecording(bad, QString()); },
                             {mmtest::closeMessageBox(&box)});
        QCOMPARE(status, 1);
        QVERIFY(box.text.startsWith(bad + ":2: "));
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
