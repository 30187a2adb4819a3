#include "controls/ui/OutsideText.h"

#include <QLabel>

void SetPlainText(QLabel* label, const QString& text)
{
    if (!label)
        return;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

QString TextAsMarkup(const QString& text)
{
    return text.toHtmlEscaped();
}

QString TextAsTooltip(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString escaped = TextAsMarkup(text);
    escaped.replace(QLatin1String("\r\n"), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    // A leading tag is what makes Qt take the tooltip as rich text.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + escaped + QStringLiteral("</p>");
}
