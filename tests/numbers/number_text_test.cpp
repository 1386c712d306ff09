// Locale-independent number reading and writing: C-locale wide string-to-double syntax, correct
// rounding, and fixed-point writing with ties away from zero from the exact double.
#include "numbers/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

double read(const std::u16string& text) {
    return readNumber(text.data(), text.data() + text.size());
}
double read(const std::string& ascii) {
    return read(std::u16string(ascii.begin(), ascii.end()));
}

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double fromBits(uint64_t bits) {
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

struct ReadCase {
    const char16_t* text;
    double expected;
};

TEST(ReadNumber, FollowsTheCLocaleSyntax) {
    const ReadCase cases[] = {
        {u"", 0.0},
        {u"   ", 0.0},
        {u"abc", 0.0},
        {u"-", 0.0},
        {u".", 0.0},
        {u"+.e3", 0.0},
        {u"1", 1.0},
        {u" +3", 3.0},
        {u"\t\n\v\f\r7", 7.0},
        {u"-.5", -0.5},
        {u"5.", 5.0},
        {u"1.5abc", 1.5},
        {u"1,5", 1.0},
        {u"1 5", 1.0},
        {u"- 1", 0.0},
        {u"1e", 1.0},
        {u"1e+", 1.0},
        {u"1e-x", 1.0},
        {u"1e5", 1e5},
        {u"1E-2", 0.01},
        {u"12.34e1x", 123.4},
        {u"2.5e+0001", 25.0},
        {u"1e0000000000000000000000001", 10.0},
        {u"0x", 0.0},
        {u"0xg", 0.0},
        {u"0x.", 0.0},
        {u"0x1.8p3", 12.0},
        {u"0X.8", 0.5},
        {u"0xAbC", 2748.0},
        {u"-0x10", -16.0},
        {u"0x1P", 1.0},
        {u"0x1p-2", 0.25},
        {u"0x1.fffffffffffff8p0", 2.0}, // halfway above the largest double below 2, ties to even
        {u"0x1.fffffffffffff7p0", 2.0 - std::ldexp(1.0, -52)},
        {u"0x1p-1074", std::ldexp(1.0, -1074)},
        {u"0x1p-1075", 0.0}, // halfway to the smallest subnormal, ties to even
        {u"0x1.0000000000001p-1075", std::ldexp(1.0, -1074)},
        {u"0x1p1024", kInf},
        {u"inf", kInf},
        {u"-Infinity", -kInf},
        {u"INFINITE", kInf},
        {u"in", 0.0},
        {u"1e400", kInf},
        {u"-1e400", -kInf},
        {u"1e-400", 0.0},
        {u"0.1", 0.1},
        {u"9007199254740993", 9007199254740992.0},            // 2^53 + 1: tie to even
        {u"9007199254740993.0000000001", 9007199254740994.0}, // just above the tie
        {u"9007199254740995", 9007199254740996.0},
        {u"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {u"1.7976931348623158e308", std::numeric_limits<double>::max()},
        {u"1.7976931348623159e308", kInf},
        {u"2.2250738585072011e-308", fromBits(0x000FFFFFFFFFFFFFull)},
        {u"2.2250738585072014e-308", std::numeric_limits<double>::min()},
        {u"4.9406564584124654e-324", std::ldexp(1.0, -1074)},
        {u"2.4703282292062327e-324", 0.0},
        {u"2.4703282292062328e-324", std::ldexp(1.0, -1074)},
        {u"\u00a01", 0.0}, // no-break space is not C-locale white space
        {u"\uff11", 0.0},  // full-width digit one
    };
    for (const ReadCase& c : cases) {
        const std::u16string text(c.text);
        EXPECT_EQ(bitsOf(read(text)), bitsOf(c.expected))
            << "text index " << (&c - cases) << " gave " << read(text) << ", expected " << c.expected;
    }
}

TEST(ReadNumber, NotANumberFormsAndSignedZero) {
    for (const char16_t* text : {u"nan", u"NaN(123abc)", u"+nan(", u"-nAn", u"nan()"})
        EXPECT_TRUE(std::isnan(read(std::u16string(text))));
    EXPECT_TRUE(std::signbit(read(std::string("-0"))));
    EXPECT_TRUE(std::signbit(read(std::string("-0x0p5"))));
    EXPECT_FALSE(std::signbit(read(std::string("0.0"))));
    const std::u16string withNul(u"1\u00002", 3); // an embedded NUL ends the number
    EXPECT_EQ(read(withNul), 1.0);
}

TEST(ReadNumber, ManyDigitsAndExtremeExponents) {
    // 1 followed by 1000 zeros, then scaled back: exactly 1.
    EXPECT_EQ(read("1" + std::string(1000, '0') + "e-1000"), 1.0);
    EXPECT_EQ(read("0." + std::string(1000, '0') + "1e1001"), 1.0);
    // A tie that only a digit far beyond the first 800 breaks: 2^53 + 1 followed by many zeros and a 1.
    EXPECT_EQ(read("9007199254740993." + std::string(2000, '0') + "1"), 9007199254740994.0);
    EXPECT_EQ(read("9007199254740993." + std::string(2000, '0')), 9007199254740992.0);
    EXPECT_EQ(read(std::string("1e99999999999999999999")), kInf);
    EXPECT_EQ(read(std::string("1e-99999999999999999999")), 0.0);
    EXPECT_EQ(read("0x" + std::string(300, 'f')), kInf);
}

// Short numbers take a fast path; the same values padded with zeros take the exact big-integer path.
TEST(ReadNumber, ShortAndPaddedFormsAgree) {
    std::mt19937_64 random(99);
    for (int i = 0; i < 2000; ++i) {
        const std::string digits = std::to_string(random() % 1000000000000000ull);
        const int exponent = static_cast<int>(random() % 45) - 22;
        const double shortForm = read(digits + "e" + std::to_string(exponent));
        const double paddedForm = read(digits + std::string(20, '0') + "e" + std::to_string(exponent - 20));
        ASSERT_EQ(bitsOf(shortForm), bitsOf(paddedForm)) << digits << "e" << exponent;
    }
}

TEST(ReadNumber, ExactExpansionOfAnyDoubleReadsBackBitExact) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 400; ++i) {
        double value = fromBits(random());
        if (!std::isfinite(value))
            continue;
        // Every double's decimal expansion ends within 1074 fraction digits.
        const std::string exact = formatFixed(value, 1080, 0);
        EXPECT_EQ(bitsOf(read(exact)), bitsOf(value)) << exact.substr(0, 40);
    }
}

