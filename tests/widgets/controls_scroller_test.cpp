// The text scroller (wrapping, layout, steps, painting) and the picture field.
#include "support/TestMain.h"

#include "controls/ui/PictureEx.h"
#include "controls/ui/TextScroller.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QImage>
#include <QTest>

// ---- wrapping

struct WrapCase
{
    const char* name;
    QStringList texts;
    int n;
    QStringList pieces;
};

class WrapTest : public ::testing::TestWithParam<WrapCase>
{
};

TEST_P(WrapTest, Pieces)
{
    const WrapCase& c = GetParam();
    EXPECT_EQ(CTextScroller::WrapTexts(c.texts, c.n), c.pieces) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrapTest,
    ::testing::Values(WrapCase{"exactly n stays whole", {"abcde"}, 5, {"abcde"}},
                      WrapCase{"space at n breaks there", {"abc def"}, 3, {"abc", "def"}},
                      WrapCase{"else the last space before n", {"ab cdef"}, 4, {"ab", "cdef"}},
                      WrapCase{"several breaks", {"aa bb cc dd"}, 5, {"aa bb", "cc dd"}},
                      WrapCase{"leading spaces stay", {"  lead"}, 10, {"  lead"}},
                      WrapCase{"trailing spaces go", {"trail   "}, 10, {"trail"}},
                      WrapCase{"a blank line stays as an empty line", {"  "}, 10, {""}},
                      WrapCase{"no space: cut at the width", {"abcdefghij"}, 4, {"abcd", "efgh", "ij"}},
                      WrapCase{"a space at position 0 is no break", {" Lumo"}, 3, {" Lu", "mo"}},
                      WrapCase{"continuation keeps its leading space", {"ab  cd"}, 2, {"ab", " c", "d"}},
                      WrapCase{"piece before a space at n keeps its own", {"ab  cd"}, 3, {"ab ", "cd"}},
                      WrapCase{"one per line", {"a b c"}, 1, {"a", "b", "c"}},
                      WrapCase{"several texts in order", {"one", "", "two three"}, 5, {"one", "two", "three"}},
                      WrapCase{"nothing", {}, 5, {}}, WrapCase{"width below one character", {"ab"}, 0, {"a", "b"}}));

TEST(TextScroller, AddLinesWrapsToTheControlWidth)
{
    CTextScroller scroller;
    const int w = QFontMetrics(scroller.TextFont()).horizontalAdvance(u'T');
    // Room for exactly 6 characters of "T" width inside the frame.
    scroller.resize(6 * w + 2 * scroller.frameWidth(), 80);
    ASSERT_EQ(scroller.CharsPerLine(), 6);
    scroller.AddLines({QStringLiteral("abc defgh"), QStringLiteral("xyz")});
    ASSERT_EQ(scroller.Lines().size(), 3);
    EXPECT_EQ(scroller.Lines()[0].text, QStringLiteral("abc"));
    EXPECT_EQ(scroller.Lines()[1].text, QStringLiteral("defgh"));
    EXPECT_EQ(scroller.Lines()[2].text, QStringLiteral("xyz"));
    for (const auto& line : scroller.Lines()) {
        EXPECT_TRUE(line.active);
        EXPECT_EQ(line.y, 0);
    }
}

TEST(TextScroller, FontAndColours)
{
    CTextScroller scroller;
    EXPECT_EQ(scroller.BackgroundColor(), QColor(204, 204, 255));
    EXPECT_EQ(scroller.TextColor(), QColor(0, 0, 0));
    const QString before = scroller.FontDescription().family();
    EXPECT_EQ(scroller.SetFontName(QStringLiteral("宋体")), before);
    EXPECT_EQ(scroller.TextFont().family(), QStringLiteral("宋体"));
    scroller.FontDescription().setItalic(true);
    EXPECT_FALSE(scroller.TextFont().italic());
    scroller.RecreateFont();
    EXPECT_TRUE(scroller.TextFont().italic());
}

// ---- layout and steps

class ScrollTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_scroller.resize(200, 60);
        m_scroller.AddLines({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        m_scroller.LayoutLines();
        h = m_scroller.LineHeight();
        bottom = m_scroller.contentsRect().bottom();
    }
    CTextScroller m_scroller;
    int h = 0;
    int bottom = 0;
};

TEST_F(ScrollTest, LinesStartStackedBelowTheArea)
{
    ASSERT_EQ(m_scroller.Lines().size(), 3);
    EXPECT_FALSE(m_scroller.LayoutNeeded());
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(m_scroller.Lines()[k].startY, bottom + k * (h + 1)) << k;
        EXPECT_EQ(m_scroller.Lines()[k].y, m_scroller.Lines()[k].startY);
    }
    // Positions are computed once only.
    m_scroller.resize(200, 300);
    m_scroller.LayoutLines();
    EXPECT_EQ(m_scroller.Lines()[0].startY, bottom);
}

