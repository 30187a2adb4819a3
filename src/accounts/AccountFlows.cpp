#include "accounts/AccountFlows.h"

#include "net/TrackingService.h"
#include "notify/OwnerNotifier.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/MessageBox.h"

namespace AccountTexts {
QString EmptyUserName()
{
    return QStringLiteral("您输入的用户名不正确,请重新输入!");
}
QString EmptyGreetingAccount()
{
    return QStringLiteral("您输入的Lumo小号用户名不正确,请重新输入!");
}
QString EmptyPassword()
{
    return QStringLiteral("您的防监控密码输入不正确,请重新输入");
}
QString GettingWebId()
{
    return QStringLiteral("正在从服务器获得您的ID......");
}
QString WebIdFailed()
{
    return QStringLiteral("网络不通或您用户名密码没有登记!无法添加用户!");
}
QString WebIdEmpty()
{
    return QStringLiteral("用户打招呼ID获取失败,请稍后重试!");
}
QString AccountExists()
{
    return QStringLiteral("您输入的用户已经存在,请重新输入新用户!");
}
QString UpdatingImName()
{
    return QStringLiteral("正在更新您的Lumo用户名......");
}
QString AddSucceeded(const QString& userName)
{
    return QStringLiteral("账户[%1]，添加成功！").arg(userName);
}
QString AddNotSynchronised(const QString& userName)
{
    return QStringLiteral("账户[%1]，添加成功但Lumo用户名未与网络同步，请稍后再点[修改账号]按钮使之与网络同步！")
        .arg(userName);
}
QString AddNotStored(const QString& userName)
{
    return QStringLiteral("账户[%1]，保存失败，请稍后重试！").arg(userName);
}
QString TestingAccount()
{
    return QStringLiteral("正在登陆Lumo网测试您的账号和密码......");
}
QString ModifySucceeded(const QString& userName)
{
    return QStringLiteral("账户[%1]，更新成功！").arg(userName);
}
QString ModifyNotSynchronised(const QString& userName)
{
    return QStringLiteral("账户[%1]，添加成功但LumoID未与网络同步，请稍后再点[修改账号]按钮使之与网络同步！")
        .arg(userName);
}
QString ModifyUnknownAccount(const QString& userName)
{
    return QStringLiteral("账户[%1]，设置保存失败！").arg(userName);
}
QString ModifyNotStored(const QString& userName)
{
    return QStringLiteral("账户[%1]，已与网络同步，但本地保存失败，请稍后重试！").arg(userName);
}
} // namespace AccountTexts

namespace {

void Tell(const QString& text)
{
    ShowMessageBox(text, WorkerCaption());
}

} // namespace

QString RemoveBlanks(const QString& text)
{
    QString result = text;
    result.remove(QLatin1Char(' '));
    return result;
}

void RunAddAccount(CAccount values, IAccountPage& page)
{
    page.StopMonitoring();
    SleepMs(100);

    // Empty names are refused like the password; nothing is asked of the service.
    const QString typedName = RemoveBlanks(values.userName);
    if (typedName.isEmpty()) {
        Tell(AccountTexts::EmptyUserName());
        page.EnableAddButton();
        return;
    }
    if (values.greetingAccount.isEmpty()) {
        Tell(AccountTexts::EmptyGreetingAccount());
        page.EnableAddButton();
        return;
    }
    values.userName = typedName;
    page.SetUserNameValue(values.userName);

    if (values.password.isEmpty()) {
        Tell(AccountTexts::EmptyPassword());
        page.EnableAddButton();
        return;
    }

    ShowStatusMessage(AccountTexts::GettingWebId());
    QString webId;
    if (!GetWebID(values.userName, values.password, webId)) {
        Tell(AccountTexts::WebIdFailed());
        page.EnableAddButton();
        return;
    }
    if (webId.isEmpty()) {
        Tell(AccountTexts::WebIdEmpty());
        page.EnableAddButton();
        return;
    }
    page.SetLastWebId(webId);

    const CAccountTable accounts;
    const EAccountLookup lookup = accounts.Find(values.userName);
    if (lookup == EAccountLookup::Exists) {
        Tell(AccountTexts::AccountExists());
    } else if (lookup == EAccountLookup::Missing) {
        values.webId = webId;
        if (!accounts.Insert(values)) {
            Tell(AccountTexts::AddNotStored(values.userName));
        } else {
            page.ListAccounts();
            ShowStatusMessage(AccountTexts::UpdatingImName());
            if (SaveImName(values.userName, values.password, values.greetingAccount))
                Tell(AccountTexts::AddSucceeded(values.userName));
            else
                Tell(AccountTexts::AddNotSynchronised(values.userName));
        }
    }

    page.StartMonitoring();
    page.EnableAddButton();
}

void RunModifyAccount(CAccount values, IAccountPage& page)
{
    page.StopMonitoring();
    values.userName = RemoveBlanks(values.userName);
    page.SetUserNameValue(values.userName);
    // An edited name matches no row: the service is not told of an account we do not keep.
    const CAccountTable accounts;
    if (accounts.Find(values.userName) != EAccountLookup::Exists) {
        qCWarning(LogUi) << "modify refused: no stored account of that name";
        Tell(AccountTexts::ModifyUnknownAccount(values.userName));
        page.StartMonitoring();
        page.EnableModifyButton();
        return;
    }
    ShowStatusMessage(AccountTexts::TestingAccount());
    ShowStatusMessage(AccountTexts::UpdatingImName());

    if (!SaveImName(values.userName, values.password, values.greetingAccount)) {
        Tell(AccountTexts::ModifyNotSynchronised(values.userName));
        page.EnableModifyButton();
        return;
    }

    // Stored first, so the owner is never told of an update that did not happen.
    if (accounts.Update(values))
        Tell(AccountTexts::ModifySucceeded(values.userName));
    else
        Tell(AccountTexts::ModifyNotStored(values.userName));
    page.StartMonitoring();
    page.EnableModifyButton();
}
