#pragma once
// A page whose only content is a browser pane showing one address of the
// service. It navigates once, when created; the text is fetched off the
// window's thread, so a slow or absent service never freezes the window.
// Pictures load only over http/https from the tracking service's host (or
// from the program's own resources); links open in the desktop's browser
// only when they are http/https.
#include "monitor/ui/Explorer_showuserinfo.h"

#include <QString>
#include <QUrl>
#include <QWidget>

class CWebPageDlg : public QWidget
{
    Q_OBJECT
public:
    CWebPageDlg(const QString& objectName, const QString& address, QWidget* parent);

    CExplorer_showuserinfo* Browser() const { return m_browser; }
    QString Address() const { return m_address; }
    // 0 until the one fetch has answered, then 1 (shown) or -1 (unreachable).
    int LoadState() const { return m_loadState; }

Q_SIGNALS:
    void PageLoaded(bool ok);

private:
    void Navigate();
    void OnFetched(bool ok, const QString& text);

    QString m_address;
    CExplorer_showuserinfo* m_browser;
    int m_loadState = 0;
};

class CHtmlHelpDlg : public CWebPageDlg
{
    Q_OBJECT
public:
    explicit CHtmlHelpDlg(QWidget* parent = nullptr);
};

class CMirelAdDlg : public CWebPageDlg
{
    Q_OBJECT
public:
    explicit CMirelAdDlg(QWidget* parent = nullptr);
};
