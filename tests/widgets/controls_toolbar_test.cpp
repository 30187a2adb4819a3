// The true-colour toolbar: transparent colour from the first stored pixel,
// 48-pixel images, the three lists and the fallback to the plain images.
#include "support/TestMain.h"

#include "controls/ui/Resources.h"
#include "controls/ui/TrueColorToolBar.h"

#include <QAction>
#include <QBitmap>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtEndian>

namespace {

// A 24-bit BMP; rows[0] is the top row. Bottom-up unless topDown.
QByteArray MakeBmp(const QList<QList<QColor>>& rows, bool topDown = false, int bits = 24)
{
    const int h = static_cast<int>(rows.size());
    const int w = static_cast<int>(rows[0].size());
    const int bytesPerPixel = bits / 8;
    const int stride = (w * bytesPerPixel + 3) & ~3;
    QByteArray pixels;
    for (int i = 0; i < h; ++i) {
        const QList<QColor>& row = rows[topDown ? i : h - 1 - i];
        QByteArray line;
        for (const QColor& c : row) {
            line.append(char(c.blue()));
            line.append(char(c.green()));
            line.append(char(c.red()));
            if (bytesPerPixel == 4)
                line.append(char(0));
        }
        line.append(QByteArray(stride - line.size(), '\0'));
        pixels.append(line);
    }
    QByteArray bmp(54, '\0');
    auto* d = reinterpret_cast<uchar*>(bmp.data());
    d[0] = 'B';
    d[1] = 'M';
    qToLittleEndian<quint32>(54 + pixels.size(), d + 2);
    qToLittleEndian<quint32>(54, d + 10);
    qToLittleEndian<quint32>(40, d + 14);
    qToLittleEndian<qint32>(w, d + 18);
    qToLittleEndian<qint32>(topDown ? -h : h, d + 22);
    qToLittleEndian<quint16>(1, d + 26);
    qToLittleEndian<quint16>(bits, d + 28);
    qToLittleEndian<quint32>(pixels.size(), d + 34);
    return bmp + pixels;
}

QList<QList<QColor>> Filled(int w, int h, const QColor& c)
{
    return QList<QList<QColor>>(h, QList<QColor>(w, c));
}

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(data);
    return path;
}

bool Opaque(const QPixmap& pixmap, int x, int y)
{
    return qAlpha(pixmap.toImage().convertToFormat(QImage::Format_ARGB32).pixel(x, y)) > 0;
}

void AddButtons(QToolBar& bar, int count)
{
    for (int i = 0; i < count; ++i)
        bar.addAction(QStringLiteral("b%1").arg(i));
}

} // namespace

// ---- first stored pixel

struct PixelCase
{
    const char* name;
    bool topDown;
    int bits;
    QColor expected;
    bool ok;
};

class FirstPixelTest : public ::testing::TestWithParam<PixelCase>
{
};

TEST_P(FirstPixelTest, ColourOfTheFirstStoredPixel)
{
    const PixelCase& c = GetParam();
    // Top-left red, bottom-left (10, 20, 30), everything else grey.
    auto rows = Filled(4, 3, QColor(128, 128, 128));
    rows[0][0] = QColor(255, 0, 0);
    rows[2][0] = QColor(10, 20, 30);
    QColor colour;
    int bits = 0;
    EXPECT_EQ(CTrueColorToolBar::FirstStoredPixel(MakeBmp(rows, c.topDown, c.bits), colour, &bits), c.ok) << c.name;
    if (c.ok) {
        EXPECT_EQ(colour, c.expected) << c.name;
        EXPECT_EQ(bits, c.bits);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FirstPixelTest,
                         ::testing::Values(PixelCase{"bottom-up: bottom-left", false, 24, QColor(10, 20, 30), true},
                                           PixelCase{"top-down: top-left", true, 24, QColor(255, 0, 0), true},
                                           PixelCase{"32-bit bottom-up", false, 32, QColor(10, 20, 30), true}));

TEST(FirstPixel, RejectsWhatIsNoTrueColourBmp)
{
    QColor colour;
    EXPECT_FALSE(CTrueColorToolBar::FirstStoredPixel(QByteArray(), colour));
    EXPECT_FALSE(CTrueColorToolBar::FirstStoredPixel(QByteArray(100, 'x'), colour));
    QByteArray eightBit = MakeBmp(Filled(4, 4, Qt::red));
    qToLittleEndian<quint16>(8, reinterpret_cast<uchar*>(eightBit.data()) + 28);
    EXPECT_FALSE(CTrueColorToolBar::FirstStoredPixel(eightBit, colour));
    QByteArray truncated = MakeBmp(Filled(4, 4, Qt::red)).left(55);
    EXPECT_FALSE(CTrueColorToolBar::FirstStoredPixel(truncated, colour));
}

// ---- image lists

TEST(TrueColorToolBar, ButtonFaceFirstPixelIsTransparentEverywhere)
{
    QTemporaryDir dir;
    const QColor face(236, 233, 216);
    auto rows = Filled(96, 48, QColor(0, 0, 200));
    rows[47][0] = face;  // first stored pixel
    rows[10][60] = face; // same colour inside the second image
    const QString path = Write(dir, QStringLiteral("strip.bmp"), MakeBmp(rows));

    CTrueColorToolBar bar;
    AddButtons(bar, 2);
    ASSERT_TRUE(bar.SetImageList(EToolBarImageList::Normal, path));
    EXPECT_EQ(bar.TransparentColor(EToolBarImageList::Normal), face);
    const auto& images = bar.Images(EToolBarImageList::Normal);
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images[0].size(), QSize(48, 48));
    EXPECT_FALSE(Opaque(images[0], 0, 47));
    EXPECT_FALSE(Opaque(images[1], 12, 10));
    EXPECT_TRUE(Opaque(images[1], 13, 10));
    EXPECT_TRUE(Opaque(images[0], 24, 24));
}

