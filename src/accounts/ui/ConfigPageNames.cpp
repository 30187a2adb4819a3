#include "accounts/ui/ConfigPageNames.h"

#include "controls/ui/AccessibleText.h"

void NameConfigPageControls(QWidget* page)
{
    SetAccessibleTexts(page, {
                                 {"accountNameEdit", "店铺主号", "您的Lumo账号,区分大小写"},
                                 {"greetingAccountEdit", "Lumo小号", "打招呼用的账号,只保存在本地"},
                                 {"passwordEdit", "防监视密码", "不是Lumo密码"},
                                 {"accountList", "账户列表", "选中列表中用户进行设置"},
                                 {"greetingTextEdit", "打招呼内容", "[username]为访客名称,[randomcode]为随机码"},
                                 {"refreshIntervalEdit", "监控用户刷新间隔时间(秒)"},
                                 {"refreshIntervalSpin", "调整刷新间隔"},
                                 {"sendIntervalEdit", "连续发送信息间隔时间(秒)"},
                                 {"sendIntervalSpin", "调整发送间隔"},
                                 {"upButton", "增加"},
                                 {"downButton", "减少"},
                             });
}
