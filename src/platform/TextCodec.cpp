#include "platform/TextCodec.h"

#include <QDebug>

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace {

std::mutex g_codePageMutex;
const QByteArray kDefaultCodePage = "GBK";
QByteArray g_codePage = kDefaultCodePage;
QByteArray g_unknownCodePage;

bool Converts(const QByteArray& to, const QByteArray& from)
{
    iconv_t cd = iconv_open(to.constData(), from.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

// Converts all it can; invalid or unconvertible input is skipped one unit at a time.
QByteArray Convert(const QByteArray& to, const QByteArray& from, const char* data, size_t size, size_t unit)
{
    iconv_t cd = iconv_open(to.constData(), from.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray out;
    out.resize(static_cast<qsizetype>(size * 4 + 16));
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
            continue;
        }
        // EILSEQ or EINVAL (a dangling lead byte at the end): skip one unit.
        const size_t skip = inLeft < unit ? inLeft : unit;
        in += skip;
        inLeft -= skip;
    }
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.resize(outPtr - out.data());
    iconv_close(cd);
    return out;
}

QString Decode(const char* data, qsizetype size)
{
    qsizetype n = 0;
    while (n < size && data[n] != '\0')
        ++n;
    const QByteArray utf16 = Convert("UTF-16LE", CodePage(), data, static_cast<size_t>(n), 1);
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

QByteArray Encode(const QString& text)
{
    return Convert(CodePage(), "UTF-16LE", reinterpret_cast<const char*>(text.utf16()),
                   static_cast<size_t>(text.size()) * 2, 2);
}

} // namespace

bool SetCodePage(const QByteArray& name)
{
    const QByteArray wanted = name.trimmed().isEmpty() ? kDefaultCodePage : name.trimmed();
    const bool known = Converts(wanted, "UTF-16LE") && Converts("UTF-16LE", wanted);
    if (!known)
        qWarning("text: code page \"%s\" is unknown, GBK is used", wanted.constData());
    std::lock_guard lock(g_codePageMutex);
    g_codePage = known ? wanted : kDefaultCodePage;
    g_unknownCodePage = known ? QByteArray() : wanted;
    return known;
}

QByteArray UnknownCodePage()
{
    std::lock_guard lock(g_codePageMutex);
    return g_unknownCodePage;
}

QString CodePageFallbackText(const QByteArray& unknown)
{
    return QStringLiteral("未知的代码页[%1],已改用GBK").arg(QString::fromLatin1(unknown));
}

QByteArray CodePage()
{
    std::lock_guard lock(g_codePageMutex);
    return g_codePage;
}

QString AnsiToUnicode(const QByteArray& bytes)
{
    return Decode(bytes.constData(), bytes.size());
}

QString AnsiToUnicode(const char* data, qsizetype size)
{
    return Decode(data, size);
}

QByteArray UnicodeToAnsi(const QString& text)
{
    return Encode(text);
}

QByteArray UnicodeToOem(const QString& text)
{
    return Encode(text);
}

QString OemToUnicode(const QByteArray& bytes)
{
    return Decode(bytes.constData(), bytes.size());
}

QByteArray UnicodeToOemLimited(const QString& text, qsizetype maxBytes)
{
    QByteArray out;
    // Encode character by character (surrogate pairs kept together) so the cut never splits one.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray piece = Encode(text.mid(i, len));
        if (out.size() + piece.size() > maxBytes)
            break;
        out += piece;
        i += len;
    }
    return out;
}
