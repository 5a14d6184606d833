#include "mmtest.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace mmtest
{

QObject *childNamed(const QObject *root, const QString &name, const QMetaObject &type)
{
    const auto found = root->findChildren<QObject *>(name);
    for (QObject *o : found)
        if (type.cast(o))
            return o;
    qFatal("no %s named \"%s\" under %s \"%s\"", type.className(), qPrintable(name),
           root->metaObject()->className(), qPrintable(root->objectName()));
}

WorkingDirectory::WorkingDirectory(const QString &dir) : saved_(QDir::currentPath())
{
    if (!QDir::setCurrent(dir))
        qFatal("cannot change to %s", qPrintable(dir));
}

WorkingDirectory::~WorkingDirectory()
{
    QDir::setCurrent(saved_);
}

Options *optionsDialog()
{
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget *w : tops)
        if (auto *o = qobject_cast<Options *>(w))
            return o;
    return nullptr;
}

void setTestMode(Options &o, bool on)
{
    widget<QRadioButton>(&o, on ? "TestProgram" : "RealProgram")->setChecked(true);
}

void setDrawPlots(Options &o, bool on)
{
    widget<QCheckBox>(&o, "checkBox")->setChecked(on);
}

void setDevice(Options &o, const QString &path)
{
    // The field is editable only while "Serial port setup" is checked.
    widget<QGroupBox>(&o, "groupBox_2")->setChecked(true);
    widget<QLineEdit>(&o, "devicenameField")->setText(path);
}

void setLogDirectory(Options &o, const QString &dir)
{
    widget<QLineEdit>(&o, "filenameField")->setText(dir);
}

void setAutoClearLines(Options &o, int lines)
{
    widget<QSpinBox>(&o, "AutoClearLines")->setValue(lines);
}

void setNewFileLines(Options &o, int lines)
{
    widget<QSpinBox>(&o, "newfilelines")->setValue(lines);
}

void setSensor(Options &o, int slot, bool on, int type, int bytes)
{
    const QString n = QString::number(slot);
    widget<QCheckBox>(&o, "S" + n + "On")->setChecked(on);
    widget<QComboBox>(&o, "S" + n + "_Sensor")->setCurrentIndex(type);
    widget<QSpinBox>(&o, "S" + n + "_Bytes")->setValue(bytes);
}

namespace
{

void dismiss(QWidget *w)
{
    if (auto *d = qobject_cast<QDialog *>(w))
        d->reject();
    else
        w->close();
}

QString describe(QWidget *w)
{
    return QStringLiteral("%1 \"%2\"").arg(w->metaObject()->className(), w->windowTitle());
}

ModalAnswer answerOptions(const OptionsEditor &edit, QDialogButtonBox::StandardButton button)
{
    return {&Options::staticMetaObject, [edit, button](QWidget *w) {
                auto *o = static_cast<Options *>(w);
                if (edit)
                    edit(*o);
                widget<QDialogButtonBox>(o, "buttonBox")->button(button)->click();
            }};
}

// Set while a MainWindow is being built; a process ended meanwhile (the
// constructor's answer to declined options) must not look like a passed test.
bool constructing = false;

void failOnExitDuringConstruction()
{
    if (constructing) {
        std::fputs("FAIL: the MainWindow constructor ended the process\n", stderr);
        std::_Exit(1);
    }
}

} // namespace

int answerModals(const std::function<void()> &open, const std::vector<ModalAnswer> &answers)
{
    std::size_t next = 0;
    int answered = 0;
    QStringList problems;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (next >= answers.size()) {
            problems << "unexpected dialog " + describe(modal);
            dismiss(modal);
            return;
        }
        const ModalAnswer &a = answers[next++];
        if (!a.type->cast(modal)) {
            problems << QStringLiteral("expected a %1, got %2")
                            .arg(a.type->className(), describe(modal));
            dismiss(modal);
            return;
        }
        a.answer(modal);
        ++answered;
    });
    poll.start();
    open();
    poll.stop();
    if (next < answers.size())
        problems
            << QStringLiteral("%1 dialog(s) expected but never shown").arg(answers.size() - next);
    if (!problems.isEmpty())
        QTest::qFail(qPrintable(problems.join("; ")), __FILE__, __LINE__);
    return answered;
}

ModalAnswer acceptOptions(const OptionsEditor &edit)
{
    return answerOptions(edit, QDialogButtonBox::Ok);
}

ModalAnswer cancelOptions(const OptionsEditor &edit)
{
    return answerOptions(edit, QDialogButtonBox::Cancel);
}

ModalAnswer closeMessageBox(QString *text, QPixmap *icon)
{
    return {&QMessageBox::staticMetaObject, [text, icon](QWidget *w) {
                auto *box = static_cast<QMessageBox *>(w);
                if (text)
                    *text = box->text();
                if (icon)
                    *icon = box->iconPixmap();
                box->button(QMessageBox::Ok)->click();
            }};
}

std::unique_ptr<MainWindow> startMainWindow(const OptionsEditor &edit, QString *summary)
{
    static const bool guarded = std::atexit(failOnExitDuringConstruction) == 0;
    Q_UNUSED(guarded);
    std::unique_ptr<MainWindow> window;
    constructing = true;
    answerModals([&] { window = std::make_unique<MainWindow>(); },
                 {acceptOptions(edit), closeMessageBox(summary)});
    constructing = false;
    return window;
}

bool reopenOptions(MainWindow &window, const OptionsEditor &edit, bool accept)
{
    auto *action = widget<QAction>(&window, "actionOptions");
    return answerModals([action] { action->trigger(); },
                        {accept ? acceptOptions(edit) : cancelOptions(edit)}) == 1;
}

QString readMessageBoxOf(MainWindow &window, const QString &actionName, QPixmap *icon)
{
    auto *action = widget<QAction>(&window, actionName);
    QString text;
    answerModals([action] { action->trigger(); }, {closeMessageBox(&text, icon)});
    return text;
}

} // namespace mmtest
