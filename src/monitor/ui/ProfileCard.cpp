#include "monitor/ui/ProfileCard.h"

#include "controls/ui/OutsideText.h"
#include "net/HttpText.h"

#include <QUrl>

namespace {

const QString kSamplePortraitId = QStringLiteral("0000000000");

QString Escaped(const QString& text)
{
    return TextAsMarkup(text);
}

// One path segment or query value: UTF-8, percent-encoded.
QString Encoded(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString IconUrl(const CEndpoints& endpoints, const char* file)
{
    return endpoints.imImageBase + QStringLiteral("/icons/") + QLatin1String(file);
}

} // namespace

CProfileCard SampleProfileCard(const QString& userName, const QString& portraitId)
{
    CProfileCard card;
    card.userName = userName;
    card.portraitId = portraitId;
    card.sex = QStringLiteral("保密");
    card.age = QStringLiteral("--");
    card.province = QStringLiteral("未知");
    card.district = QStringLiteral("未知");
    card.lastLogin = QStringLiteral("未知");
    return card;
}

QString ProfileCardPortraitUrl(const CProfileCard& card, const CEndpoints& endpoints)
{
    const QString id = card.portraitId.isEmpty() ? kSamplePortraitId : card.portraitId;
    return endpoints.imPortraitBase + QStringLiteral("/sys/portrait/item/") + Encoded(id) + QStringLiteral(".jpg");
}

// The IM service reads names in the code page, like every other request to it.
QString ProfileCardMessageUrl(const CProfileCard& card, const CEndpoints& endpoints)
{
    return endpoints.imMessagePage + QStringLiteral("?ct=21&cm=1&tn=bmSendMessage&un=") + ToQueryValue(card.userName);
}

QString ProfileCardBoardUrl(const CProfileCard& card, const CEndpoints& endpoints)
{
    return endpoints.imProfileBase + QLatin1Char('/') + ToQueryValue(card.userName) + QStringLiteral("/board");
}

QString ProfileCardHtml(const CProfileCard& card, const CEndpoints& endpoints)
{
    const QString nbsp = QStringLiteral("&nbsp;");
    QString html;
    html += QStringLiteral("<div id=\"m_pro\" class=\"modbox\">");
    html += QStringLiteral("<div class=\"wrapper\">");
    html += QStringLiteral("<div class=\"portrait\"><img src=\"%1\" alt=\"%2\" width=\"48\" height=\"48\"></div>")
                .arg(Escaped(ProfileCardPortraitUrl(card, endpoints)), Escaped(card.userName));
    html += QStringLiteral("<div class=\"userinfo clearfix\">");
    html += QStringLiteral("<nobr><b>%1</b></nobr><br>").arg(Escaped(card.userName));
    html += QStringLiteral("<nobr>%1,%2%3岁</nobr><br>").arg(Escaped(card.sex), nbsp, Escaped(card.age));
    html += QStringLiteral("<nobr>%1%2%3</nobr><br>").arg(Escaped(card.province), nbsp, Escaped(card.district));
    html += QStringLiteral("<nobr>上次登录：%1</nobr><br>").arg(Escaped(card.lastLogin));
    html +=
        QStringLiteral("<a class=\"btfan\" href=\"#\"><img src=\"%1\" alt=\"\" width=\"16\" height=\"16\">加为好友</a>")
            .arg(Escaped(IconUrl(endpoints, "add_friend.gif")));
    html += QStringLiteral("</div>");
    html += QStringLiteral("<div class=\"line\" style=\"margin-top:5px;line-height:5px\">&nbsp;</div>");
    html += QStringLiteral("<div class=\"act\">");
    // Hidden until the IM page script shows it; the zero size hides it where display:none is not honoured.
    html += QStringLiteral("<a id=\"im-status-icon-container\" href=\"#\" style=\"display:none\"><img src=\"%1\" "
                           "alt=\"\" width=\"0\" height=\"0\"></a>")
                .arg(Escaped(IconUrl(endpoints, "im_status.gif")));
    html += QStringLiteral("<a href=\"#\"><img src=\"%1\" alt=\"\" width=\"16\" height=\"16\">送他礼物</a> ")
                .arg(Escaped(IconUrl(endpoints, "gift.gif")));
    html += QStringLiteral("<a id=\"send-message-link\" href=\"%1\">发送消息</a> ")
                .arg(Escaped(ProfileCardMessageUrl(card, endpoints)));
    html += QStringLiteral("<a href=\"%1\">给他留言</a>").arg(Escaped(ProfileCardBoardUrl(card, endpoints)));
    html += QStringLiteral("</div>");
    html += QStringLiteral("</div>");
    html += QStringLiteral("</div>");
    return html;
}
