#pragma once
// A few centred lines rolling slowly upwards, like closing credits: they start
// stacked below the visible area, rise one pixel every 50 ms, vanish one by one
// in the band at the top and all start again once the last has gone.
// Window's thread only.
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QList>
#include <QStringList>
#include <QTimer>

class CTextScroller : public QFrame
{
    Q_OBJECT
public:
    struct CLine
    {
        QString text;
        int y = 0;
        int startY = 0;
        bool active = true;
    };

    static constexpr int kStepMs = 50;

    explicit CTextScroller(QWidget* parent = nullptr);
    ~CTextScroller() override;

    // Appends the texts, re-wraps every line to the control's width.
    void AddLines(const QStringList& texts);
    // Returns the previous face name.
    QString SetFontName(const QString& faceName);
    // The font description the host may change; RecreateFont applies it.
    QFont& FontDescription() { return m_fontDescription; }
    void RecreateFont();
    QFont TextFont() const { return m_font; }

    void SetTextColor(const QColor& color);
    void SetBackgroundColor(const QColor& color);
    QColor TextColor() const { return m_textColor; }
    QColor BackgroundColor() const { return m_backgroundColor; }

    const QList<CLine>& Lines() const { return m_lines; }
    bool LayoutNeeded() const { return m_layoutNeeded; }
    // Characters of "T" width that fit on one line.
    int CharsPerLine() const;
    // Height of "TEST" in the control's font.
    int LineHeight() const;

    // The wrapping rule on its own: n characters per line.
    static QStringList WrapTexts(const QStringList& texts, int n);

    // One 50 ms step: moves the active lines up one pixel.
    void ScrollStep();
    // Computes the start positions (normally at the first paint).
    void LayoutLines();
    QTimer& StepTimer() { return m_timer; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void WrapLines();

    QList<CLine> m_lines;
    bool m_layoutNeeded = true;
    QFont m_fontDescription;
    QFont m_font;
    QColor m_textColor{0, 0, 0};
    QColor m_backgroundColor{204, 204, 255};
    QTimer m_timer;
};
