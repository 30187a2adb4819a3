#include "controls/ui/TextScroller.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

CTextScroller::CTextScroller(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setAccessibleName(QStringLiteral("滚动文字"));
    m_fontDescription = font();
    m_font = m_fontDescription;
    m_timer.setTimerType(Qt::CoarseTimer);
    m_timer.setInterval(kStepMs);
    connect(&m_timer, &QTimer::timeout, this, &CTextScroller::ScrollStep);
}

CTextScroller::~CTextScroller() = default;

void CTextScroller::AddLines(const QStringList& texts)
{
    for (const QString& text : texts)
        m_lines.append({text, 0, 0, true});
    WrapLines();
    update();
}

QString CTextScroller::SetFontName(const QString& faceName)
{
    const QString previous = m_fontDescription.family();
    m_fontDescription.setFamily(faceName);
    RecreateFont();
    return previous;
}

void CTextScroller::RecreateFont()
{
    m_font = m_fontDescription;
    update();
}

void CTextScroller::SetTextColor(const QColor& color)
{
    m_textColor = color;
    update();
}

void CTextScroller::SetBackgroundColor(const QColor& color)
{
    m_backgroundColor = color;
    update();
}

int CTextScroller::CharsPerLine() const
{
    const int w = std::max(QFontMetrics(m_font).horizontalAdvance(u'T'), 1);
    return contentsRect().width() / w;
}

int CTextScroller::LineHeight() const
{
    return QFontMetrics(m_font).height();
}

QStringList CTextScroller::WrapTexts(const QStringList& texts, int n)
{
    // A width below one character would never make progress.
    n = std::max(n, 1);
    QStringList pieces;
    for (QString text : texts) {
        while (!text.isEmpty()) {
            qsizetype end = text.size();
            while (end > 0 && text[end - 1].isSpace())
                --end;
            text.truncate(end);

            qsizetype brk;
            bool dropBreakChar = true;
            if (text.size() > n) {
                if (text[n] == u' ') {
                    brk = n;
                } else {
                    brk = text.lastIndexOf(u' ', n);
                    if (brk < 1) {
                        // No space to break at: cut at the width, keeping every character.
                        brk = n;
                        dropBreakChar = false;
                    }
                }
            } else {
                text.append(u' ');
                brk = text.size() - 1;
            }
            pieces.append(text.left(brk));
            text = text.mid(dropBreakChar ? brk + 1 : brk);
        }
    }
    return pieces;
}

void CTextScroller::WrapLines()
{
    QStringList texts;
    for (const CLine& line : std::as_const(m_lines))
        texts.append(line.text);
    m_lines.clear();
    for (const QString& piece : WrapTexts(texts, CharsPerLine()))
        m_lines.append({piece, 0, 0, true});
}

void CTextScroller::LayoutLines()
{
    if (!m_layoutNeeded || m_lines.isEmpty())
        return;
    const int h = LineHeight();
    int b = contentsRect().bottom();
    for (CLine& line : m_lines) {
        line.y = line.startY = b;
        b += h + 1;
    }
    m_layoutNeeded = false;
}

void CTextScroller::ScrollStep()
{
    if (m_lines.isEmpty())
        return;
    const QRect client = contentsRect();
    const int h = LineHeight();
    for (int k = 0; k < m_lines.size(); ++k) {
        CLine& line = m_lines[k];
        if (line.active)
            --line.y;
        if (line.y < 0) {
            update(QRect(client.left(), line.y - 1, client.width(), h + 1));
            line.y = line.startY;
            if (k == m_lines.size() - 1) {
                for (CLine& each : m_lines)
                    each.active = true;
                break;
            }
            line.active = false;
        } else if (line.y <= client.bottom() - h) {
            update(QRect(client.left(), line.y - 1, client.width(), h + 3));
        }
    }
}

void CTextScroller::paintEvent(QPaintEvent* event)
{
    m_timer.stop();
    LayoutLines();
    {
        QPainter painter(this);
        const QRect client = contentsRect();
        painter.fillRect(client, m_backgroundColor);
        const int h = LineHeight();
        painter.setFont(m_font);
        painter.setPen(m_textColor);
        painter.setClipRect(client);
        for (const CLine& line : std::as_const(m_lines)) {
            if (line.y >= 0 && line.y <= client.bottom() - h)
                painter.drawText(QRect(client.left(), line.y, client.width(), h),
                                 Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, line.text);
        }
        // Text fades out as it enters the top band.
        painter.fillRect(QRect(client.left(), client.top(), client.width(), h), m_backgroundColor);
    }
    QFrame::paintEvent(event);
    m_timer.start();
}
