#pragma once
// The "lumochat://message/?sid=<account>&id=<peer>&..." links that the desktop
// hands to us. Values arrive as the sender wrote them (usually not encoded);
// valid %XX escapes are decoded all the same.
#include <QString>

struct CChatLink
{
    QString sid; // the account the chat is for
    QString id;  // the peer
};

// False when the text is not a lumochat message link naming a peer.
bool ParseChatLink(const QString& link, CChatLink& out);
