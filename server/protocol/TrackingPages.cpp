#include "TrackingPages.h"

#include "Gbk.h"

namespace {

std::string Page(const std::string& title, const std::string& body)
{
    return "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n<title>" +
           gbk::HtmlEscape(title) + "</title>\n</head>\n<body>\n" + body + "\n</body>\n</html>\n";
}

} // namespace

std::string HelpPageHtml(const std::string& base)
{
    const std::string b = gbk::HtmlEscape(base);
    return Page("Lumo助手使用帮助",
                R"(<h2>Lumo助手 - Vexa来客提醒 使用帮助</h2>
<p>Lumo助手在有人浏览您网店的商品时及时提醒您：访客的用户名、IP地址和所在地区、访问的店铺和商品、访问时间。
所有访问记录都保存在本机，可以随时查看、查找、删除和导出。</p>

<h3>一、添加要监视的店铺</h3>
<ol>
<li>打开“系统配置”页，在“用户名”中填写您网店的账户名。</li>
<li>“防监视密码”是您在本服务登记的密码（不是网店的登录密码）。</li>
<li>“Lumo小号”填写网店对应的 LumoChat 账号，系统从它的个人空间读取最近访客。</li>
<li>按“添加”，系统向服务登记账户并取得网店编号（Web ID）。</li>
</ol>

<h3>二、把统计代码放到商品描述里</h3>
<p>在账户列表中选中账户，按“生成代码”，把得到的一行代码复制到要监视的商品的宝贝描述中。
代码是一个看不见的图片，地址类似：</p>
<pre>&lt;img height="0" src=")" +
                    b + R"(/rivuzovara/shop.asp?id=10001" width="0" /&gt;</pre>
<p>每当有人打开这个商品页，服务就记下一次访问。</p>

<h3>三、访客提醒与自动打招呼</h3>
<ul>
<li>系统按“刷新间隔”（不少于20秒）轮流查询每个账户的新访客。</li>
<li>发现新访客时播放提示音并在托盘区弹出提示；没有新名字但有浏览时提示“有游客访问”。</li>
<li>打开“自动发送”后，系统通过LumoChat给每位新访客发送您编写的问候语，
问候语中可以使用访客名和随机码。</li>
</ul>

<h3>四、访问历史</h3>
<p>“历史记录”中可以按时间和店铺查找访问记录、删除记录，也可以把记录导出为电子表格。</p>

<h3>五、常见问题</h3>
<ul>
<li><b>提示账户被冻结</b>：服务暂停了该账户的统计，请联系供应商。</li>
<li><b>没有任何提醒</b>：请确认商品描述里的代码完整，且“新客户提醒”已打开。</li>
<li><b>地区显示“未知区域”</b>：该访问没有取得IP地址，或IP库中没有这个地址。</li>
</ul>
)");
}

std::string FeaturedShopsHtml(const std::string& base)
{
    const std::string b = gbk::HtmlEscape(base);
    return Page("推荐网店",
                R"(<h2>推荐网店</h2>
<p>以下网店都在使用Lumo助手，欢迎光临。</p>
<table border="1" cellspacing="0" cellpadding="4">
<tr><th>店铺</th><th>主营</th><th>说明</th></tr>
<tr><td>青禾茶舍</td><td>明前绿茶、白茶</td><td>产地直发，二十四小时内发货</td></tr>
<tr><td>小满手作</td><td>布艺、手工饰品</td><td>每件都是手工缝制</td></tr>
<tr><td>南山数码</td><td>手机配件、耳机</td><td>七天无理由退换</td></tr>
<tr><td>梧桐书屋</td><td>旧书、绘本</td><td>满百包邮</td></tr>
</table>
<p>想让您的网店出现在这里？请看<a href=")" +
                    b + R"(/rivuzovara/rivuzovara_help.asp">使用帮助</a>。</p>
)");
}

std::string HomePageHtml(const std::string& base)
{
    const std::string b = gbk::HtmlEscape(base);
    return Page("RivuZovara",
                R"(<h2>RivuZovara</h2>
<p>Lumo助手 - Vexa来客提醒 v1.1</p>
<ul>
<li><a href=")" + b +
                    R"(/rivuzovara/rivuzovara_help.asp">使用帮助</a></li>
<li><a href=")" + b +
                    R"(/ad.asp">推荐网店</a></li>
</ul>
)");
}
