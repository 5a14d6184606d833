#pragma once
// Helpers shared by the acquisition tests: the window's live values, message
// log, buttons and timer, and the log files it writes.

#include "mmtest.h"
#include "serialtest.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLCDNumber>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace acqtest
{

// Accelerometer X Y Z, gyroscope X Y Z (failure messages show them).
using Values = serialtest::Tuple;

inline Values lcdValues(const MainWindow &window)
{
    Values v{};
    const char *names[6] = {"acc_X", "acc_Y", "acc_Z", "gyro_X", "gyro_Y", "gyro_Z"};
    for (int i = 0; i < 6; ++i)
        v[i] = mmtest::widget<QLCDNumber>(&window, names[i])->intValue();
    return v;
}

inline QString messageLog(const MainWindow &window)
{
    return mmtest::widget<QTextBrowser>(&window, "msgBrowser")->toPlainText();
}

inline void press(MainWindow &window, const char *button)
{
    mmtest::widget<QPushButton>(&window, button)->click();
}

inline void setReadInterval(MainWindow &window, int ms)
{
    mmtest::widget<QSpinBox>(&window, "TaajuusSBox")->setValue(ms);
}

inline void setDatalog(MainWindow &window, bool on)
{
    mmtest::widget<QCheckBox>(&window, "LogBox1")->setChecked(on);
}

// The timer that paces acquisition: the window's only QTimer child.
inline QTimer *acquisitionTimer(const MainWindow &window)
{
    const auto timers = window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    if (timers.size() != 1)
        qFatal("expected one QTimer child of the main window, found %d", int(timers.size()));
    return timers.first();
}

// A log row as the program writes it: its index, then the six values.
inline QString logRow(int index, const Values &v)
{
    QStringList fields{QString::number(index)};
    for (int value : v)
        fields << QString::number(value);
    return fields.join(',');
}

// The rows of every log file in dir, files in name order, each file's
// header left out; *files is set to the number of files.
inline QStringList logRows(const QString &dir, int *files = nullptr)
{
    const QStringList names = QDir(dir).entryList(QDir::Files, QDir::Name);
    if (files)
        *files = int(names.size());
    QStringList rows;
    for (const QString &name : names) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {"cannot read " + name};
        for (const QString &line : QString::fromLatin1(file.readAll()).split('\n'))
            if (!line.isEmpty() && line != QLatin1String("indeksi,x-akseli1,y-akseli1,z-akseli1,"
                                                         "x-akseli2,y-akseli2,z-akseli2"))
                rows << line;
    }
    return rows;
}

} // namespace acqtest
