#include "store/Variant.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The calendar range the date-time split accepts: 100-01-01 to 9999-12-31 23:59:59.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

const QDate& DateZero()
{
    static const QDate zero(1899, 12, 30);
    return zero;
}

qint32 Low32(qint64 value)
{
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(value) & 0xFFFFFFFFu));
}

qint16 Low16(qint64 value)
{
    return static_cast<qint16>(static_cast<quint16>(static_cast<quint64>(value) & 0xFFFFu));
}

quint8 Low8(qint64 value)
{
    return static_cast<quint8>(static_cast<quint64>(value) & 0xFFu);
}

// Currency is a count of ten-thousandths; written as the locale writes a plain number.
QString CurrencyText(qint64 tenThousandths)
{
    const bool negative = tenThousandths < 0;
    const quint64 magnitude =
        negative ? static_cast<quint64>(-(tenThousandths + 1)) + 1 : static_cast<quint64>(tenThousandths);
    QString text = QString::number(magnitude / 10000);
    quint64 fraction = magnitude % 10000;
    if (fraction != 0) {
        QString digits = QString::number(fraction).rightJustified(4, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += QLocale().decimalPoint() + digits;
    }
    return negative ? QLatin1Char('-') + text : text;
}

// Round half to even, as the platform's own integer conversion of currency and decimal does.
int BankersRound(double value)
{
    if (!std::isfinite(value))
        return 0;
    double rounded = std::nearbyint(value);
    const double floorValue = std::floor(value);
    if (value - floorValue == 0.5)
        rounded = std::fmod(floorValue, 2.0) == 0 ? floorValue : floorValue + 1;
    if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(rounded);
}

// Leading decimal integer of a text, as the C run-time reads one: blanks, sign, digits;
// values beyond 32 bits stop at the nearest limit.
int LeadingInteger(const QString& text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    bool saturated = false;
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        if (!saturated) {
            value = value * 10 + (text[i].unicode() - '0');
            if (value > qint64(std::numeric_limits<int>::max()) + 1)
                saturated = true;
        }
    }
    if (negative) {
        if (saturated || -value < std::numeric_limits<int>::min())
            return std::numeric_limits<int>::min();
        return static_cast<int>(-value);
    }
    if (saturated || value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

} // namespace

QString StoreTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString FormatDateTime(double date)
{
    if (!std::isfinite(date) || date < kMinDate || date >= kMaxDate)
        return QStringLiteral("Invalid DateTime");
    // Before day zero the whole part counts days backwards while the fraction still
    // runs forwards through that day (-1.25 is 1899-12-29 06:00).
    const double wholeDays = std::trunc(date);
    qint64 seconds = std::llround(std::fabs(date - wholeDays) * 86400.0);
    qint64 days = static_cast<qint64>(wholeDays);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    const QDate day = DateZero().addDays(days);
    if (!day.isValid() || day.year() > 9999)
        return QStringLiteral("Invalid DateTime");
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", day.year(), day.month(), day.day(), int(seconds / 3600),
                             int(seconds / 60 % 60), int(seconds % 60));
}

bool DateFromText(const QString& text, double& date)
{
    // "YYYY-MM-DD", optionally followed by " HH:MM" or " HH:MM:SS"; single digits allowed.
    const QString trimmed = text.trimmed();
    const QStringList parts = trimmed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 2)
        return false;
    const QStringList ymd = parts[0].split(QLatin1Char('-'));
    if (ymd.size() != 3)
        return false;
    bool ok1 = false, ok2 = false, ok3 = false;
    const int year = ymd[0].toInt(&ok1);
    const int month = ymd[1].toInt(&ok2);
    const int dayOfMonth = ymd[2].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || ymd[0].size() != 4)
        return false;
    const QDate day(year, month, dayOfMonth);
    if (!day.isValid() || year < 100)
        return false;
    int seconds = 0;
    if (parts.size() == 2) {
        const QStringList hms = parts[1].split(QLatin1Char(':'));
        if (hms.size() < 2 || hms.size() > 3)
            return false;
        int values[3] = {0, 0, 0};
        for (int i = 0; i < hms.size(); ++i) {
            bool ok = false;
            values[i] = hms[i].toInt(&ok);
            if (!ok || hms[i].isEmpty() || hms[i].size() > 2 || hms[i].startsWith(QLatin1Char('-')) ||
                hms[i].startsWith(QLatin1Char('+')))
                return false;
        }
        if (values[0] > 23 || values[1] > 59 || values[2] > 59)
            return false;
        seconds = values[0] * 3600 + values[1] * 60 + values[2];
    }
    const qint64 days = DateZero().daysTo(day);
    const double fraction = seconds / 86400.0;
    date = days >= 0 ? double(days) + fraction : double(days) - fraction;
    return true;
}

