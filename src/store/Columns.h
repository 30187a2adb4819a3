#pragma once
// The column positions of every table, in the order a new store creates them
// (Schema.cpp): records are read by position, and this is the one place that
// says which position holds which column.

// [user]
namespace UserColumn {
enum : int
{
    kId,            // [id]
    kUserName,      // [username]
    kUserSmallName, // [usersmailname]
    kPassword,      // [password]
    kWebId,         // [webid]
    kMessageInfo,   // [messageinfo]
    kAutoSend,      // [autosend]
};
}

// [sysseting]
namespace SettingsColumn {
enum : int
{
    kId,           // [id]
    kAutorun,      // [autorun]
    kClientTip,    // [clienttip]
    kReflashTime,  // [reflashtime]
    kSendStepTime, // [sendsteptime]
    kAutoSendName, // [autosendname]
    kHiEdition,    // [hiedition]
    kGuestTip,     // [guesttip]
    kPlaySound,    // [playsound]
    kAddRandom,    // [AddRandom]
};
}

// [client]
namespace ClientColumn {
enum : int
{
    kId,        // [id]
    kGuestName, // [guestname]
    kIp,        // [ip]
    kShopName,  // [shopname]
    kLastTime,  // [lasttime]
    kCount,     // [count]
    kCity,      // [city]
    kShopUrl,   // [shopurl]
    kImUid,     // [imuid]
};
}

// [AutoSend]
namespace AutoSendColumn {
enum : int
{
    kClientName, // [ClientName]
    kUserName,   // [UserName]
    kMessage,    // [Message]
    kRowId,      // rowid, where a query asks for it after the columns
};
}
