// The pure parsers of the monitoring code: the profile page's visitor block,
// the presence reply and the item page title.
#include "monitor/FlashOnlineClientThread.h"
#include "monitor/ItemTitle.h"
#include "monitor/RefreshShop.h"
#include "platform/TextCodec.h"

#include "support/TestMain.h"

#include <QString>

namespace {

const QString kPrefix = QStringLiteral("http://im.example:8781/sys/portraitn/item/");

// One visitor cell as the IM service writes it.
QString Cell(const QString& href, const QString& portraitId, const QString& prefix = kPrefix)
{
    return QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/") + href +
           QStringLiteral("\" target=\"_blank\"><img src=\"") + prefix + portraitId +
           QStringLiteral(".jpg\" border=\"0\"></a><br>\r\n</td>\r\n");
}

// n0..n<count-1> with IM IDs i0..; the names or the IDs alone; or the page cells.
QStringList Many(int count, const char* prefix)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << (prefix ? QLatin1String(prefix) + QString::number(i)
                        : Cell(QStringLiteral("n%1").arg(i), QStringLiteral("i%1").arg(i)));
    return list;
}

QString Page(const QString& cells)
{
    return QStringLiteral("<html><body><table><tr>\r\n") + cells + QStringLiteral("</tr></table></body></html>");
}

struct ProfileCase
{
    const char* what;
    QString page;
    QStringList names;
    QStringList ids;
};

class ProfileParse : public ::testing::TestWithParam<ProfileCase>
{
};

TEST_P(ProfileParse, FindsTheListedVisitors)
{
    const ProfileCase& c = GetParam();
    QStringList names{QStringLiteral("earlier")};
    QStringList ids{QStringLiteral("kept")};
    ParseProfileVisitors(c.page, kPrefix, names, ids);
    // The parse appends: what the caller had stays in front.
    EXPECT_EQ(names, QStringList{QStringLiteral("earlier")} + c.names) << c.what;
    EXPECT_EQ(ids, QStringList{QStringLiteral("kept")} + c.ids) << c.what;
}

const QString k50 = QString(50, QLatin1Char('n'));
const QString k51 = QString(51, QLatin1Char('n'));
const QString k99 = QString(99, QLatin1Char('7'));
const QString k100 = QString(100, QLatin1Char('7'));

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileParse,
    ::testing::Values(
        ProfileCase{"three visitors in page order",
                    Page(Cell("alice", "a1") + Cell("bob", "b2") + Cell("carol", "c3")),
                    {"alice", "bob", "carol"},
                    {"a1", "b2", "c3"}},
        ProfileCase{"empty page", QString(), {}, {}},
        ProfileCase{"page without entries", Page(QStringLiteral("<td>nobody</td>")), {}, {}},
        ProfileCase{"name of 50 characters kept", Page(Cell(k50, "x")), {k50}, {"x"}},
        ProfileCase{"name of 51 characters ignored", Page(Cell(k51, "x") + Cell("next", "y")), {"next"}, {"y"}},
        ProfileCase{"IM ID of 99 characters kept", Page(Cell("v", k99)), {"v"}, {k99}},
        ProfileCase{"IM ID of 100 characters ignored", Page(Cell("v", k100)), {}, {}},
        ProfileCase{"missing IM ID ignored", Page(Cell("noid", "") + Cell("withid", "w1")), {"withid"}, {"w1"}},
        ProfileCase{"percent-encoded GBK name and ID decoded",
                    Page(Cell("%D5%C5%C8%FD", "c3%2Ed4")),
                    {QStringLiteral("张三")},
                    {"c3.d4"}},
        ProfileCase{
            "name written as it is", Page(Cell(QStringLiteral("李四"), "l4")), {QStringLiteral("李四")}, {"l4"}},
        ProfileCase{"portrait of another base is not a portrait",
                    Page(Cell("v", "z9", QStringLiteral("http://elsewhere/sys/portraitn/item/"))),
                    {},
                    {}},
        ProfileCase{"an entry without portrait never takes the next entry's",
                    Page(QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/first\">x</a></td>") +
                         Cell("second", "s2")),
                    {"second"},
                    {"s2"}},
        ProfileCase{"at most 200 entries from one page", Page(Many(250, nullptr).join(QString())), Many(200, "n"),
                    Many(200, "i")},
        ProfileCase{"marker without the tab is no entry",
                    Page(QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n<a href=\"/ghost\"><img src=\"") +
                         kPrefix + QStringLiteral("g.jpg\"></a></td>")),
                    {},
                    {}},
        ProfileCase{"name without closing quote ends the parse",
                    Page(Cell("ok", "o1")) +
                        QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/open"),
                    {"ok"},
                    {"o1"}},
        ProfileCase{"IM ID without full stop",
                    Page(Cell("ok", "o1")) +
                        QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/late\"><img src=\"") +
                        kPrefix + QStringLiteral("nodot"),
                    {"ok"},
                    {"o1"}},
        ProfileCase{"percent sign among the last two characters stays", Page(Cell("a%4", "i%")), {"a%4"}, {"i%"}}),
    [](const ::testing::TestParamInfo<ProfileCase>& info) { return std::to_string(info.index); });