// Sets a comma-decimal-point numeric locale for its lifetime and restores the previous one.
class CommaLocale {
public:
    CommaLocale() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
        active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        char printed[16] = {};
        std::snprintf(printed, sizeof printed, "%.1f", 1.5);
        active_ = active_ && std::string(printed) == "1,5";
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
    bool active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

TEST(ReadNumber, IgnoresACommaDecimalPointLocale) {
    CommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no locale with a comma decimal point installed";
    EXPECT_EQ(read(std::string("1.5")), 1.5);
    EXPECT_EQ(read(std::string("-2.25e1")), -22.5);
    EXPECT_EQ(read(std::string("1,5")), 1.0);
    EXPECT_EQ(read(std::string("0x1.8p1")), 3.0);
    EXPECT_EQ(formatFixed(1.25, 1, 3), "1.3");
    EXPECT_EQ(formatFixed(-0.01, 1, 3), "-0.0");
}

struct FormatCase {
    double value;
    int decimals;
    int minWidth;
    const char* expected;
};

TEST(FormatFixed, RoundsTheExactValueWithTiesAwayFromZero) {
    const FormatCase cases[] = {
        {0.25, 1, 3, "0.3"},
        {-0.25, 1, 3, "-0.3"},
        {0.75, 1, 3, "0.8"},
        {-0.01, 1, 3, "-0.0"},
        {-0.0, 1, 3, "-0.0"},
        {0.0, 1, 3, "0.0"},
        {0.05, 1, 3, "0.1"},    // 0.05000000000000000277...
        {0.15, 1, 3, "0.1"},    // 0.14999999999999999444...
        {0.35, 1, 3, "0.3"},    // 0.34999999999999997779...
        {9.95, 1, 3, "9.9"},    // 9.94999999999999928945...
        {99.95, 1, 3, "100.0"}, // 99.95000000000000284217...
        {9.96, 1, 3, "10.0"},
        {5.0, 1, 3, "5.0"},
        {-5.0, 1, 3, "-5.0"},
        {1.5, 1, 6, "   1.5"},
        {-1.5, 1, 6, "  -1.5"},
        {123.456, 0, 5, "  123"},
        {2.5, 0, 0, "3"},
        {-2.5, 0, 0, "-3"},
        {0.5, 0, 0, "1"},
        {0.49999999999999994, 0, 0, "0"},
        {0.125, 2, 0, "0.13"},
        {0.375, 2, 0, "0.38"},
        {std::ldexp(1.0, -1074), 1, 3, "0.0"},
        {-std::ldexp(1.0, -1074), 1, 3, "-0.0"},
        {kInf, 1, 3, "inf"},
        {-kInf, 1, 3, "-inf"},
        {kNan, 1, 3, "nan"},
        {kInf, 1, 6, "   inf"},
        {1e300, 1, 3,
         "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375080447"
         "8640437044438328838781769425232353604305756447921847867069828483872009265758037378302337947880900"
         "59368953234970799945081119038967640880074652742780142494579258788820056842838115669472196386865459"
         "400540160.0"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatFixed(c.value, c.decimals, c.minWidth), c.expected) << "value " << c.value;
}

// Dyadic values n / 2^k are computed exactly in integers: tenths = (10n + 2^(k-1)) >> k rounds half up.
TEST(FormatFixed, MatchesIntegerRoundingOnDyadicValues) {
    std::mt19937_64 random(777);
    for (int i = 0; i < 2000; ++i) {
        const uint64_t n = random() % (uint64_t{1} << 40);
        const int k = static_cast<int>(random() % 21);
        const bool negative = (random() & 1) != 0;
        const double value = std::ldexp(static_cast<double>(n), -k) * (negative ? -1.0 : 1.0);
        const uint64_t tenths = k == 0 ? 10 * n : (10 * n + (uint64_t{1} << (k - 1))) >> k;
        const std::string expected =
            (negative ? "-" : "") + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
        ASSERT_EQ(formatFixed(value, 1, 3), expected) << n << " / 2^" << k;
    }
}

// Reports round as "%.Nf" prints: ties to the even neighbour, and what rounds to zero has no sign.
TEST(FormatFixed, ReportsRoundTiesToEvenAndDropTheSignOfZero) {
    const FormatCase cases[] = {
        {0.125, 2, 0, "0.12"},
        {0.375, 2, 0, "0.38"},
        {-0.125, 2, 0, "-0.12"},
        {2.5, 0, 0, "2"},
        {3.5, 0, 0, "4"},
        {-0.5, 0, 0, "-0"},            // half a unit is not below it: kept, and its sign too
        {0.0078125, 6, 0, "0.007812"}, // a tie at the sixth decimal
        {0.00781250001, 6, 0, "0.007813"},
        {0.05, 1, 0, "0.1"}, // 0.05000000000000000277...: above the tie
        {-0.04, 1, 0, "0.0"},
        {-0.0, 3, 0, "0.000"},
        {-1e-9, 6, 0, "0.000000"},
        {-kInf, 2, 0, "-inf"},
        {kNan, 2, 0, "nan"},
        {-kNan, 2, 0, "-nan"},
        {1234.5678, 2, 0, "1234.57"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatFixed(c.value, c.decimals), c.expected) << "value " << c.value;
    EXPECT_EQ(formatFixed(0.125, 2, 7, FixedStyle::kReport), "   0.12");
}

} // namespace
