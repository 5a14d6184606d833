#pragma once

#include <QList>
#include <QString>

class QCustomPlot;
class QWidget;

// Writes `plots` one below the other, each at its size on the screen and as
// it shows now, under a line with `title` unless it is empty, into one image
// file: PNG, JPG or PDF (vector), by the file name's suffix (any case).
// False with *error naming the file and the reason when there is no plot,
// the suffix is none of these or the file cannot be written.
bool savePlotImage(const QList<QCustomPlot *> &plots, const QString &fileName, QString *error,
                   const QString &title = QString());

// "Save image…": asks for a file name (suggestedName in the last directory
// used), writes the image and tells the user in a message box when it fails.
void askAndSavePlotImage(QWidget *parent, const QList<QCustomPlot *> &plots,
                         const QString &suggestedName, const QString &title = QString());
