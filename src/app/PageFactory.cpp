#include "app/PageFactory.h"

#include "accounts/ui/AdvancedSettingDlg.h"
#include "accounts/ui/ConfigDlg.h"
#include "accounts/ui/TeamSettingDlg.h"
#include "history/ui/HistoryDlg.h"
#include "monitor/ui/UserListDlg.h"
#include "stats/ui/StatisticsDlg.h"

CPageFactory::CPageFactory()
    : createUserListPage([](QWidget* parent) -> QWidget* { return new CUserListDlg(parent); }),
      refreshUserListPage([](QWidget* page) {
          auto* list = qobject_cast<CUserListDlg*>(page);
          if (!list) {
              if (page)
                  page->update();
              return;
          }
          list->update();
          list->FillVisitorList();
      }),
      createConfigPage([](QWidget* parent) -> QWidget* { return new CConfigDlg(parent); }),
      openHistoryDialog(&OpenHistoryDialog), openAdvancedSettingDialog(&OpenAdvancedSettingDialog),
      openTeamSettingDialog(&OpenTeamSettingDialog),
      openVisitorChat([](QWidget* page, const QString& shop, const QString& visitor) {
          auto* list = qobject_cast<CUserListDlg*>(page);
          if (!list)
              return false;
          list->OpenVisitorChat(shop, visitor);
          return true;
      }),
      createStatisticsPage([](QWidget* parent) -> QWidget* { return new CStatisticsDlg(parent); })
{
}

CPageFactory& PageFactory()
{
    static CPageFactory factory;
    return factory;
}
