#pragma once
// Text from outside the program (visitor names, regions, item titles and
// addresses, shop names, service replies) is shown as text, never read as
// markup: Qt guesses rich text on labels and tooltips, and a rich-text
// document loads whatever file an <img> names. UI thread; no state.
#include <QString>

class QLabel;

// The label shows the text exactly, whatever it looks like.
void SetPlainText(QLabel* label, const QString& text);

// Escaped for a place whose format is markup (card HTML, notification bodies):
// shows exactly the text.
QString TextAsMarkup(const QString& text);

// For places that guess the format (tooltips): markup that is always taken as
// markup, so "a<b" shows as "a<b" and "<img src=x>" loads nothing; line
// breaks stay line breaks.
QString TextAsTooltip(const QString& text);
