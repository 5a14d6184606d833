// The live outputs as their users meet them: the built `motionmonitor --record` on the receiver
// simulator, Debian's mosquitto broker started on a free port of 127.0.0.1 with a configuration
// of the test's own, mosquitto_sub as the subscriber and a UDP socket as PlotJuggler.
#include "testcore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <csignal>

using namespace mmtest;

namespace
{

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// mosquitto on 127.0.0.1:port, ended with the object.
struct Broker {
    QTemporaryDir dir;
    quint16 port = freePort();
    QProcess process;
    Broker() { start(); }
    ~Broker() { stop(); }
    void start()
    {
        QFile conf(dir.filePath("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(
            QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port).toUtf8());
        conf.close();
        process.start("mosquitto", {"-c", conf.fileName()});
        QVERIFY(QTest::qWaitFor(
            [&] {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, port);
                return s.waitForConnected(1000);
            },
            30000));
    }
    void stop()
    {
        process.terminate();
        process.waitForFinished();
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
};

// mosquitto_sub on `topic`, each message one line: "topic payload"; an influx message's further
// lines follow without a topic.
struct Subscriber : QProcess {
    QStringList lines;
    Subscriber(const Broker &broker, const QString &topic)
    {
        start("mosquitto_sub",
              {"-p", QString::number(broker.port), "-v", "-t", topic, "-t", "ready"});
        QProcess pub; // subscribed once it hears this
        QVERIFY(QTest::qWaitFor(
            [&] {
                pub.execute("mosquitto_pub",
                            {"-p", QString::number(broker.port), "-t", "ready", "-m", "1"});
                return read().contains("ready 1");
            },
            30000));
    }
    ~Subscriber() override
    {
        terminate();
        waitForFinished();
    }
    const QStringList &read()
    {
        while (canReadLine())
            lines << QString::fromUtf8(readLine()).chopped(1);
        return lines;
    }
    // The payloads on `topic`, an influx message's lines one by one.
    QStringList on(const QString &topic)
    {
        QStringList payloads;
        bool in = false;
        for (const QString &line : read()) {
            const bool starts =
                line.startsWith(topic.section('/', 0, 0) + '/') || line == "ready 1";
            in = starts ? line.section(' ', 0, 0) == topic : in;
            if (in)
                payloads << (starts ? line.section(' ', 1) : line);
        }
        return payloads;
    }
    // The one retained message on `topic` now.
    static QString retained(const Broker &broker, const QString &topic)
    {
        QProcess sub;
        sub.start("mosquitto_sub",
                  {"-p", QString::number(broker.port), "-t", topic, "-C", "1", "-W", "10"});
        sub.waitForFinished(30000);
        return QString::fromUtf8(sub.readAllStandardOutput()).trimmed();
    }
};

struct Recorder : QProcess {
    Recorder(const QString &dir, const QStringList &arguments)
    {
        setWorkingDirectory(dir);
        setProcessChannelMode(MergedChannels);
        start(MM_BINARY, QStringList{"--record"} + arguments);
    }
    ~Recorder() override
    {
        terminate();
        waitForFinished();
    }
    QString output;
    bool says(const QString &text)
    {
        output += QString::fromLocal8Bit(readAll());
        return output.contains(text);
    }
    long peakKb()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(processId()));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').value(0).toLong();
    }
};

// "acc gyro timestamp: ax,ay,az,gx,gy,gz" of a JSON sample (the sensors it has); its time in *t.
QString valuesOf(const QByteArray &json, double *t)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    *t = o["timestamp"].toDouble();
    QStringList v;
    for (const QString &sensor : o.keys())
        for (const char *axis : {"x", "y", "z"})
            if (sensor != "timestamp")
                v << QString::number(o[sensor].toObject().value(axis).toInt(-99999));
    return o.keys().join(' ') + ": " + v.join(',');
}

} // namespace

