#include "controls/SortOrder.h"

#include "platform/AbortScope.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <limits>
#include <new>
#include <unordered_map>

#include <sys/mman.h>

namespace {

// A sort of a million rows needs tens of megabytes for a moment. Taken from the
// system directly, they go back to it when the sort ends; from the worker's
// malloc arena they would stay with the process.
template <typename T> struct CMappedAllocator
{
    using value_type = T;
    CMappedAllocator() = default;
    template <typename U> CMappedAllocator(const CMappedAllocator<U>&) {}
    T* allocate(size_t n)
    {
        void* at = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (at == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<T*>(at);
    }
    void deallocate(T* at, size_t n) { munmap(at, n * sizeof(T)); }
    template <typename U> bool operator==(const CMappedAllocator<U>&) const { return true; }
};

template <typename T> using CSortVector = std::vector<T, CMappedAllocator<T>>;

// One collator for the process's locale; case matters, as in the platform's
// plain string comparison. Used once before any thread shares it, so its
// lazy set-up never races.
const QCollator& TextCollator()
{
    static const QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        (void)c.compare(QStringLiteral("a"), QStringLiteral("b"));
        return c;
    }();
    return collator;
}

int Sign(qint64 value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

bool AllDigits(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Date key yyyymmdd from the fixed positions of dd/mm/yyyy (two-digit month
// and day fields, so one number orders as year, month, day).
qint64 DateKey(QStringView text)
{
    const qint64 year = LeadingNumber(text.mid(std::min<qsizetype>(6, text.size())).left(4));
    const qint64 month = LeadingNumber(text.mid(std::min<qsizetype>(3, text.size())).left(2));
    const qint64 day = LeadingNumber(text.left(2));
    return year * 10000 + month * 100 + day;
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A code point's place in UTF-16 code unit order: surrogates (everything
// above U+FFFF) come before U+E000..U+FFFF.
uint32_t Utf16Place(uint32_t cp)
{
    if (cp < 0xD800)
        return cp;
    if (cp >= 0x10000)
        return 0xD800 + (cp - 0x10000);
    return cp + 0x200000;
}

uint32_t DecodeAt(std::string_view s, size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    uint32_t cp = extra == 3 ? (b & 0x07) : extra == 2 ? (b & 0x0F) : extra == 1 ? (b & 0x1F) : b;
    for (size_t k = 1; k <= size_t(extra) && i + k < s.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

// The C locale's comparison (UTF-16 code units, case-sensitive) on UTF-8 texts.
int CompareUtf16Order(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    if (i == n)
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    // Back to the start of the character that differs.
    size_t start = i;
    while (start > 0 && (static_cast<unsigned char>(a[start]) & 0xC0) == 0x80)
        --start;
    const uint32_t x = Utf16Place(DecodeAt(a, start)), y = Utf16Place(DecodeAt(b, start));
    return x < y ? -1 : (x > y ? 1 : 0);
}

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The sort's own flag, or the worker's (raised at exit).
bool Stopped(const std::atomic<int>* stop)
{
    return (stop && stop->load(std::memory_order_relaxed) != 0) || AbortRequested();
}

// What a comparison needs of one cell, read once per sort.
struct CSortKey
{
    qint64 number = 0;
    qint64 dateKey = 0;
    uint32_t rank = 0; // place of the text among the column's texts by the collator
    bool digits = false;
    bool date = false;
};

// Ranks equal exactly where the collator finds the texts equal.
bool RankTexts(const CSortVector<std::string_view>& texts, CSortVector<CSortKey>& keys, const std::atomic<int>* stop)
{
    const size_t n = texts.size();
    if (TextCollator().locale().language() == QLocale::C) {
        CSortVector<uint32_t> byText(n);
        for (size_t i = 0; i < n; ++i)
            byText[i] = uint32_t(i);
        std::sort(byText.begin(), byText.end(),
                  [&](uint32_t a, uint32_t b) { return CompareUtf16Order(texts[a], texts[b]) < 0; });
        if (Stopped(stop))
            return false;
        uint32_t rank = 0;
        for (size_t i = 0; i < n; ++i) {
            if (i > 0 && texts[byText[i]] != texts[byText[i - 1]])
                ++rank;
            keys[byText[i]].rank = rank;
        }
        return true;
    }
    // Other locales: one collation key per distinct text (ICU's keys order as its comparison does).
    std::unordered_map<std::string_view, uint32_t> distinct;
    distinct.reserve(n / 4 + 16);
    CSortVector<uint32_t> textOf(n);
    CSortVector<std::string_view> values;
    for (size_t i = 0; i < n; ++i) {
        const auto [it, added] = distinct.try_emplace(texts[i], uint32_t(values.size()));
        if (added)
            values.push_back(texts[i]);
        textOf[i] = it->second;
    }
    CSortVector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(values.size());
    for (size_t v = 0; v < values.size(); ++v) {
        if (v % 65536 == 0 && Stopped(stop))
            return false;
        sortKeys.push_back(TextCollator().sortKey(ToQString(values[v])));
    }
    CSortVector<uint32_t> byText(values.size());
    for (size_t v = 0; v < byText.size(); ++v)
        byText[v] = uint32_t(v);
    std::sort(byText.begin(), byText.end(),
              [&](uint32_t a, uint32_t b) { return sortKeys[a].compare(sortKeys[b]) < 0; });
    CSortVector<uint32_t> rankOf(values.size());
    uint32_t rank = 0;
    for (size_t v = 0; v < byText.size(); ++v) {
        if (v > 0 && sortKeys[byText[v]].compare(sortKeys[byText[v - 1]]) != 0)
            ++rank;
        rankOf[byText[v]] = rank;
    }
    for (size_t i = 0; i < n; ++i)
        keys[i].rank = rankOf[textOf[i]];
    return true;
}

int CompareKeys(const CSortKey& a, const CSortKey& b, bool ascending)
{
    const CSortKey& first = ascending ? a : b;
    const CSortKey& second = ascending ? b : a;
    if (a.digits)
        return Sign(first.number - second.number);
    if (a.date)
        return Sign(first.dateKey - second.dateKey);
    return first.rank < second.rank ? -1 : (first.rank > second.rank ? 1 : 0);
}

// Stable bottom-up merge sort that stays within bounds whatever the
// comparison answers (std::sort may run off the end without a strict weak order).
template <typename LessOrEqual>
bool MergeSort(CSortVector<uint32_t>& order, LessOrEqual lessOrEqual, const std::atomic<int>* stop)
{
    const size_t n = order.size();
    CSortVector<uint32_t> buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
        if (Stopped(stop))
            return false;
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                buffer[k++] = lessOrEqual(order[i], order[j]) ? order[i++] : order[j++];
            while (i < mid)
                buffer[k++] = order[i++];
            while (j < hi)
                buffer[k++] = order[j++];
        }
        order.swap(buffer);
    }
    return true;
}

} // namespace

qint64 LeadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value < kMax)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    return negative ? -value : value;
}

bool IsDateText(QStringView text)
{
    if (text.size() != 10)
        return false;
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9}) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
    }
    return text[2] == u'/' && text[5] == u'/';
}

