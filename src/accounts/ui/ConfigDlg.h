#pragma once
// The configuration page: monitored shop accounts, one account's greeting
// settings and the system settings; its buttons start and stop the worker
// threads through CMonitorControl. Created once by the view and kept until
// the program ends; everything here runs on the window's thread.
// The add and modify flows run on workers of their own and reach the page
// through calls carried back to this thread.
#include "accounts/SystemSettings.h"
#include "platform/OneShot.h"
#include "tables/AccountTable.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class CUpDownCtrl;
class CMonitorControl;

class CConfigDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CConfigDlg(QWidget* parent = nullptr);
    // Raises the stop flags of the running workers; never waits for them.
    ~CConfigDlg() override;

    // Data exchange. Controls to values (true): in the fixed order, stopping
    // at the first interval that is not a number in its range, after telling
    // the owner (unless quiet); false then. Values to controls (false).
    bool UpdateData(bool saveAndValidate = true, bool quiet = false);

    // Operations the flows share.
    void ListAccounts();
    void StartMonitoring();
    void StopMonitoring();
    bool IsMonitoring() const;
    bool IsGreetingRunning() const;
    // The listed row whose account the buttons act on; -1 when none.
    int GetSelectionMark() const;
    int GetRememberedRow() const { return m_nLastRow; }
    // The start-up account-state check is still waiting for the service.
    bool IsCheckingAccountStates() const;
    CMonitorControl& Control() const { return *m_control; }

    // Commands (also what the buttons and list clicks run).
    void OnAddAccount();
    void OnModifyAccount();
    void OnDeleteAccount();
    void OnClickList(int row);
    void OnSaveGreeting();
    void OnGreetingSwitch();
    void OnMakeCode();
    void OnToggleMonitoring();
    void OnToggleGreeting();
    void OnSaveSettings();
    void OnAutorunClicked();
    void OnRefreshSpinDelta(int pos, int delta);
    void OnSendSpinDelta(int pos, int delta);
    void OnRefreshTyped();
    void OnSendTyped();

    // Page values: the account in the fields (its web ID the last one the
    // service gave). The system settings are LiveSettings() itself: one copy,
    // live at once.
    CAccount m_account;

    // Called by the add / modify flows, on this thread.
    void SetUserNameValue(const QString& userName) { m_account.userName = userName; }
    void SetLastWebId(const QString& webId) { m_account.webId = webId; }
    void EnableAddButton();
    void EnableModifyButton();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void InitDialog();
    void LoadSettings();
    void ResetAccountFields();
    bool ExchangeInterval(QLineEdit* edit, int lower, int upper, std::atomic<int>& value, bool quiet);
    void OnSpinDelta(CUpDownCtrl* spin, std::atomic<int>& value, int pos, int delta);
    void OnIntervalTyped(CUpDownCtrl* spin, const std::atomic<int>& value);

    // Controls.
    QLineEdit* m_userNameEdit = nullptr;
    QLineEdit* m_userSmallNameEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QListWidget* m_accountList = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_modifyButton = nullptr;
    QGroupBox* m_userSettingsGroup = nullptr;
    QCheckBox* m_autoSendCheck = nullptr;
    QPlainTextEdit* m_messageEdit = nullptr;
    QPushButton* m_makeCodeButton = nullptr;
    QPushButton* m_saveGreetingButton = nullptr;
    QPushButton* m_monitorButton = nullptr;
    QPushButton* m_greetingButton = nullptr;
    QCheckBox* m_autorunCheck = nullptr;
    QCheckBox* m_clientTipCheck = nullptr;
    QCheckBox* m_guestTipCheck = nullptr;
    QCheckBox* m_playSoundCheck = nullptr;
    QLineEdit* m_refreshEdit = nullptr;
    CUpDownCtrl* m_refreshSpin = nullptr;
    QLineEdit* m_sendEdit = nullptr;
    CUpDownCtrl* m_sendSpin = nullptr;
    QPushButton* m_saveSettingsButton = nullptr;

    // The row whose account was last loaded into the fields; -1 when none.
    int m_nLastRow = -1;
    CMonitorControl* m_control = nullptr;
    COneShot m_stateCheck;
};

extern CConfigDlg* g_pConfigDlg;