class TestOutputs : public QObject
{
    Q_OBJECT
private slots:
    // Both outputs at the line's pace, as a user sets them (default log directory and topic, a
    // device name that needs escaping): every sample once, in order, equal to the log's rows and
    // within 25 ms of the session export's times; the influx lines parse and agree; the session
    // and its events (a note among them) published; "online" while running and "offline" after
    // SIGTERM.
    void countedRun()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("rig one");
        QVERIFY(QDir().mkpath(dir + "/logs"));
        const int count = 150;
        Nodesim sim(dir + "/tty USB,0", {"--count", QString::number(count)});
        Broker broker;
        const QString prefix = "motionmonitor/" + QSysInfo::machineHostName() + "/tty_USB,0";
        Subscriber sub(broker, prefix + "/#");
        QUdpSocket plotjuggler;
        QVERIFY(plotjuggler.bind(QHostAddress::LocalHost));
        Recorder recorder(dir, {"--device", "tty USB,0", "--udp",
                                QString::number(plotjuggler.localPort()), "--mqtt",
                                QStringLiteral("mqtt://localhost:%1").arg(broker.port)});
        QTRY_COMPARE_WITH_TIMEOUT(sub.on(prefix + "/sample").size(), count, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(sub.on(prefix + "/influx").size(), count, 30000); // live
        QCOMPARE(Subscriber::retained(broker, prefix + "/status"), "online");
        ::kill(pid_t(recorder.processId()), SIGUSR1); // a note, published as an event
        QTRY_VERIFY_WITH_TIMEOUT(sub.on(prefix + "/event").join('\n').contains("\"note\""), 30000);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        QCOMPARE(Subscriber::retained(broker, prefix + "/status"), "offline");

        QStringList expected;
        for (const QString &row : sineRows(count))
            expected << "acc gyro timestamp: " + row.section(',', 1);
        QCOMPARE(logRows(dir + "/logs"), sineRows(count));
        const QString session = QDir(dir + "/logs").entryInfoList({"*.jsonl"}).value(0).filePath();
        QProcess exporter;
        exporter.start(MM_BINARY, {"--view", session, "--export", dir + "/out.csv"});
        QVERIFY(exporter.waitForFinished(30000) && exporter.exitCode() == 0);
        QFile csv(dir + "/out.csv"), sessionFile(session);
        QVERIFY(csv.open(QIODevice::ReadOnly) && sessionFile.open(QIODevice::ReadOnly));
        const QStringList exported = QString(csv.readAll()).split('\n', Qt::SkipEmptyParts).mid(1);
        const QJsonObject first = QJsonDocument::fromJson(sessionFile.readLine()).object();
        const double start = QDateTime::fromString(first["start"].toString(), Qt::ISODateWithMs)
                                 .toMSecsSinceEpoch() /
                             1e3;
        QCOMPARE(exported.size(), count);

        QList<QByteArray> datagrams;
        while (plotjuggler.hasPendingDatagrams())
            datagrams << plotjuggler.receiveDatagram().data();
        const QStringList mqtt = sub.on(prefix + "/sample"), influx = sub.on(prefix + "/influx");
        QCOMPARE(datagrams.size(), count);
        QCOMPARE(influx.size(), count);
        const QRegularExpression line(
            R"(^motion,host=(\S+),device=tty\\ USB\\,0 acc_x=(-?\d+)i,acc_y=(-?\d+)i,acc_z=(-?\d+)i,)"
            R"(gyro_x=(-?\d+)i,gyro_y=(-?\d+)i,gyro_z=(-?\d+)i (\d+)$)");
        double previous = 0;
        for (int n = 0; n < count; ++n) {
            double t = 0, tMqtt = 0;
            QCOMPARE(valuesOf(datagrams[n], &t), expected[n]);
            QCOMPARE(valuesOf(mqtt[n].toUtf8(), &tMqtt), expected[n]);
            const QRegularExpressionMatch m = line.match(influx[n]);
            QVERIFY2(m.hasMatch(), qPrintable(influx[n]));
            QCOMPARE(QStringList(m.capturedTexts().mid(2, 6)).join(','),
                     expected[n].section(' ', 3));
            QCOMPARE(m.captured(1), QSysInfo::machineHostName());
            QVERIFY(t > previous && t == tMqtt &&
                    qAbs(m.captured(8).toLongLong() / 1e9 - t) < 2e-6);
            const double exportedAt = start + exported[n].section(',', 0, 0).toDouble();
            QVERIFY2(qAbs(t - exportedAt) <= 0.025, qPrintable(QString::number(t - exportedAt)));
            previous = t;
        }
        sessionFile.seek(0);
        QCOMPARE(Subscriber::retained(broker, prefix + "/session"),
                 sessionFile.readLine().trimmed());
        QStringList events;
        for (const QString &l : QString(sessionFile.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!l.contains("\"event\":\"mark\""))
                events << l;
        QTRY_COMPARE(sub.on(prefix + "/event"), events);
        QCOMPARE(sub.on(prefix + "/status"), QStringList({"online", "offline"})); // no Last Will
        QVERIFY(events.last().contains("\"event\":\"end\""));
    }

    // A recorder that dies leaves "offline" behind: the broker's Last Will.
    void lastWill()
    {
        QTemporaryDir dir;
        Broker broker;
        Recorder recorder(dir.path(),
                          {"--device", "absent", "--log-dir", ".", "--mqtt-topic", "lab/rig",
                           "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port)});
        QTRY_VERIFY_WITH_TIMEOUT(recorder.says("mqtt: connected"), 30000);
        QCOMPARE(Subscriber::retained(broker, "lab/rig/status"), "online");
        recorder.kill();
        QTRY_COMPARE_WITH_TIMEOUT(Subscriber::retained(broker, "lab/rig/status"), "offline", 30000);
    }

    // The broker stopped mid-run and started again: no row lost, the drop said with its count,
    // the output back by itself with the samples after the return.
    void brokerRestarted()
    {
        QTemporaryDir dir;
        Nodesim sim(dir.filePath("tty"), {"--count", "400"});
        Broker broker;
        Recorder recorder(dir.path(),
                          {"--device", "tty", "--log-dir", ".", "--mqtt-topic", "rig", "--mqtt",
                           QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port)});
        QTRY_VERIFY_WITH_TIMEOUT(logRows(dir.path()).size() > 20, 30000);
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.says("mqtt: down ("), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(logRows(dir.path()).size() > 100, 30000);
        broker.start();
        Subscriber sub(broker, "rig/sample");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.says("mqtt: back; "), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(sub.on("rig/sample").size() >= 10, 30000);
        const QString last = sub.on("rig/sample").last();
        double t = 0;
        const QString values = valuesOf(last.toUtf8(), &t).section(' ', 3);
        QTRY_COMPARE_WITH_TIMEOUT(logRows(dir.path()).size(), 400, 30000);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        QCOMPARE(logRows(dir.path()), sineRows(400));
        const QRegularExpression dropped(R"(mqtt: back; (\d+) messages were dropped)");
        QVERIFY(dropped.match(recorder.output).captured(1).toInt() > 0);
        QVERIFY2(sineRows(400).mid(100).filter(',' + values).size() == 1, qPrintable(values));
    }

    // Receivers that read nothing (UDP to a closed port, a broker stopped while frames come as
    // fast as the line takes them): every row logged, the drops said, memory bounded, and a
    // clean end that does not wait on the broker.
    void receiversThatReadNothing()
    {
        QTemporaryDir dir;
        const int count = 300000;
        Nodesim sim(dir.filePath("tty"), {"--count", QString::number(count), "--rate", "0"});
        Broker broker;
        Recorder recorder(dir.path(), {"--device", "tty", "--log-dir", ".", "--rows-per-file", "0",
                                       "--udp", QString::number(freePort()), "--mqtt",
                                       QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port)});
        QTRY_VERIFY_WITH_TIMEOUT(recorder.says("mqtt: connected"), 30000);
        broker.signal(SIGSTOP);
        QTRY_COMPARE_WITH_TIMEOUT(logRows(dir.path()).size(), count, 120000);
        QVERIFY(recorder.says("mqtt: down (the broker takes no more; "));
        QVERIFY(recorder.says(": down (Connection refused)"));
#ifndef __SANITIZE_ADDRESS__ // which keeps freed memory aside
        QVERIFY2(recorder.peakKb() < 60 * 1024, qPrintable(QString::number(recorder.peakKb())));
#endif
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        broker.signal(SIGCONT);
        QCOMPARE(logRows(dir.path()), sineRows(count));
    }
};

QTEST_GUILESS_MAIN(TestOutputs)
#include "tst_outputs.moc"
