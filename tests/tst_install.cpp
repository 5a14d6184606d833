// What `cmake --install` puts on a machine: the program, the files it expects
// beside its working directory, and a menu entry with an icon.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void installsProgramFilesAndMenuEntry();
};

void TestInstall::installsProgramFilesAndMenuEntry()
{
    const QString cmake = QStandardPaths::findExecutable("cmake");
    QVERIFY(!cmake.isEmpty());
    QTemporaryDir root;
    QVERIFY(root.isValid());

    // DESTDIR keeps the configured prefix, which the menu entry names.
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", root.path());
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    const QString buildDir = QFileInfo(MM_BIN_DIR).path();
    install.start(cmake, {"--install", buildDir});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());

    QString desktopFile;
    QDirIterator it(root.path(), {"motionmonitor.desktop"}, QDir::Files,
                    QDirIterator::Subdirectories);
    if (it.hasNext())
        desktopFile = it.next();
    QVERIFY2(desktopFile.endsWith("/share/applications/motionmonitor.desktop"),
             qPrintable(desktopFile));
    const QString prefix = desktopFile.section('/', 0, -4).mid(root.path().size());

    QSettings entry(desktopFile, QSettings::IniFormat);
    entry.beginGroup("Desktop Entry");
    QCOMPARE(entry.value("Type").toString(), QString("Application"));
    QCOMPARE(entry.value("Name").toString(), QString("Motion Monitor"));

    const QFileInfo program(root.path() + entry.value("Exec").toString());
    QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
    QVERIFY(program.filePath().startsWith(root.path() + prefix + "/"));

    // The entry starts the program where its About box finds logo.png.
    const QDir workDir(root.path() + entry.value("Path").toString());
    for (const char *file : {"logo.png", "readme.txt"}) {
        QVERIFY2(workDir.exists(file), file);
        QCOMPARE(QFileInfo(workDir.filePath(file)).size(),
                 QFileInfo(MM_SOURCE_DIR "/resources/" + QString(file)).size());
    }

    const QString icon = entry.value("Icon").toString();
    const QImage iconImage(root.path() + prefix + "/share/icons/hicolor/128x128/apps/" + icon +
                           ".png");
    QCOMPARE(iconImage.size(), QSize(128, 128));
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
