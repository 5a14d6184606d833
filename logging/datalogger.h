#pragma once

#include <QFile>
#include <QObject>
#include <QString>

// Writes samples as comma-separated rows into time-named files in the logging
// directory, starting a new file after a set number of rows.
class Datalogger : public QObject
{
    Q_OBJECT
public:
    explicit Datalogger(QObject *parent = nullptr);
    ~Datalogger() override;

signals:
    void NewFileCreated(QString);

public slots:
    void ReceiveFilename(QString filename);
    void CreateFile();
    // Writes one row, starting a file first if none is open. The row is on
    // disk when this returns, or the failure has been reported.
    void Log(int acc_x, int acc_y, int acc_z, int gyro_x, int gyro_y, int gyro_z);
    void ReceiveNewfileIndex(int newfileIndex_);

private:
    QFile file;
    QString filename;
    bool fileOpen;
    int lineIndex;
    int newfileIndex;
};
