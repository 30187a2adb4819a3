#include "controls/ui/TrueColorToolBar.h"

#include <QActionEvent>
#include <QBitmap>
#include <QFile>
#include <QIcon>
#include <QToolButton>
#include <QtEndian>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

CTrueColorToolBar::CTrueColorToolBar(QWidget* parent) : QToolBar(parent)
{
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

void CTrueColorToolBar::SetSizes(const QSize& button, const QSize& image)
{
    m_buttonSize = button;
    setIconSize(image);
    SizeButtons();
}

void CTrueColorToolBar::SizeButtons()
{
    if (!m_buttonSize.isValid())
        return;
    for (QAction* action : actions()) {
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action)))
            button->setFixedSize(m_buttonSize);
    }
}

void CTrueColorToolBar::actionEvent(QActionEvent* event)
{
    QToolBar::actionEvent(event);
    if (event->type() == QEvent::ActionAdded) {
        SizeButtons();
        ApplyIcons();
    }
}

bool CTrueColorToolBar::FirstStoredPixel(const QByteArray& bmp, QColor& color, int* bitsPerPixel)
{
    // BITMAPFILEHEADER (14 bytes) then at least a BITMAPINFOHEADER.
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M')
        return false;
    const auto* bytes = reinterpret_cast<const uchar*>(bmp.constData());
    const quint32 pixelOffset = qFromLittleEndian<quint32>(bytes + 10);
    const quint16 bits = qFromLittleEndian<quint16>(bytes + 28);
    if (bits != 24 && bits != 32)
        return false;
    if (pixelOffset < 54 || qsizetype(pixelOffset) + 3 > bmp.size())
        return false;
    const uchar b0 = bytes[pixelOffset], b1 = bytes[pixelOffset + 1], b2 = bytes[pixelOffset + 2];
    color = QColor(b2, b1, b0);
    if (bitsPerPixel)
        *bitsPerPixel = bits;
    return true;
}

QList<QPixmap> CTrueColorToolBar::SplitStrip(const QImage& strip, const QColor& transparent)
{
    QList<QPixmap> images;
    if (strip.isNull())
        return images;
    const QImage rgb = strip.convertToFormat(QImage::Format_RGB32);
    const int count = rgb.width() / kButtonImageWidth;
    images.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QImage part = rgb.copy(i * kButtonImageWidth, 0, kButtonImageWidth, rgb.height());
        QPixmap pixmap = QPixmap::fromImage(part);
        pixmap.setMask(QBitmap::fromImage(part.createMaskFromColor(transparent.rgb(), Qt::MaskInColor)));
        images.append(pixmap);
    }
    return images;
}

bool CTrueColorToolBar::LoadPlainImages(const QString& stripPath)
{
    const QImage strip(stripPath);
    if (strip.isNull())
        return false;
    m_plain = SplitStrip(strip, kPlainTransparent);
    ApplyIcons();
    return !m_plain.isEmpty();
}

bool CTrueColorToolBar::SetImageList(EToolBarImageList which, const QString& bitmapPath)
{
    const QByteArray data = ReadAll(bitmapPath);
    QColor transparent;
    if (data.isEmpty() || !FirstStoredPixel(data, transparent))
        return false;
    const QImage strip = QImage::fromData(data, "BMP");
    if (strip.isNull() || strip.width() / kButtonImageWidth < 1)
        return false;
    QList<QPixmap> images = SplitStrip(strip, transparent);
    if (images.isEmpty())
        return false;
    CImageList& list = List(which);
    list.set = true;
    list.transparent = transparent;
    list.images = std::move(images);
    ApplyIcons();
    return true;
}

bool CTrueColorToolBar::LoadTrueColorToolBar(const QString& normalHot, const QString& disabled)
{
    if (!SetImageList(EToolBarImageList::Normal, normalHot))
        return false;
    if (SetImageList(EToolBarImageList::Hot, normalHot))
        SetImageList(EToolBarImageList::Disabled, disabled);
    return true;
}

bool CTrueColorToolBar::HasImageList(EToolBarImageList which) const
{
    return List(which).set;
}

const QList<QPixmap>& CTrueColorToolBar::Images(EToolBarImageList which) const
{
    return List(which).images;
}

QColor CTrueColorToolBar::TransparentColor(EToolBarImageList which) const
{
    return List(which).transparent;
}

CTrueColorToolBar::CImageList& CTrueColorToolBar::List(EToolBarImageList which)
{
    switch (which) {
    case EToolBarImageList::Hot:
        return m_hot;
    case EToolBarImageList::Disabled:
        return m_disabled;
    case EToolBarImageList::Normal:
        break;
    }
    return m_normal;
}

const CTrueColorToolBar::CImageList& CTrueColorToolBar::List(EToolBarImageList which) const
{
    return const_cast<CTrueColorToolBar*>(this)->List(which);
}

void CTrueColorToolBar::ApplyIcons()
{
    int image = 0;
    for (QAction* action : actions()) {
        if (action->isSeparator() || !qobject_cast<QToolButton*>(widgetForAction(action)))
            continue;
        const int i = image++;
        const QList<QPixmap>& normal = m_normal.set ? m_normal.images : m_plain;
        if (i >= normal.size())
            continue;
        QIcon icon;
        icon.addPixmap(normal[i], QIcon::Normal);
        if (m_hot.set && i < m_hot.images.size())
            icon.addPixmap(m_hot.images[i], QIcon::Active);
        if (m_disabled.set && i < m_disabled.images.size())
            icon.addPixmap(m_disabled.images[i], QIcon::Disabled);
        action->setIcon(icon);
    }
}
