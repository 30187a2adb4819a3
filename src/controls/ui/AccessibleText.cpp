#include "controls/ui/AccessibleText.h"

#include <QWidget>

void SetAccessibleTexts(QWidget* root, std::initializer_list<CAccessibleText> texts)
{
    if (!root)
        return;
    for (const CAccessibleText& text : texts) {
        const QString objectName = QLatin1String(text.objectName);
        QList<QWidget*> widgets = root->findChildren<QWidget*>(objectName);
        if (root->objectName() == objectName)
            widgets.prepend(root);
        for (QWidget* widget : widgets) {
            if (widget->accessibleName().isEmpty())
                widget->setAccessibleName(QString::fromUtf8(text.name));
            if (text.description && widget->accessibleDescription().isEmpty())
                widget->setAccessibleDescription(QString::fromUtf8(text.description));
        }
    }
}
