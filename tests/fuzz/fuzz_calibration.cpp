// libFuzzer target for the calibration file reader: any bytes as a calibration file. A file it
// accepts is a JSON object of the format and version; each axis it calibrates has a scale other
// than 0 within the bounds and an offset within them; written back and read again, it is the
// same. A refusal names the file.
#include "calibration.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath("calibration.json"), again = dir.filePath("again.json");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    Calibration c, back;
    QString error;
    if (!Calibration::read(path, &c, &error)) {
        if (!error.startsWith(path + ": "))
            qFatal("calibration check failed: a refusal that does not name the file: %s",
                   qPrintable(error));
        return 0;
    }
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)))
            .object();
    if (o["format"] != "motionmonitor-calibration" || o["version"] != 1)
        qFatal("calibration check failed: accepted without its format and version");
    for (const Calibration::Axis &a : c.axes)
        if (!(std::abs(a.offset) <= Calibration::maxOffset) ||
            !(std::abs(a.scale) <= Calibration::maxScale))
            qFatal("calibration check failed: an axis out of bounds");
    if (!c.write(again, {}, &error) || !Calibration::read(again, &back, &error))
        qFatal("calibration check failed: written back, refused: %s", qPrintable(error));
    for (int i = 0; i < Recording::columnCount; ++i)
        if (back.axes[std::size_t(i)].offset != c.axes[std::size_t(i)].offset ||
            back.axes[std::size_t(i)].scale != c.axes[std::size_t(i)].scale)
            qFatal("calibration check failed: axis %d changed when written back", i);
    return 0;
}
