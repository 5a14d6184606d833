// Recordings as a user keeps and opens them: files the program's logger wrote
// read back, other files refused at their first bad line, recordings opened
// from the main window, and images written by the built program.
#include "datalogger.h"
#include "mmtest.h"
#include "recording.h"

#include <QProcess>
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

    void refusesFilesItDidNotWrite_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // after "PATH:"
        const QByteArray row = "0,1,2,3,4,5,6\n", h = header;
        const auto refused = [](const char *name, const QByteArray &content, const char *error) {
            QTest::newRow(name) << content << QString(error);
        };
        refused("empty", "", "1: the file is empty");
        refused("no header", row, "1: not a log file");
        refused("cut-off last row", h + row + row + "1,-5", "4: 2 fields");
        refused("letters", h + "0,1,2,3x,4,5,6\n",
                "2: field 4 (accelerometer Z) is not an integer");
        refused("leading zero", h + "0,1,2,3,4,05,6\n", "2: field 6 (gyroscope Y) is not");
        refused("out of range after a second header", h + row + h + "0,1,8192,3,4,5,6\n",
                "4: field 3 (accelerometer Y) is 8192, out of the range -8192..8191");
        refused("long line", h + row + QByteArray(100000, '7'), "3: the line is longer");
    }
    void refusesFilesItDidNotWrite()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const QString path = write("broken.txt", content);
        Recording r;
        QString message;
        QVERIFY(!r.read(path, &message));
        QVERIFY2(message.startsWith(path + ":" + error), qPrintable(message));
        QCOMPARE(r.rows(), 0);
    }

    // "Open recording…" with a good and a broken file: the broken one is
    // named in a box, the good one opens in a viewer, which a double-click
    // fits to the recording.
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
        gyro->yAxis->setRange(-10, 10);
        QTest::mouseDClick(gyro, Qt::LeftButton, {}, gyro->axisRect()->center());
        QCOMPARE(gyro->xAxis->range(), QCPRange(0, 299));
        const QCPRange values = gyro->yAxis->range();
        QVERIFY(values.contains(-32768) && values.contains(32767) && values.size() < 80000);
    }

    void exportsThroughTheProgram_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QByteArray>("magic"); // the file's first bytes; none: refused
        QTest::newRow("PNG") << "out.png" << QByteArray("\x89PNG\r\n\x1a\n");
        QTest::newRow("JPG") << "out.JPG" << QByteArray("\xff\xd8\xff");
        QTest::newRow("PDF") << "out.pdf" << QByteArray("%PDF-");
        QTest::newRow("refused file") << "refused.png" << QByteArray();
    }
    void exportsThroughTheProgram()
    {
        QFETCH(QString, image);
        QFETCH(QByteArray, magic);
        const bool refused = image.startsWith("refused");
        QProcess p;
        p.start(MM_BINARY, {"--view", refused ? write("bad.txt", header + "x\n") : logged(0, 300),
                            "--export", tmp.filePath(image)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), magic.isEmpty() ? 1 : 0);
        QCOMPARE(p.readAllStandardError().contains("bad.txt:2: "), refused);
        QCOMPARE(QFile::exists(tmp.filePath(image)), !magic.isEmpty());
        QVERIFY(readAll(tmp.filePath(image)).startsWith(magic));
        if (!magic.isEmpty() && !image.endsWith(".pdf")) // curves drawn
            QVERIFY(mmtest::curvePixels(QImage(tmp.filePath(image))) > 2000);
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
