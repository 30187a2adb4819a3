#pragma once
// Toolbar with large 24-bit button images: a strip of 48-pixel-wide images
// side by side, one per button in order, whose first stored pixel gives the
// transparent colour. Separate strips give the normal, hot (mouse over) and
// disabled looks; without the true-colour strip the buttons keep their plain
// images. Window's thread only.
#include <QColor>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QToolBar>

enum class EToolBarImageList
{
    Normal,
    Hot,
    Disabled
};

class CTrueColorToolBar : public QToolBar
{
    Q_OBJECT
public:
    static constexpr int kButtonImageWidth = 48;
    // The plain images mark their transparent parts with the classic button face.
    static inline const QColor kPlainTransparent{192, 192, 192};

    explicit CTrueColorToolBar(QWidget* parent = nullptr);

    // Button and image sizes of every button, present and future.
    void SetSizes(const QSize& button, const QSize& image);
    QSize ButtonSize() const { return m_buttonSize; }

    // The plain images (the fallback), from a strip of any depth.
    bool LoadPlainImages(const QString& stripPath);
    // Replaces one image list from a 24-bit strip; false leaves the list as it was.
    bool SetImageList(EToolBarImageList which, const QString& bitmapPath);
    // Normal from normalHot; only then hot from normalHot and, if that worked, disabled.
    bool LoadTrueColorToolBar(const QString& normalHot, const QString& disabled);

    bool HasImageList(EToolBarImageList which) const;
    const QList<QPixmap>& Images(EToolBarImageList which) const;
    const QList<QPixmap>& PlainImages() const { return m_plain; }
    QColor TransparentColor(EToolBarImageList which) const;

    // Colour of the first pixel in a BMP file's pixel storage (the bottom-left
    // one for a bottom-up bitmap); false when the data is no readable BMP.
    static bool FirstStoredPixel(const QByteArray& bmp, QColor& color, int* bitsPerPixel = nullptr);
    // Cuts the strip into images of the button width, the transparent colour masked out.
    static QList<QPixmap> SplitStrip(const QImage& strip, const QColor& transparent);

protected:
    void actionEvent(QActionEvent* event) override;

private:
    struct CImageList
    {
        bool set = false;
        QColor transparent;
        QList<QPixmap> images;
    };

    void ApplyIcons();
    void SizeButtons();
    CImageList& List(EToolBarImageList which);
    const CImageList& List(EToolBarImageList which) const;

    CImageList m_normal, m_hot, m_disabled;
    QList<QPixmap> m_plain;
    QSize m_buttonSize;
};
