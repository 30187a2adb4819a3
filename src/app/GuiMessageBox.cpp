#include "app/GuiMessageBox.h"

#include "platform/MessageBox.h"
#include "platform/Workers.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>

#include <atomic>

namespace {

std::atomic<bool> g_suppressed{false};
// Read and written on the window's thread only.
QPointer<QWidget> g_owner;

QMessageBox::Icon ToQtIcon(EMsgIcon icon)
{
    switch (icon) {
    case EMsgIcon::Information:
        return QMessageBox::Information;
    case EMsgIcon::Exclamation:
        return QMessageBox::Warning;
    case EMsgIcon::Question:
        return QMessageBox::Question;
    case EMsgIcon::Error:
        return QMessageBox::Critical;
    case EMsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int ShowHere(const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons buttons)
{
    QMessageBox box(ToQtIcon(icon), caption, QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")),
                    QMessageBox::NoButton, g_owner);
    box.setObjectName(QStringLiteral("messageBox"));
    // Box texts carry shop names and service replies.
    box.setTextFormat(Qt::PlainText);
    if (buttons == EMsgButtons::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        yes->setObjectName(QStringLiteral("yesButton"));
        no->setObjectName(QStringLiteral("noButton"));
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? kIdYes : kIdNo;
    }
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return kIdOk;
}

int GuiMessageBox(const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons buttons)
{
    const int fallback = buttons == EMsgButtons::YesNo ? kIdNo : kIdOk;
    QCoreApplication* app = QCoreApplication::instance();
    if (g_suppressed.load() || !app)
        return fallback;
    int result = fallback;
    RunOnThreadAndWait(app, [&] {
        if (!g_suppressed.load())
            result = ShowHere(text, caption, icon, buttons);
    });
    return result;
}

} // namespace

void InstallGuiMessageBoxHandler(QWidget* owner)
{
    g_owner = owner;
    // A handler already in place (ours, or a test's recorder) stays.
    if (MessageBoxHandler previous = SetMessageBoxHandler(&GuiMessageBox))
        SetMessageBoxHandler(std::move(previous));
}

void SuppressGuiMessageBoxes(bool suppress)
{
    g_suppressed.store(suppress);
}