TEST(TrueColorToolBar, ShippedStripsGiveNineImagesPerList)
{
    InitMirelResources();
    CTrueColorToolBar bar;
    AddButtons(bar, 9);
    ASSERT_TRUE(bar.LoadPlainImages(QStringLiteral(":/toolbar/toolbar_plain.bmp")));
    ASSERT_TRUE(bar.LoadTrueColorToolBar(QStringLiteral(":/toolbar/toolbar_normal.bmp"),
                                         QStringLiteral(":/toolbar/toolbar_disabled.bmp")));
    for (auto which : {EToolBarImageList::Normal, EToolBarImageList::Hot, EToolBarImageList::Disabled}) {
        EXPECT_TRUE(bar.HasImageList(which));
        ASSERT_EQ(bar.Images(which).size(), 9);
        for (const QPixmap& image : bar.Images(which))
            EXPECT_EQ(image.size(), QSize(48, 48));
    }
    EXPECT_EQ(bar.TransparentColor(EToolBarImageList::Normal), QColor(255, 0, 255));
    EXPECT_EQ(bar.PlainImages().size(), 9);
    // The corners are background; every image has a drawing.
    for (const QPixmap& image : bar.Images(EToolBarImageList::Normal)) {
        EXPECT_FALSE(Opaque(image, 0, 0));
        int opaque = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x)
                opaque += Opaque(image, x, y) ? 1 : 0;
        EXPECT_GT(opaque, 400);
        EXPECT_LT(opaque, 48 * 48);
    }
    // Each button's icon carries the three looks.
    const QAction* first = bar.actions().constFirst();
    const QImage normal = first->icon().pixmap(48, 48, QIcon::Normal).toImage();
    const QImage disabled = first->icon().pixmap(48, 48, QIcon::Disabled).toImage();
    EXPECT_EQ(normal.convertToFormat(QImage::Format_ARGB32),
              bar.Images(EToolBarImageList::Normal)[0].toImage().convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(disabled.convertToFormat(QImage::Format_ARGB32),
              bar.Images(EToolBarImageList::Disabled)[0].toImage().convertToFormat(QImage::Format_ARGB32));
}

TEST(TrueColorToolBar, WithoutTheNormalStripThePlainImagesStay)
{
    InitMirelResources();
    CTrueColorToolBar bar;
    AddButtons(bar, 8);
    ASSERT_TRUE(bar.LoadPlainImages(QStringLiteral(":/toolbar/toolbar_plain.bmp")));
    EXPECT_FALSE(bar.LoadTrueColorToolBar(QStringLiteral(":/toolbar/missing.bmp"),
                                          QStringLiteral(":/toolbar/toolbar_disabled.bmp")));
    // Neither hot nor disabled, although the disabled strip exists.
    EXPECT_FALSE(bar.HasImageList(EToolBarImageList::Normal));
    EXPECT_FALSE(bar.HasImageList(EToolBarImageList::Hot));
    EXPECT_FALSE(bar.HasImageList(EToolBarImageList::Disabled));
    const QImage shown = bar.actions()[3]->icon().pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(shown, bar.PlainImages()[3].toImage().convertToFormat(QImage::Format_ARGB32));
}

TEST(TrueColorToolBar, FailedListKeepsThePreviousOne)
{
    QTemporaryDir dir;
    const QString good = Write(dir, QStringLiteral("good.bmp"), MakeBmp(Filled(48, 48, QColor(1, 2, 3))));
    const QString narrow = Write(dir, QStringLiteral("narrow.bmp"), MakeBmp(Filled(20, 48, QColor(1, 2, 3))));
    const QString junk = Write(dir, QStringLiteral("junk.bmp"), QByteArray("BM not really"));
    CTrueColorToolBar bar;
    AddButtons(bar, 1);
    ASSERT_TRUE(bar.SetImageList(EToolBarImageList::Hot, good));
    EXPECT_FALSE(bar.SetImageList(EToolBarImageList::Hot, narrow));
    EXPECT_FALSE(bar.SetImageList(EToolBarImageList::Hot, junk));
    EXPECT_FALSE(bar.SetImageList(EToolBarImageList::Hot, dir.filePath(QStringLiteral("none.bmp"))));
    EXPECT_TRUE(bar.HasImageList(EToolBarImageList::Hot));
    EXPECT_EQ(bar.TransparentColor(EToolBarImageList::Hot), QColor(1, 2, 3));
}

TEST(TrueColorToolBar, ButtonAndImageSizes)
{
    CTrueColorToolBar bar;
    AddButtons(bar, 3);
    bar.SetSizes(QSize(55, 70), QSize(48, 48));
    bar.addAction(QStringLiteral("late"));
    EXPECT_EQ(bar.iconSize(), QSize(48, 48));
    EXPECT_EQ(bar.toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    for (QAction* action : bar.actions()) {
        auto* button = qobject_cast<QToolButton*>(bar.widgetForAction(action));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->size(), QSize(55, 70)) << action->text().toStdString();
    }
}
