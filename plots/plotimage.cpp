#include "plotimage.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageLayout>
#include <QPdfWriter>
#include <qcustomplot.h>

namespace
{

// The title's font and the height of its line; none without a title.
QFont titleFont()
{
    QFont font;
    font.setPointSize(11);
    font.setBold(true);
    return font;
}
int titleHeight(const QString &title)
{
    return title.isEmpty() ? 0 : QFontMetrics(titleFont()).height() * 2;
}

// Draws the title and the plots one below the other from the painter's
// origin, `width` wide.
void paintPlots(QCPPainter &painter, const QList<QCustomPlot *> &plots, const QString &title,
                int width)
{
    int top = titleHeight(title);
    if (top > 0) {
        painter.setFont(titleFont());
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, 0, width, top), Qt::AlignCenter, title);
    }
    for (QCustomPlot *plot : plots) {
        painter.save();
        painter.translate(0, top);
        plot->toPainter(&painter, plot->width(), plot->height());
        painter.restore();
        top += plot->height();
    }
}

} // namespace

bool savePlotImage(const QList<QCustomPlot *> &plots, const QString &fileName, QString *error,
                   const QString &title)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const auto refuse = [&](const QString &reason) {
        *error = QStringLiteral("%1: %2").arg(fileName, reason);
        return false;
    };
    if (plots.isEmpty())
        return refuse(QStringLiteral("no plot is shown"));
    if (suffix != QLatin1String("png") && suffix != QLatin1String("jpg") &&
        suffix != QLatin1String("pdf"))
        return refuse(QStringLiteral("the name must end in .png, .jpg or .pdf"));
    QSize size(0, titleHeight(title));
    for (const QCustomPlot *plot : plots)
        size = QSize(std::max(size.width(), plot->width()), size.height() + plot->height());

    if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(fileName);
        pdf.setCreator(QStringLiteral("Motion Monitor"));
        // One point a pixel, so the page is the size of the plots on the screen.
        pdf.setResolution(72);
        pdf.setPageLayout(
            QPageLayout(QPageSize(size, QPageSize::Point, QString(), QPageSize::ExactMatch),
                        QPageLayout::Portrait, QMarginsF()));
        QCPPainter painter;
        if (!painter.begin(&pdf))
            return refuse(QStringLiteral("cannot be written"));
        painter.setMode(QCPPainter::pmVectorized);
        paintPlots(painter, plots, title, size.width());
        return painter.end() || refuse(QStringLiteral("cannot be written"));
    }

    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    paintPlots(painter, plots, title, size.width());
    painter.end();
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return refuse(file.errorString());
    // For PNG the quality sets the compression; the default packs it well.
    const bool png = suffix == QLatin1String("png");
    if (!image.save(&file, png ? "PNG" : "JPG", png ? -1 : 90))
        return refuse(file.errorString().isEmpty() ? QStringLiteral("cannot be written")
                                                   : file.errorString());
    return true;
}

void askAndSavePlotImage(QWidget *parent, const QList<QCustomPlot *> &plots,
                         const QString &suggestedName, const QString &title)
{
    static QString lastDirectory;
    const QString fileName = QFileDialog::getSaveFileName(
        parent, QStringLiteral("Save image"), QDir(lastDirectory).filePath(suggestedName),
        QStringLiteral("Images (*.png *.jpg *.pdf)"));
    if (fileName.isEmpty())
        return;
    lastDirectory = QFileInfo(fileName).path();
    QString error;
    if (!savePlotImage(plots, fileName, &error, title))
        QMessageBox::warning(parent, QStringLiteral("Save image"), error);
}
