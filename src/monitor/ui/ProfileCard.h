#pragma once
// The visitor card shown in the visitor list's browser pane: one HTML
// fragment naming a visitor. Only the name and the IM ID come from the
// list; the rest are neutral sample values. Every text is HTML-escaped and
// every address value percent-encoded, so no name can break the card.
#include "platform/Endpoints.h"

#include <QString>

struct CProfileCard
{
    QString userName;
    // The IM ID (portrait identifier); the sample portrait when empty.
    QString portraitId;
    QString sex;
    QString age;
    QString province;
    QString district;
    QString lastLogin;
};

// The neutral values, for userName and portraitId as given.
CProfileCard SampleProfileCard(const QString& userName, const QString& portraitId);

// The card, its addresses below the bases of endpoints.
QString ProfileCardHtml(const CProfileCard& card, const CEndpoints& endpoints);

// The addresses the card uses, as they stand in it (unescaped).
QString ProfileCardPortraitUrl(const CProfileCard& card, const CEndpoints& endpoints);
QString ProfileCardMessageUrl(const CProfileCard& card, const CEndpoints& endpoints);
QString ProfileCardBoardUrl(const CProfileCard& card, const CEndpoints& endpoints);
