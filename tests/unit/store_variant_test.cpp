#include "support/TestMain.h"

#include "store/Variant.h"

#include <QLocale>

#include <climits>

namespace {

CVariant Int(EVarType type, qint64 value)
{
    CVariant v;
    v.type = type;
    v.integer = value;
    return v;
}

CVariant Real(EVarType type, double value)
{
    CVariant v;
    v.type = type;
    v.real = value;
    return v;
}

CVariant Text(EVarType type, const QString& value)
{
    CVariant v;
    v.type = type;
    v.text = value;
    return v;
}

CVariant Bytes(EVarType type)
{
    CVariant v;
    v.type = type;
    v.bytes = QByteArray("\x01\x02", 2);
    return v;
}

CVariant Of(EVarType type)
{
    CVariant v;
    v.type = type;
    return v;
}

// 2009-03-03 is day 39875 after 1899-12-30; 14:05:09 is second 50709 of the day.
const double kMarch3rd = 39875.0 + 50709.0 / 86400.0;

struct CTextCase
{
    const char* name;
    CVariant value;
    QString text;
};

void PrintTo(const CTextCase& c, std::ostream* os)
{
    *os << c.name;
}

class VariantToTextTable : public ::testing::TestWithParam<CTextCase>
{
protected:
    // Currency is written the user's way; pin the decimal point.
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
};

TEST_P(VariantToTextTable, GivesTheTextOfTheRule)
{
    EXPECT_EQ(VariantToText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, VariantToTextTable,
    ::testing::Values(
        CTextCase{"empty", Of(EVarType::Empty), QString()}, CTextCase{"null", Of(EVarType::Null), QString()},
        CTextCase{"i2", Int(EVarType::I2, -5), "-5"}, CTextCase{"i2_low16", Int(EVarType::I2, 0x18000), "-32768"},
        CTextCase{"ui2", Int(EVarType::UI2, 65535), "65535"}, CTextCase{"i1_unsigned", Int(EVarType::I1, -1), "255"},
        CTextCase{"ui1", Int(EVarType::UI1, 200), "200"}, CTextCase{"i4", Int(EVarType::I4, -123456), "-123456"},
        CTextCase{"ui4_signed", Int(EVarType::UI4, 0xFFFFFFFFLL), "-1"}, CTextCase{"int", Int(EVarType::Int, 42), "42"},
        CTextCase{"uint_signed", Int(EVarType::UInt, 0x80000000LL), "-2147483648"},
        CTextCase{"i8_low32", Int(EVarType::I8, 0x100000005LL), "5"},
        CTextCase{"i8_negative", Int(EVarType::I8, -1), "-1"},
        CTextCase{"ui8_low32", Int(EVarType::UI8, qint64(0xFFFFFFFF80000000ULL)), "-2147483648"},
        CTextCase{"r4", Real(EVarType::R4, 2.5), "2.5000"}, CTextCase{"r4_single", Real(EVarType::R4, 0.1), "0.1000"},
        CTextCase{"r8", Real(EVarType::R8, 2.5), "2.50000000"},
        CTextCase{"r8_negative", Real(EVarType::R8, -0.125), "-0.12500000"},
        CTextCase{"decimal", Real(EVarType::Decimal, 1.5), "1.50000000"},
        CTextCase{"currency", Int(EVarType::Currency, 125000), "12.5"},
        CTextCase{"currency_fraction", Int(EVarType::Currency, 12345), "1.2345"},
        CTextCase{"currency_negative", Int(EVarType::Currency, -10000), "-1"},
        CTextCase{"date", Real(EVarType::Date, kMarch3rd), "2009-03-03 14:05:09"},
        CTextCase{"date_zero", Real(EVarType::Date, 0), "1899-12-30 00:00:00"},
        CTextCase{"date_before_zero", Real(EVarType::Date, -1.25), "1899-12-29 06:00:00"},
        CTextCase{"date_out_of_range", Real(EVarType::Date, 1e7), "Invalid DateTime"},
        CTextCase{"bstr", Text(EVarType::BStr, QStringLiteral("店铺 O'Brien")), QStringLiteral("店铺 O'Brien")},
        CTextCase{"lpstr", Text(EVarType::LPStr, "abc"), "abc"},
        CTextCase{"lpwstr", Text(EVarType::LPWStr, "x y"), "x y"},
        CTextCase{"bool_true", Int(EVarType::Bool, -1), "TRUE"}, CTextCase{"bool_one", Int(EVarType::Bool, 1), "TRUE"},
        CTextCase{"bool_false", Int(EVarType::Bool, 0), "FALSE"},
        CTextCase{"void_hex", Int(EVarType::Void, 0xABC), "     abc"},
        CTextCase{"void_full", Int(EVarType::Void, 0x12345678), "12345678"},
        CTextCase{"blob", Bytes(EVarType::Blob), "[BLOB]"},
        CTextCase{"blob_object", Bytes(EVarType::BlobObject), "[BLOB]"},
        CTextCase{"byte_array", Bytes(EVarType::ArrayUI1), "[BLOB]"},
        CTextCase{"other", Of(EVarType::Other), "UN_KNOW"}),
    [](const ::testing::TestParamInfo<CTextCase>& info) { return std::string(info.param.name); });

struct CIntCase
{
    const char* name;
    CVariant value;
    int number;
};

void PrintTo(const CIntCase& c, std::ostream* os)
{
    *os << c.name;
}

class VariantToIntTable : public ::testing::TestWithParam<CIntCase>
{
};

TEST_P(VariantToIntTable, GivesTheIntegerOfTheRule)
{
    EXPECT_EQ(VariantToInt(GetParam().value), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, VariantToIntTable,
    ::testing::Values(
        CIntCase{"i2", Int(EVarType::I2, -5), -5}, CIntCase{"ui2_signed", Int(EVarType::UI2, 65535), -1},
        CIntCase{"bool_true", Int(EVarType::Bool, -1), -1}, CIntCase{"bool_false", Int(EVarType::Bool, 0), 0},
        CIntCase{"i1_unsigned", Int(EVarType::I1, -1), 255}, CIntCase{"ui1", Int(EVarType::UI1, 200), 200},
        CIntCase{"i4", Int(EVarType::I4, -7), -7}, CIntCase{"ui4_signed", Int(EVarType::UI4, 0xFFFFFFFFLL), -1},
        CIntCase{"int", Int(EVarType::Int, 9), 9}, CIntCase{"r8_half_up", Real(EVarType::R8, 2.5), 3},
        CIntCase{"r8_negative_half", Real(EVarType::R8, -2.5), -2}, CIntCase{"r8_down", Real(EVarType::R8, 2.4), 2},
        CIntCase{"r8_negative", Real(EVarType::R8, -2.6), -2}, CIntCase{"r4_half_up", Real(EVarType::R4, 2.5), 3},
        CIntCase{"currency_half_even_down", Int(EVarType::Currency, 25000), 2},
        CIntCase{"currency_half_even_up", Int(EVarType::Currency, 35000), 4},
        CIntCase{"currency_fraction", Int(EVarType::Currency, 12345), 1},
        CIntCase{"currency_negative", Int(EVarType::Currency, -25000), -2},
        CIntCase{"decimal_half_even", Real(EVarType::Decimal, 2.5), 2},
        CIntCase{"decimal_up", Real(EVarType::Decimal, 3.5), 4},
        CIntCase{"bstr_leading", Text(EVarType::BStr, "42abc"), 42},
        CIntCase{"bstr_sign_blanks", Text(EVarType::BStr, " -17"), -17},
        CIntCase{"bstr_plus", Text(EVarType::BStr, "+8"), 8}, CIntCase{"bstr_none", Text(EVarType::BStr, "abc"), 0},
        CIntCase{"bstr_empty", Text(EVarType::BStr, ""), 0},
        CIntCase{"bstr_too_big", Text(EVarType::BStr, "99999999999"), INT_MAX},
        CIntCase{"lpstr", Text(EVarType::LPStr, "12"), 12}, CIntCase{"lpwstr", Text(EVarType::LPWStr, "-3x"), -3},
        CIntCase{"empty", Of(EVarType::Empty), 0}, CIntCase{"null", Of(EVarType::Null), 0},
        CIntCase{"date", Real(EVarType::Date, 39875.5), 0}, CIntCase{"i8", Int(EVarType::I8, 5), 0},
        CIntCase{"ui8", Int(EVarType::UI8, 5), 0}, CIntCase{"uint", Int(EVarType::UInt, 5), 0},
        CIntCase{"void", Int(EVarType::Void, 5), 0}, CIntCase{"blob", Bytes(EVarType::Blob), 0},
        CIntCase{"other", Of(EVarType::Other), 0}),
    [](const ::testing::TestParamInfo<CIntCase>& info) { return std::string(info.param.name); });

TEST(DateText, StoreFormReadsBackToTheSameSecond)
{
    const QString samples[] = {"2009-03-03 14:05:09", "2000-02-29 23:59:59", "1899-12-30 00:00:00",
                               "1800-01-01 12:30:00", "9999-12-31 23:59:59", "0100-01-01 00:00:00"};
    for (const QString& sample : samples) {
        double date = 0;
        ASSERT_TRUE(DateFromText(sample, date)) << qPrintable(sample);
        EXPECT_EQ(FormatDateTime(date), sample);
    }
    double date = 0;
    ASSERT_TRUE(DateFromText("2009-03-03", date));
    EXPECT_EQ(date, 39875.0);
    ASSERT_TRUE(DateFromText("2009-3-3 4:05", date));
    EXPECT_EQ(FormatDateTime(date), "2009-03-03 04:05:00");
}

TEST(DateText, WhatIsNoDateIsRefused)
{
    const QString samples[] = {
        "",         "yesterday",          "2009-02-30 00:00:00", "2009-03-03 24:00:00", "2009-03-03 12:60",
        "09-03-03", "2009-03-03 1:2:3:4", "2009/03/03"};
    for (const QString& sample : samples) {
        double date = 0;
        EXPECT_FALSE(DateFromText(sample, date)) << qPrintable(sample);
    }
    EXPECT_EQ(FormatDateTime(std::numeric_limits<double>::quiet_NaN()), "Invalid DateTime");
    EXPECT_EQ(FormatDateTime(-700000.0), "Invalid DateTime");
    // Half a second before midnight rounds into the next day.
    EXPECT_EQ(FormatDateTime(1.0 - 0.4 / 86400.0), "1899-12-31 00:00:00");
}

} // namespace
