#pragma once
// The visitor card: a small modal box that shows one visitor's name and IM ID
// in a browser pane. Opened from the history page with the visitor of the
// selected row; without a name it ends at once with result 0.
#include <QDialog>
#include <QString>

class QTextBrowser;

class CShowOneClientDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CShowOneClientDlg(QWidget* parent = nullptr);

    void SetVisitorName(const QString& name) { m_visitorName = name; }
    void SetVisitorImId(const QString& imId) { m_visitorImId = imId; }
    QString VisitorName() const { return m_visitorName; }

    int exec() override;
    // Fills the browser pane for the visitor.
    void ShowVisitorInfo(const QString& name);
    QTextBrowser* Browser() const { return m_browser; }

private:
    QString m_visitorName;
    QString m_visitorImId;
    QTextBrowser* m_browser;
};