TEST_F(ScrollTest, LinesRiseWaitAndRestartTogether)
{
    m_scroller.ScrollStep();
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(m_scroller.Lines()[k].y, m_scroller.Lines()[k].startY - 1);

    // Step until the first line leaves the top.
    int steps = 1;
    while (m_scroller.Lines()[0].active && steps < 10000) {
        m_scroller.ScrollStep();
        ++steps;
    }
    EXPECT_EQ(steps, bottom + 1);
    EXPECT_EQ(m_scroller.Lines()[0].y, m_scroller.Lines()[0].startY);
    EXPECT_TRUE(m_scroller.Lines()[1].active);
    const int waitingAt = m_scroller.Lines()[0].y;
    m_scroller.ScrollStep();
    ++steps;
    EXPECT_EQ(m_scroller.Lines()[0].y, waitingAt) << "a line that left waits at its start";

    // Once the last one has gone, all start again.
    while (!(m_scroller.Lines()[2].y == m_scroller.Lines()[2].startY && m_scroller.Lines()[0].active) &&
           steps < 10000) {
        m_scroller.ScrollStep();
        ++steps;
    }
    EXPECT_EQ(steps, m_scroller.Lines()[2].startY + 1);
    for (const auto& line : m_scroller.Lines()) {
        EXPECT_TRUE(line.active);
        EXPECT_EQ(line.y, line.startY);
    }
}

TEST(TextScroller, NoLinesOnlyBackgroundAndNoSteps)
{
    CTextScroller scroller;
    scroller.SetBackgroundColor(QColor(0, 0, 0));
    scroller.resize(120, 60);
    scroller.ScrollStep();
    EXPECT_TRUE(scroller.Lines().isEmpty());
    const QImage shot = scroller.grab().toImage();
    const QRect inner = scroller.contentsRect();
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x)
            ASSERT_EQ(QColor(shot.pixel(x, y)), QColor(0, 0, 0)) << x << "," << y;
}

TEST(TextScroller, PaintsVisibleLinesAndStartsItsTimer)
{
    CTextScroller scroller;
    scroller.SetBackgroundColor(QColor(0, 0, 0));
    scroller.SetTextColor(QColor(255, 255, 255));
    scroller.resize(160, 120);
    scroller.AddLines({QStringLiteral("WWWW")});
    scroller.LayoutLines();
    // Bring the line into the middle of the area.
    const int target = 50;
    while (scroller.Lines()[0].y > target)
        scroller.ScrollStep();
    const QImage shot = scroller.grab().toImage();
    int white = 0, whiteInTopBand = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (qGray(shot.pixel(x, y)) > 128) {
                ++white;
                if (y > 1 && y < scroller.LineHeight())
                    ++whiteInTopBand;
            }
    EXPECT_GT(white, 10);
    EXPECT_EQ(whiteInTopBand, 0);
    EXPECT_TRUE(scroller.StepTimer().isActive());
    EXPECT_EQ(scroller.StepTimer().interval(), CTextScroller::kStepMs);
}

// ---- picture field

TEST(PictureEx, NothingLoadedDrawsNothing)
{
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    parent.setPalette(palette);
    parent.resize(80, 80);
    CPictureEx picture(&parent);
    picture.setGeometry(0, 0, 40, 40);
    EXPECT_FALSE(picture.IsLoaded());
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_EQ(picture.PictureSize(), QSize(0, 0));
    EXPECT_EQ(picture.BackgroundColor(), QColor(Qt::white));
    EXPECT_FALSE(picture.Draw());
    const QImage shot = parent.grab(QRect(0, 0, 40, 40)).toImage();
    EXPECT_EQ(QColor(shot.pixel(20, 20)), QColor(10, 200, 30));
}

TEST(PictureEx, LoadDrawStopUnload)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 0, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));

    CPictureEx picture;
    picture.resize(40, 40);
    EXPECT_FALSE(picture.Load(QByteArray("not a picture")));
    ASSERT_TRUE(picture.Load(png));
    EXPECT_EQ(picture.PictureSize(), QSize(24, 16));
    EXPECT_EQ(picture.FrameCount(), 1);
    EXPECT_TRUE(picture.Draw());
    EXPECT_FALSE(picture.IsPlaying()) << "one frame needs no animation";
    QImage shot = picture.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(200, 0, 0));

    // A paint rectangle shows that part at the top-left corner only.
    picture.SetPaintRect(QRect(0, 0, 4, 4));
    shot = picture.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(200, 0, 0));
    EXPECT_NE(QColor(shot.pixel(10, 10)), QColor(200, 0, 0));

    picture.SetBackgroundColor(Qt::black);
    picture.Stop();
    EXPECT_FALSE(picture.IsPlaying());
    picture.UnLoad();
    EXPECT_FALSE(picture.IsLoaded());
    EXPECT_EQ(picture.PictureSize(), QSize(0, 0));
    EXPECT_TRUE(picture.PaintRect().isNull());
    EXPECT_EQ(picture.BackgroundColor(), QColor(Qt::white));
}