TEST(ProfileParse, NameOnThePageIsTheTextUpToTheQuote)
{
    // A real page carries the name twice; only the link's address counts.
    QStringList names, ids;
    ParseProfileVisitors(Page(Cell("link%20name", "id")), kPrefix, names, ids);
    EXPECT_EQ(names, QStringList{QStringLiteral("link name")});
}

struct PresenceCase
{
    const char* what;
    QString reply;
    QStringList names;
    QStringList online;
};

class PresenceParse : public ::testing::TestWithParam<PresenceCase>
{
};

TEST_P(PresenceParse, NamesTheOnlineVisitors)
{
    const PresenceCase& c = GetParam();
    EXPECT_EQ(ParsePresenceReply(c.reply, c.names), c.online) << c.what;
}

QString Entry(const char* id, const char* state)
{
    return QStringLiteral("\"%1\":{online:\"%2\",uid:\"%1\"}").arg(QLatin1String(id), QLatin1String(state));
}

QString Reply(const QStringList& entries)
{
    return QStringLiteral("IM_STATUS_CALLBACK({\"status\":0,\"data\":{") + entries.join(QLatin1Char(',')) +
           QStringLiteral("}});");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PresenceParse,
    ::testing::Values(
        PresenceCase{"one of two online", Reply({Entry("a", "1"), Entry("b", "0")}), {"A", "B"}, {"A"}},
        PresenceCase{
            "a state beginning with 1 is online", Reply({Entry("a", "0"), Entry("b", "10")}), {"A", "B"}, {"B"}},
        PresenceCase{"other states are offline",
                     Reply({Entry("a", "01"), Entry("b", ""), Entry("c", "x1")}),
                     {"A", "B", "C"},
                     {}},
        PresenceCase{"more entries than names ends at the last name",
                     Reply({Entry("a", "1"), Entry("b", "1"), Entry("c", "1")}),
                     {"A", "B"},
                     {"A", "B"}},
        PresenceCase{
            "fewer entries than names leaves the rest offline", Reply({Entry("a", "1")}), {"A", "B", "C"}, {"A"}},
        PresenceCase{"empty reply", QString(), {"A"}, {}}, PresenceCase{"no names", Reply({Entry("a", "1")}), {}, {}},
        PresenceCase{"value without a closing quote and comma ends the parse",
                     QStringLiteral("{\"a\":{online:\"1\"},\"b\":{online:\"1\",x:1}"),
                     {"A", "B"},
                     {"A"}},
        PresenceCase{"marker at the very end", QStringLiteral("\":{online:\""), {"A"}, {}},
        PresenceCase{"entries counted in reply order, online or not",
                     Reply({Entry("a", "0"), Entry("b", "0"), Entry("c", "1")}),
                     {"A", "B", "C"},
                     {"C"}}),
    [](const ::testing::TestParamInfo<PresenceCase>& info) { return std::to_string(info.index); });

struct TitleCase
{
    const char* what;
    QString page;
    QString title;
};

class TitleExtract : public ::testing::TestWithParam<TitleCase>
{
};

TEST_P(TitleExtract, CleansTheTitle)
{
    const TitleCase& c = GetParam();
    EXPECT_EQ(ExtractItemTitle(c.page), c.title) << c.what;
}

QString TitlePage(const QString& title)
{
    return QStringLiteral("<html><head><title>") + title + QStringLiteral("</title></head><body>x</body></html>");
}

const QString kNull = QStringLiteral("<NULL>");

INSTANTIATE_TEST_SUITE_P(
    Cases, TitleExtract,
    ::testing::Values(
        TitleCase{"shop prefix and suffix", TitlePage(QStringLiteral("首页-Shop A - Lumo网")), QStringLiteral("ShopA")},
        TitleCase{"suffix after a blank", TitlePage(QStringLiteral("Blue Shirt -Lumo网")), QStringLiteral("BlueShirt")},
        TitleCase{"93 characters returned", TitlePage(QString(93, QLatin1Char('t'))), QString(93, QLatin1Char('t'))},
        TitleCase{"94 characters refused", TitlePage(QString(94, QLatin1Char('t'))), kNull},
        TitleCase{"capital tags are not seen", QStringLiteral("<TITLE>Shop</TITLE>"), kNull},
        TitleCase{"empty title element", TitlePage(QString()), QString()},
        TitleCase{"no title element", QStringLiteral("<html><body>none</body></html>"), kNull},
        TitleCase{"no closing tag", QStringLiteral("<title>open"), kNull},
        TitleCase{"closing tag only before the opening", QStringLiteral("</title><title>x"), kNull},
        TitleCase{"white space removed", TitlePage(QStringLiteral("\ta b\r\nc ")), QStringLiteral("abc")},
        TitleCase{"removals in their order", TitlePage(QStringLiteral("首页-首页x")), QStringLiteral("x")},
        TitleCase{"leading shop name", TitlePage(QStringLiteral("Lumo网 - Lamp")), QStringLiteral("Lamp")},
        TitleCase{"first title element wins", TitlePage(QStringLiteral("one")) + TitlePage(QStringLiteral("two")),
                  QStringLiteral("one")},
        TitleCase{"93 characters before cleaning count",
                  TitlePage(QString(90, QLatin1Char('t')) + QStringLiteral("   ")), QString(90, QLatin1Char('t'))}),
    [](const ::testing::TestParamInfo<TitleCase>& info) { return std::to_string(info.index); });

} // namespace
