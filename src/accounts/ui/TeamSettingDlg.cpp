#include "accounts/ui/TeamSettingDlg.h"

#include "accounts/TeamSettings.h"
#include "platform/MessageBox.h"
#include "tables/AccountTable.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CTeamSettingDlg::CTeamSettingDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_machineLabel(new QLabel(this)), m_shopList(new QListWidget(this))
{
    setObjectName(QStringLiteral("CTeamSettingDlg"));
    setWindowTitle(QStringLiteral("团队设置"));
    m_machineLabel->setObjectName(QStringLiteral("machineLabel"));
    // The machine's name comes from the settings file.
    m_machineLabel->setTextFormat(Qt::PlainText);
    m_shopList->setObjectName(QStringLiteral("greetShopList"));
    m_shopList->setAccessibleName(QStringLiteral("本机打招呼的店铺"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CTeamSettingDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_machineLabel);
    layout->addWidget(new QLabel(QStringLiteral("本机为以下店铺自动打招呼(其他店铺由团队中的其他电脑负责):"), this));
    layout->addWidget(m_shopList, 1);
    layout->addWidget(new QLabel(QStringLiteral("没有任何电脑负责的店铺,排队的招呼30分钟后会被丢弃."), this));
    layout->addWidget(buttons);
    resize(420, 320);
}

void CTeamSettingDlg::SetValues(const QString& machine, const QStringList& accounts, const QStringList& greetShops)
{
    m_machine = machine;
    m_machineLabel->setText(QStringLiteral("本机名称:%1").arg(machine));
    m_shopList->clear();
    for (const QString& account : accounts) {
        auto* item = new QListWidgetItem(account, m_shopList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(greetShops.contains(account) ? Qt::Checked : Qt::Unchecked);
    }
}

QStringList CTeamSettingDlg::CheckedShops() const
{
    QStringList shops;
    for (int i = 0; i < m_shopList->count(); ++i) {
        if (m_shopList->item(i)->checkState() == Qt::Checked)
            shops.append(m_shopList->item(i)->text());
    }
    return shops;
}

void CTeamSettingDlg::accept()
{
    if (!WriteGreetShops(m_machine, CheckedShops())) {
        // Nothing changes until it is stored: the owner may try again or cancel.
        ShowMessageBox(kSaveFailedText, AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    QDialog::accept();
}

// The menu's command: the dialog with this machine's stored choice.
void OpenTeamSettingDialog(QWidget* parent)
{
    bool ok = false;
    const QString machine = ThisMachine();
    const QStringList greetShops = ReadGreetShops(machine, &ok);
    if (!ok) {
        ShowMessageBox(CTeamSettingDlg::kReadFailedText, AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    QStringList accounts;
    for (const CAccount& account : CAccountTable().ReadAll())
        accounts.append(account.userName);
    // A shop chosen earlier whose account is gone stays chosen until the owner unticks it.
    for (const QString& shop : greetShops) {
        if (!accounts.contains(shop))
            accounts.append(shop);
    }
    CTeamSettingDlg dialog(parent);
    dialog.SetValues(machine, accounts, greetShops);
    dialog.exec();
}
