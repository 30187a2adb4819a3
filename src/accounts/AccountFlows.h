#pragma once
// The add and modify flows of the configuration page. Each runs on a worker
// thread of its own (RunThenCallback) with the values the window's thread
// captured before starting it; what it does to the page goes through
// IAccountPage, whose implementation carries each call to the window's
// thread and returns when it is done. Message boxes go through ShowMessageBox
// with the worker caption and wait for the owner's answer.
#include "tables/AccountTable.h"

#include <QString>

class IAccountPage
{
public:
    virtual ~IAccountPage() = default;
    virtual void StopMonitoring() = 0;
    virtual void StartMonitoring() = 0;
    // Refills the account list from [user].
    virtual void ListAccounts() = 0;
    // The account name value after blanks were taken out (the edit keeps what was typed).
    virtual void SetUserNameValue(const QString& userName) = 0;
    virtual void SetLastWebId(const QString& webId) = 0;
    virtual void EnableAddButton() = 0;
    virtual void EnableModifyButton() = 0;
};

// The name with every blank (U+0020) taken out.
QString RemoveBlanks(const QString& text);

// Each works on the page values the window's thread captured (the web ID is the flow's own).
void RunAddAccount(CAccount values, IAccountPage& page);
void RunModifyAccount(CAccount values, IAccountPage& page);

// The flow texts, for the page and tests.
namespace AccountTexts {
QString EmptyUserName();
QString EmptyGreetingAccount();
QString EmptyPassword();
QString GettingWebId();
QString WebIdFailed();
QString WebIdEmpty();
QString AccountExists();
QString UpdatingImName();
QString AddSucceeded(const QString& userName);
QString AddNotSynchronised(const QString& userName);
QString AddNotStored(const QString& userName);
QString TestingAccount();
QString ModifySucceeded(const QString& userName);
QString ModifyNotSynchronised(const QString& userName);
QString ModifyUnknownAccount(const QString& userName);
QString ModifyNotStored(const QString& userName);
} // namespace AccountTexts
