// The Debian package: made by cpack from the build tree, read back with dpkg-deb, run unpacked.
#include "version.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The program's standard output; a failed or hung run fails the test.
static QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && !p.exitCode())
        return p.readAllStandardOutput();
    qWarning() << program << args << p.errorString() << p.readAllStandardError();
    return "(failed)";
}

class TestPackage : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    // The install prefix (/usr unless configured otherwise), unpacked.
    const QString prefix = QString(MM_INSTALL_PREFIX).mid(1) + "/";
    const QString usr = dir.filePath("root/" + prefix);
    QString deb;

private slots:
    void initTestCase()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString(tool) + " is missing (Debian package dpkg-dev)"));
        run(MM_CPACK, {"-G", "DEB", "--config", MM_CPACK_CONFIG, "-B", dir.path()});
        const QString arch = run("dpkg", {"--print-architecture"}).trimmed();
        deb = dir.filePath(QString("motionmonitor_" MM_VERSION "_%1.deb").arg(arch));
        QVERIFY2(QFile::exists(deb), qPrintable(deb));
        run("dpkg-deb", {"-x", deb, dir.filePath("root")});
    }

    // Every file with its mode and nothing else; dependencies from the binaries.
    void contentsAndDependencies()
    {
        QStringList files, expected;
        for (const QString &line : run("dpkg-deb", {"-c", deb}).split('\n'))
            if (line.startsWith('-'))
                files << line.mid(line.indexOf("./") + 2) + " " + line.left(10);
        for (const QString path :
             {"bin/motionmonitor", "bin/nodesim", "lib/motionmonitor/motionmonitor-launcher",
              "lib/systemd/user/motionmonitor-record@.service",
              "share/applications/motionmonitor.desktop",
              "share/doc/motionmonitor/calibration-format.md",
              "share/doc/motionmonitor/changelog.gz", "share/doc/motionmonitor/copyright",
              "share/doc/motionmonitor/session-format.md",
              "share/icons/hicolor/128x128/apps/motionmonitor.png",
              "share/man/man1/motionmonitor.1.gz", "share/man/man1/nodesim.1.gz",
              "share/metainfo/org.example.motionmonitor.metainfo.xml",
              "share/motionmonitor/logo.png", "share/motionmonitor/readme.txt"})
            expected << prefix + path +
                            (path.startsWith("bin/") || path.endsWith("launcher") ? " -rwxr-xr-x"
                                                                                  : " -rw-r--r--");
        files.sort();
        QCOMPARE(files, expected);
        const QString depends = run("dpkg-deb", {"-f", deb, "Depends"});
        for (const char *library :
             {"libqt6widgets6", "libqcustomplot2.1-qt6", "libserial1", "libfftw3-double3"})
            QVERIFY2(depends.contains(library), qPrintable(depends));
    }

    // The menu entry's launcher prepares ~/MotionMonitor/logs, then starts the packaged program.
    void menuEntryRunsTheLauncher()
    {
        const QString launcher = "lib/motionmonitor/motionmonitor-launcher";
        QSettings entry(usr + "share/applications/motionmonitor.desktop", QSettings::IniFormat);
        QCOMPARE(entry.value("Desktop Entry/Exec").toString(), "/" + prefix + launcher);
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        QCOMPARE(run(usr + launcher, {"--version"}), "motionmonitor " MM_PROGRAM_VERSION "\n");
        QVERIFY(QFileInfo(home.filePath("MotionMonitor/logs")).isDir());
    }

    // The user unit records the instance's device with the packaged program.
    void userUnitRunsTheProgram()
    {
        QSettings unit(usr + "lib/systemd/user/motionmonitor-record@.service",
                       QSettings::IniFormat);
        const QStringList exec = unit.value("Service/ExecStart").toString().split(' ');
        QVERIFY2(QFileInfo(dir.filePath("root") + exec.value(0)).isExecutable(),
                 qPrintable(exec[0]));
        QCOMPARE(exec.mid(1, 3), QStringList({"--record", "--device", "/dev/%I"}));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