CVariant MakeDate(double date)
{
    CVariant value;
    value.type = EVarType::Date;
    value.real = date;
    return value;
}

bool IsIntegerType(EVarType type)
{
    static constexpr EVarType kIntegers[] = {EVarType::I1, EVarType::UI1, EVarType::I2,  EVarType::UI2,
                                             EVarType::I4, EVarType::UI4, EVarType::Int, EVarType::UInt,
                                             EVarType::I8, EVarType::UI8};
    return std::find(std::begin(kIntegers), std::end(kIntegers), type) != std::end(kIntegers);
}

QString VariantToText(const CVariant& value)
{
    switch (value.type) {
    case EVarType::Empty:
    case EVarType::Null:
        return QString();
    case EVarType::I2:
        return QString::number(Low16(value.integer));
    case EVarType::UI2:
        return QString::number(static_cast<quint16>(Low16(value.integer)));
    case EVarType::I1:
    case EVarType::UI1:
        return QString::number(Low8(value.integer));
    case EVarType::I4:
    case EVarType::UI4:
    case EVarType::Int:
    case EVarType::UInt:
    case EVarType::I8:
    case EVarType::UI8:
        return QString::number(Low32(value.integer));
    case EVarType::R4:
        return QString::asprintf("%.4f", double(static_cast<float>(value.real)));
    case EVarType::R8:
    case EVarType::Decimal:
        return QString::asprintf("%.8f", value.real);
    case EVarType::Currency:
        return CurrencyText(value.integer);
    case EVarType::Date:
        return FormatDateTime(value.real);
    case EVarType::BStr:
    case EVarType::LPStr:
    case EVarType::LPWStr:
        return value.text;
    case EVarType::Bool:
        return value.integer != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case EVarType::Void:
        return QString::asprintf("%8x", static_cast<unsigned>(Low32(value.integer)));
    case EVarType::Blob:
    case EVarType::BlobObject:
    case EVarType::ArrayUI1:
        return QStringLiteral("[BLOB]");
    case EVarType::Other:
        break;
    }
    return QStringLiteral("UN_KNOW");
}

int VariantToInt(const CVariant& value)
{
    switch (value.type) {
    case EVarType::I2:
    case EVarType::UI2:
    case EVarType::Bool:
        return Low16(value.integer);
    case EVarType::I1:
    case EVarType::UI1:
        return Low8(value.integer);
    case EVarType::I4:
    case EVarType::UI4:
    case EVarType::Int:
        return Low32(value.integer);
    case EVarType::R4:
    case EVarType::R8: {
        const double shifted = (value.type == EVarType::R4 ? double(static_cast<float>(value.real)) : value.real) + 0.5;
        // Not representable: no value rather than undefined behaviour.
        if (!std::isfinite(shifted) || shifted <= double(std::numeric_limits<int>::min()) - 1.0 ||
            shifted >= double(std::numeric_limits<int>::max()) + 1.0)
            return 0;
        return static_cast<int>(std::trunc(shifted));
    }
    case EVarType::Currency: {
        qint64 whole = value.integer / 10000;
        const qint64 rest = value.integer % 10000;
        if (rest > 5000 || (rest == 5000 && (whole & 1)))
            ++whole;
        else if (rest < -5000 || (rest == -5000 && (whole & 1)))
            --whole;
        if (whole < std::numeric_limits<int>::min() || whole > std::numeric_limits<int>::max())
            return 0;
        return static_cast<int>(whole);
    }
    case EVarType::Decimal:
        return BankersRound(value.real);
    case EVarType::BStr:
    case EVarType::LPStr:
    case EVarType::LPWStr:
        return LeadingInteger(value.text);
    default:
        break;
    }
    return 0;
}
