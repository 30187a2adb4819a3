// The tracking snippet and the dialog texts.
#include "support/TestMain.h"

#include "platform/Endpoints.h"
#include "trackcode/TrackingSnippet.h"

#include <gtest/gtest.h>

class TrackingSnippetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = Endpoints();
        CEndpoints endpoints;
        endpoints.trackingBase = QStringLiteral("http://track.example:8780");
        SetEndpoints(endpoints);
    }
    void TearDown() override { SetEndpoints(m_saved); }
    CEndpoints m_saved;
};

TEST_F(TrackingSnippetTest, SnippetIsOneImageTagWithThreeAttributes)
{
    EXPECT_EQ(TrackingSnippet(12345),
              QStringLiteral("<img height=\"0\" src=\"http://track.example:8780/rivuzovara/shop.asp?id=12345\" "
                             "width=\"0\" />"));
    EXPECT_EQ(TrackingAddress(7), QStringLiteral("http://track.example:8780/rivuzovara/shop.asp?id=7"));
    EXPECT_TRUE(TrackingSnippet(12345).endsWith(QStringLiteral("/rivuzovara/shop.asp?id=12345\" width=\"0\" />")));
    EXPECT_FALSE(TrackingSnippet(1).contains(u'\n'));
}

TEST_F(TrackingSnippetTest, FollowsTheConfiguredBase)
{
    CEndpoints endpoints;
    endpoints.trackingBase = QStringLiteral("http://127.0.0.1:9999");
    SetEndpoints(endpoints);
    EXPECT_EQ(TrackingAddress(-3), QStringLiteral("http://127.0.0.1:9999/rivuzovara/shop.asp?id=-3"));
}

TEST_F(TrackingSnippetTest, InstructionTextsStartWithATab)
{
    EXPECT_EQ(MakeCodeHeadText(QStringLiteral("店铺")),
              QStringLiteral("\t请将下列代码保存到 [ 店铺 ] 的店铺,请将代码贴到您要监视的商品的宝贝描述中."));
    EXPECT_EQ(MakeCodeMethodOneText(), QStringLiteral("\t请将上面复制到您的店铺的商品描述里。"));
    EXPECT_EQ(MakeCodeMethodTwoText(),
              QStringLiteral("\t在您的店铺里，新建一个分类，分类名随便起，把分类图片地址设为上面框框的代码即可！"
                             "不过要记得，放到分类的话，是24小时内生效的，不是立刻生效！"));
    EXPECT_EQ(MakeCodeHeadText(QStringLiteral("%1")),
              QStringLiteral("\t请将下列代码保存到 [ %1 ] 的店铺,请将代码贴到您要监视的商品的宝贝描述中."));
}
