#pragma once
// The history page's statement on [user]: the shops of its drop-down list.
#include <QString>

QString HistoryShopsSql();