int CompareDateTexts(QStringView a, QStringView b)
{
    return Sign(DateKey(a) - DateKey(b));
}

int CompareCells(QStringView a, QStringView b, bool ascending)
{
    const QStringView first = ascending ? a : b;
    const QStringView second = ascending ? b : a;
    if (AllDigits(a))
        return Sign(LeadingNumber(first) - LeadingNumber(second));
    if (IsDateText(a))
        return CompareDateTexts(first, second);
    return Sign(TextCollator().compare(first, second));
}

std::vector<uint32_t> SortedRows(const std::vector<uint32_t>& current, const SortCellReader& cell, bool ascending,
                                 const std::atomic<int>* stop)
{
    const size_t n = current.size();
    CSortVector<std::string_view> texts(n);
    CSortVector<CSortKey> keys(n);
    for (size_t i = 0; i < n; ++i) {
        if (i % 65536 == 0 && Stopped(stop))
            return {};
        const std::string_view text = cell(current[i]);
        texts[i] = text;
        CSortKey& key = keys[i];
        // Digits and the date form are ASCII, so bytes and characters agree;
        // the date fields of other texts are read by character.
        if (IsAscii(text)) {
            const QString latin = QString::fromLatin1(text.data(), qsizetype(text.size()));
            key.digits = AllDigits(latin);
            key.date = IsDateText(latin);
            key.number = LeadingNumber(latin);
            key.dateKey = DateKey(latin);
        } else {
            const QString wide = ToQString(text);
            key.number = LeadingNumber(wide);
            key.dateKey = DateKey(wide);
        }
    }
    if (!RankTexts(texts, keys, stop))
        return {};
    CSortVector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = uint32_t(i);
    if (!MergeSort(
            order, [&](uint32_t a, uint32_t b) { return CompareKeys(keys[a], keys[b], ascending) <= 0; }, stop))
        return {};
    std::vector<uint32_t> rows(n);
    for (size_t i = 0; i < n; ++i)
        rows[i] = current[order[i]];
    return rows;
}
