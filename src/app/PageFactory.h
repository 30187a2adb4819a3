#pragma once
// The pages other folders own, reached only through these functions so the
// shell never includes their headers. Each owning folder defines its
// function(s) next to its page (monitor/ui/UserListDlg.cpp,
// accounts/ui/ConfigDlg.cpp, accounts/ui/AdvancedSettingDlg.cpp,
// accounts/ui/TeamSettingDlg.cpp, history/HistoryDlg.cpp,
// stats/ui/StatisticsDlg.cpp).
#include <QString>

#include <functional>

class QWidget;

// The visitor list page (CUserListDlg), a child of parent; created first.
QWidget* CreateUserListPage(QWidget* parent);
// "刷新列表": repaint the visitor list page and reload its rows.
void RefreshUserListPage(QWidget* page);
// The accounts and settings page (CConfigDlg), a child of parent; created second.
QWidget* CreateConfigPage(QWidget* parent);
// Runs the history dialog (CHistoryDlg) modally over parent.
void OpenHistoryDialog(QWidget* parent);
// Runs the advanced settings dialog (CAdvancedSettingDlg) modally over parent.
void OpenAdvancedSettingDialog(QWidget* parent);
// Runs the team settings dialog (CTeamSettingDlg) modally over parent.
void OpenTeamSettingDialog(QWidget* parent);
// Opens the chat with visitor on shop's behalf the way the visitor list page's
// double-click does; false when page is not that page.
bool OpenVisitorChat(QWidget* page, const QString& shop, const QString& visitor);
// The statistics page (CStatisticsDlg), a child of parent; created fifth.
QWidget* CreateStatisticsPage(QWidget* parent);

// What the view calls: the functions above unless a test replaced an entry.
struct CPageFactory
{
    std::function<QWidget*(QWidget*)> createUserListPage = &CreateUserListPage;
    std::function<void(QWidget*)> refreshUserListPage = &RefreshUserListPage;
    std::function<QWidget*(QWidget*)> createConfigPage = &CreateConfigPage;
    std::function<void(QWidget*)> openHistoryDialog = &OpenHistoryDialog;
    std::function<void(QWidget*)> openAdvancedSettingDialog = &OpenAdvancedSettingDialog;
    std::function<void(QWidget*)> openTeamSettingDialog = &OpenTeamSettingDialog;
    std::function<bool(QWidget*, const QString&, const QString&)> openVisitorChat = &OpenVisitorChat;
    std::function<QWidget*(QWidget*)> createStatisticsPage = &CreateStatisticsPage;
};

CPageFactory& PageFactory();
