#pragma once
// The column positions of every table, in the order a new store creates them
// (Schema.cpp): records are read by position, and this is the one place that
// says which position holds which column. Each name stands for the column of
// that name ([usersmailname] is kUserSmallName); kRowId is the rowid a query
// of the greeting queue asks for after its columns.
// clang-format off
namespace UserColumn {
enum : int { kId, kUserName, kUserSmallName, kPassword, kWebId, kMessageInfo, kAutoSend, kViewSeq };
}
namespace SettingsColumn {
enum : int { kId, kAutorun, kClientTip, kReflashTime, kSendStepTime, kAutoSendName, kHiEdition, kGuestTip, kPlaySound,
             kAddRandom };
}
namespace ClientColumn {
enum : int { kId, kGuestName, kIp, kShopName, kLastTime, kCount, kCity, kShopUrl, kImUid };
}
namespace PageViewColumn {
enum : int { kId, kShopName, kIp, kCity, kShopUrl, kViewTime, kSeq };
}
namespace AutoSendColumn {
enum : int { kClientName, kUserName, kMessage, kRowId };
}
// clang-format on
