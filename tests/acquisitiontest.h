#pragma once
// Helpers shared by the acquisition tests: the window's live values, its
// acquisition timer, its buttons and the log files it writes.

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

#include <array>
#include <vector>

namespace acqtest
{

// Six values in the program's order: accelerometer X Y Z, gyroscope X Y Z
// (failure messages show them).
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

// One row of a log file: its index and the six values.
struct Row {
    int index;
    Values values;
};

// The rows of every log file in `dir`, files in name order, headers checked
// and skipped. Lines that are not a header or a row of seven integers fail
// the running test through the returned `ok` flag.
struct LogContents {
    QStringList files;
    std::vector<Row> rows;
    bool ok = true;
};

inline LogContents readLogs(const QString &dir)
{
    LogContents log;
    log.files = QDir(dir).entryList(QDir::Files, QDir::Name);
    for (const QString &name : log.files) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            log.ok = false;
            continue;
        }
        const QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
        for (const QString &line : lines) {
            if (line.isEmpty() ||
                line == QLatin1String("indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,"
                                      "y-akseli2,z-akseli2"))
                continue;
            const QStringList fields = line.split(',');
            Row row{-1, {}};
            bool ok = fields.size() == 7;
            for (int i = 0; ok && i < 7; ++i) {
                const int value = fields[i].toInt(&ok);
                (i == 0 ? row.index : row.values[i - 1]) = value;
            }
            if (!ok) {
                qWarning("not a log row in %s: %s", qPrintable(name), qPrintable(line));
                log.ok = false;
                continue;
            }
            log.rows.push_back(row);
        }
    }
    return log;
}

inline int loggedRows(const QString &dir)
{
    return static_cast<int>(readLogs(dir).rows.size());
}

} // namespace acqtest
