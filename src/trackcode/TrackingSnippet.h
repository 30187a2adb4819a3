#pragma once
// The tracking snippet for one account and the texts of the dialog that
// shows it. Pure text, any thread; the base comes from Endpoints().
#include <QString>

// Base + "/rivuzovara/shop.asp?id=" + the web ID in decimal.
QString TrackingAddress(int webId);
// <img height="0" src="ADDRESS" width="0" /> on one line.
QString TrackingSnippet(int webId);

QString MakeCodeHeadText(const QString& userName);
QString MakeCodeMethodOneText();
QString MakeCodeMethodTwoText();
