#include "trackcode/ui/MakeCodeDlg.h"

#include "platform/MessageBox.h"
#include "trackcode/TrackingSnippet.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Read-only but selectable, so the owner can copy and not edit.
QPlainTextEdit* MakeNote(const QString& name, QWidget* parent)
{
    auto* edit = new QPlainTextEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setMaximumHeight(64);
    edit->setFocusPolicy(Qt::ClickFocus);
    // The texts open with a tab: an indent, not a column.
    edit->setTabStopDistance(edit->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
    return edit;
}

QLineEdit* MakeField(const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    return edit;
}

} // namespace

CMakeCodeDlg::CMakeCodeDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("makeCodeDialog"));
    setWindowTitle(QStringLiteral("网店代码生成"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    m_headText = MakeNote(QStringLiteral("headTextEdit"), this);
    layout->addWidget(m_headText);

    auto* methodOne = new QGroupBox(QStringLiteral("方法一"), this);
    methodOne->setObjectName(QStringLiteral("methodOneGroup"));
    auto* oneLayout = new QVBoxLayout(methodOne);
    m_snippetEdit = MakeField(QStringLiteral("snippetEdit"), methodOne);
    m_methodOneText = MakeNote(QStringLiteral("methodOneTextEdit"), methodOne);
    oneLayout->addWidget(m_snippetEdit);
    oneLayout->addWidget(m_methodOneText);
    layout->addWidget(methodOne);

    // Kept, filled and hidden: the owner is shown the first way only.
    m_methodTwoGroup = new QGroupBox(QStringLiteral("方法二"), this);
    m_methodTwoGroup->setObjectName(QStringLiteral("methodTwoGroup"));
    auto* twoLayout = new QVBoxLayout(m_methodTwoGroup);
    m_addressEdit = MakeField(QStringLiteral("addressEdit"), m_methodTwoGroup);
    m_methodTwoText = MakeNote(QStringLiteral("methodTwoTextEdit"), m_methodTwoGroup);
    twoLayout->addWidget(m_addressEdit);
    twoLayout->addWidget(m_methodTwoText);
    layout->addWidget(m_methodTwoGroup);
    m_methodTwoGroup->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    ok->setFocus();
    resize(600, 230);
}

void CMakeCodeDlg::InitDialog()
{
    const int webId = m_strWebId.toInt();
    m_headText->setPlainText(MakeCodeHeadText(m_strUserName));
    m_snippetEdit->setText(TrackingSnippet(webId));
    m_snippetEdit->setCursorPosition(0);
    m_methodOneText->setPlainText(MakeCodeMethodOneText());
    m_addressEdit->setText(TrackingAddress(webId));
    m_addressEdit->setCursorPosition(0);
    m_methodTwoText->setPlainText(MakeCodeMethodTwoText());
}

void CMakeCodeDlg::showEvent(QShowEvent* event)
{
    InitDialog();
    QDialog::showEvent(event);
}

void OpenMakeCodeDialog(QWidget* parent, int selectionMark, const QString& userName, int webId)
{
    if (selectionMark == -1) {
        ShowMessageBox(QStringLiteral("请选择一个用户后再操作!"), AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    if (userName.isEmpty() || webId == 0) {
        ShowMessageBox(QStringLiteral("数据出错!"), AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    CMakeCodeDlg dlg(parent);
    dlg.m_strUserName = userName;
    dlg.m_strWebId = QString::number(webId);
    dlg.exec();
}
