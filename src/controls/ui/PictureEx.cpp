#include "controls/ui/PictureEx.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>

namespace {
// Browsers hold frames with no or tiny delays for 100 ms.
constexpr int kMinFrameDelayMs = 20;
constexpr int kDefaultFrameDelayMs = 100;
} // namespace

CPictureEx::CPictureEx(QWidget* parent) : QWidget(parent)
{
    // A screen reader names it; the owner of the control may say what it shows.
    setAccessibleName(QStringLiteral("动画图片"));
    m_animation.setSingleShot(true);
    connect(&m_animation, &QTimer::timeout, this, &CPictureEx::NextFrame);
}

CPictureEx::~CPictureEx()
{
    UnLoad();
}

bool CPictureEx::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return Load(file.readAll());
}

bool CPictureEx::Load(const QByteArray& data)
{
    UnLoad();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QList<CFrame> frames;
    for (;;) {
        QImage image = reader.read();
        if (image.isNull())
            break;
        int delay = reader.nextImageDelay();
        if (delay < kMinFrameDelayMs)
            delay = kDefaultFrameDelayMs;
        frames.append({QPixmap::fromImage(image), delay});
        if (!reader.supportsAnimation() || !reader.canRead())
            break;
    }
    if (frames.isEmpty())
        return false;
    m_frames = frames;
    m_pictureSize = m_frames.first().pixmap.size();
    m_currentFrame = 0;
    updateGeometry();
    update();
    return true;
}

bool CPictureEx::Draw()
{
    if (m_frames.isEmpty())
        return false;
    m_currentFrame = 0;
    update();
    if (m_frames.size() > 1) {
        m_playing = true;
        m_animation.start(m_frames.first().delayMs);
    }
    return true;
}

void CPictureEx::NextFrame()
{
    if (!m_playing || m_exitRequested || m_frames.isEmpty())
        return;
    m_currentFrame = (m_currentFrame + 1) % static_cast<int>(m_frames.size());
    update();
    m_animation.start(m_frames[m_currentFrame].delayMs);
}

void CPictureEx::Stop()
{
    m_playing = false;
    m_exitRequested = true;
    m_animation.stop();
    m_exitRequested = false;
}

void CPictureEx::UnLoad()
{
    Stop();
    m_frames.clear();
    m_paintRect = QRect();
    m_pictureSize = QSize(0, 0);
    m_currentFrame = 0;
    m_playing = false;
    m_exitRequested = false;
    m_backgroundColor = Qt::white;
    update();
}

void CPictureEx::SetPaintRect(const QRect& rect)
{
    m_paintRect = rect;
    update();
}

void CPictureEx::SetBackgroundColor(const QColor& color)
{
    m_backgroundColor = color;
    update();
}

QSize CPictureEx::sizeHint() const
{
    return m_pictureSize.isEmpty() ? QSize(32, 32) : m_pictureSize;
}

void CPictureEx::paintEvent(QPaintEvent*)
{
    // Nothing loaded: nothing drawn, the parent's background shows through.
    if (m_frames.isEmpty())
        return;
    QPainter painter(this);
    const QPixmap& frame = m_frames[m_currentFrame].pixmap;
    if (m_paintRect.width() > 0)
        painter.drawPixmap(QPoint(0, 0), frame, m_paintRect);
    else
        painter.drawPixmap(QPoint(0, 0), frame, QRect(QPoint(0, 0), m_pictureSize));
}
