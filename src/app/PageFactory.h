#pragma once
// How the view and the main window make the pages other folders own: each
// entry defaults to the page's own constructor or opener (PageFactory.cpp
// includes their headers); tests replace entries to watch the shell.
#include <QString>

#include <functional>

class QWidget;

struct CPageFactory
{
    CPageFactory();
    // The visitor list page, a child of parent; created first.
    std::function<QWidget*(QWidget*)> createUserListPage;
    // "刷新列表": repaint the visitor list page and reload its rows.
    std::function<void(QWidget*)> refreshUserListPage;
    // The accounts and settings page, a child of parent; created second.
    std::function<QWidget*(QWidget*)> createConfigPage;
    // The history, advanced settings and team settings dialogs, run modally over parent.
    std::function<void(QWidget*)> openHistoryDialog;
    std::function<void(QWidget*)> openAdvancedSettingDialog;
    std::function<void(QWidget*)> openTeamSettingDialog;
    // Opens the chat with visitor on shop's behalf the way the visitor list page's
    // double-click does; false when page is not that page.
    std::function<bool(QWidget*, const QString&, const QString&)> openVisitorChat;
    // The statistics page, a child of parent; created fifth.
    std::function<QWidget*(QWidget*)> createStatisticsPage;
};

CPageFactory& PageFactory();
