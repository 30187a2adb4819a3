// Stand-ins for pages whose folders have not delivered them yet. When a page
// lands, its folder defines the function(s) and the entry here is deleted.
#include "app/PageFactory.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace {

[[maybe_unused]] QWidget* MakePlaceholder(QWidget* parent, const char* objectName, const char* title)
{
    auto* page = new QWidget(parent);
    page->setObjectName(QLatin1String(objectName));
    auto* label = new QLabel(QString::fromUtf8(title), page);
    label->setAlignment(Qt::AlignCenter);
    label->setEnabled(false);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(label);
    return page;
}

} // namespace
