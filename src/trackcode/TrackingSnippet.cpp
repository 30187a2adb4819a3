#include "trackcode/TrackingSnippet.h"

#include "platform/Endpoints.h"

QString TrackingAddress(int webId)
{
    return Endpoints().trackingBase + QStringLiteral("/rivuzovara/shop.asp?id=") + QString::number(webId);
}

QString TrackingSnippet(int webId)
{
    return QStringLiteral("<img height=\"0\" src=\"") + TrackingAddress(webId) + QStringLiteral("\" width=\"0\" />");
}

QString MakeCodeHeadText(const QString& userName)
{
    return QStringLiteral("\t请将下列代码保存到 [ %1 ] 的店铺,请将代码贴到您要监视的商品的宝贝描述中.").arg(userName);
}

QString MakeCodeMethodOneText()
{
    return QStringLiteral("\t请将上面复制到您的店铺的商品描述里。");
}

QString MakeCodeMethodTwoText()
{
    return QStringLiteral("\t在您的店铺里，新建一个分类，分类名随便起，把分类图片地址设为上面框框的代码即可！"
                          "不过要记得，放到分类的话，是24小时内生效的，不是立刻生效！");
}
