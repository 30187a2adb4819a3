#pragma once
// Picture field that can show a still or animated picture (any format Qt's
// image readers know, GIF included). Frames are decoded once into pixmaps; an
// animation advances on a timer of the window's thread. With nothing loaded
// it paints nothing of its own. Window's thread only.
#include <QColor>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>

class CPictureEx : public QWidget
{
    Q_OBJECT
public:
    struct CFrame
    {
        QPixmap pixmap;
        int delayMs = 0;
    };

    explicit CPictureEx(QWidget* parent = nullptr);
    ~CPictureEx() override;

    // Decodes every frame of the picture; false (and nothing loaded) when unreadable.
    bool Load(const QByteArray& data);
    bool Load(const QString& path);
    // Shows the first frame and, with more than one frame, starts the animation.
    bool Draw();
    // Ends the animation; the current frame stays.
    void Stop();
    // Discards the picture and returns to the initial state.
    void UnLoad();

    bool IsPlaying() const { return m_playing; }
    bool IsLoaded() const { return !m_frames.isEmpty(); }
    QSize PictureSize() const { return m_pictureSize; }
    QRect PaintRect() const { return m_paintRect; }
    // Shows only this part of the picture; an empty rectangle shows all of it.
    void SetPaintRect(const QRect& rect);
    QColor BackgroundColor() const { return m_backgroundColor; }
    void SetBackgroundColor(const QColor& color);
    int FrameCount() const { return static_cast<int>(m_frames.size()); }
    int CurrentFrame() const { return m_currentFrame; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NextFrame();

    QRect m_paintRect;
    QSize m_pictureSize{0, 0};
    QColor m_backgroundColor{Qt::white};
    bool m_playing = false;
    bool m_exitRequested = false;
    int m_currentFrame = 0;
    QList<CFrame> m_frames;
    QTimer m_animation;
};
