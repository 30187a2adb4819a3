#include "app/AboutDlg.h"

#include "controls/ui/PictureEx.h"
#include "controls/ui/Resources.h"
#include "controls/ui/TextScroller.h"
#include "iploc/IpLocator.h"
#include "monitor/ViewHearing.h"
#include "monitor/VisitorListBridge.h"
#include "platform/Endpoints.h"
#include "platform/Launcher.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_picture(new CPictureEx(this)), m_scroller(new CTextScroller(this)), m_link(new QLabel(this))
{
    InitMirelResources();
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("关于 RivuZovara"));

    m_picture->setObjectName(QStringLiteral("aboutPicture"));
    m_picture->setFixedSize(64, 64);
    m_picture->setAccessibleName(QStringLiteral("程序图标"));
    m_picture->Load(QStringLiteral(":/about/logo.png"));
    m_picture->Draw();

    auto* version = new QLabel(QStringLiteral("RivuZovara, Version 1.1"), this);
    version->setObjectName(QStringLiteral("versionLabel"));

    const QString site = Endpoints().makerSite;
    m_link->setObjectName(QStringLiteral("makerSiteLink"));
    m_link->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(site.toHtmlEscaped(), site.toHtmlEscaped()));
    m_link->setTextFormat(Qt::RichText);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_link->setOpenExternalLinks(false);
    m_link->setCursor(Qt::PointingHandCursor);
    connect(m_link, &QLabel::linkActivated, this, [this] { OnClickedLink(); });

    m_scroller->setObjectName(QStringLiteral("aboutScroller"));
    m_scroller->setMinimumSize(300, 110);
    m_scroller->SetFontName(QStringLiteral("宋体"));
    m_scroller->FontDescription().setItalic(true);
    m_scroller->RecreateFont();
    m_scroller->SetBackgroundColor(QColor(0, 0, 0));
    m_scroller->SetTextColor(QColor(255, 255, 255));

    m_ipData = new QLabel(this);
    m_ipData->setObjectName(QStringLiteral("ipDataLabel"));
    m_ipData->setTextFormat(Qt::PlainText);
    IVisitorListBridge* bridge = VisitorListBridge();
    CIpLocator* locator = bridge ? bridge->IpLocator() : nullptr;
    m_ipData->setText(IpDataText(locator ? locator->DataInUse() : CIpDataInUse()));

    auto* hearing = new QLabel(ViewHearingText(), this);
    hearing->setObjectName(QStringLiteral("hearingLabel"));
    hearing->setTextFormat(Qt::PlainText);

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_picture, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(m_link, 1, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->addWidget(m_ipData, 2, 0, 1, 3);
    grid->addWidget(hearing, 3, 0, 1, 3);
    grid->addWidget(m_scroller, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);
    resize(380, 240);

    // Wrapping needs the final width, so the lines come once the layout has run.
    grid->activate();
    m_scroller->AddLines(ScrollerLines());
    // What scrolls by, all at once for a screen reader.
    m_scroller->setAccessibleName(QStringLiteral("版权信息"));
    m_scroller->setAccessibleDescription(ScrollerLines().join(u'\n'));
}

QStringList CAboutDlg::ScrollerLines()
{
    return {QStringLiteral(" Lumo助手-Vexa来客提醒"), QStringLiteral("  "), QStringLiteral(" 祝您生意兴隆 财源多多"),
            QStringLiteral("  "), QStringLiteral(" Vexa品质 坚如磐石")};
}

QString CAboutDlg::IpDataText(const CIpDataInUse& data)
{
    if (data.file.isEmpty())
        return QStringLiteral("IP数据:无");
    const QString kind = data.ipv6 ? QStringLiteral("IPv4、IPv6") : QStringLiteral("IPv4");
    const QString date = data.buildDate.isEmpty() ? QStringLiteral("日期不详") : data.buildDate;
    return QStringLiteral("IP数据:%1(%2),%3").arg(data.file, kind, date);
}

int CAboutDlg::OnClickedLink()
{
    // A failure to start the browser is not reported.
    OpenWithDesktop(Endpoints().makerSite, false, 0);
    return 0;
}

void RunAboutDialog(QWidget* parent)
{
    CAboutDlg dialog(parent);
    dialog.exec();
}
