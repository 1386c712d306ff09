// Locale-independent number reading and writing. Both directions are exact: reading rounds the decimal
// or hexadecimal value correctly to double, writing expands the double's exact decimal value before
// rounding it. Neither uses the C library's locale-sensitive conversions.
#include "numbers/number_text.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// Unsigned big integer, little-endian 32-bit limbs, no leading zero limbs (zero is empty). The limbs
// live in the object, so reading a number allocates nothing even on the processing thread. The capacity
// covers every value the conversions below form: a correctly rounded read needs under 4000 bits
// (801 significant digits, decimal exponents within the double range, 128 bits of scaling), an exact
// expansion of a double under 2700.
class BigUint {
public:
    BigUint() = default;
    explicit BigUint(uint64_t value) {
        while (value != 0) {
            push(static_cast<uint32_t>(value));
            value >>= 32;
        }
    }

    bool isZero() const { return size_ == 0; }

    void mulAdd(uint32_t factor, uint32_t addend) {
        uint64_t carry = addend;
        for (int i = 0; i < size_; ++i) {
            const uint64_t product = static_cast<uint64_t>(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0)
            push(static_cast<uint32_t>(carry));
        trim();
    }

    // Multiplies by base^exponent for a small base (5 or 10).
    void mulPow(uint32_t base, int exponent) {
        // The largest power of the base that fits in 32 bits, applied in chunks.
        uint32_t chunk = 1;
        int chunkExponent = 0;
        while (static_cast<uint64_t>(chunk) * base <= 0xFFFFFFFFu) {
            chunk *= base;
            ++chunkExponent;
        }
        while (exponent >= chunkExponent) {
            mulAdd(chunk, 0);
            exponent -= chunkExponent;
        }
        uint32_t rest = 1;
        for (int i = 0; i < exponent; ++i)
            rest *= base;
        if (rest != 1)
            mulAdd(rest, 0);
    }

    void shiftLeft(int bits) {
        if (isZero() || bits <= 0)
            return;
        const int limbShift = bits / 32;
        const int bitShift = bits % 32;
        if (bitShift != 0) {
            uint32_t carry = 0;
            for (int i = 0; i < size_; ++i) {
                const uint32_t next = limbs_[i] >> (32 - bitShift);
                limbs_[i] = (limbs_[i] << bitShift) | carry;
                carry = next;
            }
            if (carry != 0)
                push(carry);
        }
        const int moved = size_ + limbShift <= kCapacity ? size_ : kCapacity - limbShift;
        if (limbShift >= kCapacity || moved <= 0) {
            size_ = 0; // beyond the capacity: cannot happen for the values formed here
            return;
        }
        std::memmove(limbs_ + limbShift, limbs_, static_cast<std::size_t>(moved) * sizeof(uint32_t));
        std::memset(limbs_, 0, static_cast<std::size_t>(limbShift) * sizeof(uint32_t));
        size_ = moved + limbShift;
    }

    // Divides in place by a small divisor and returns the remainder.
    uint32_t divSmall(uint32_t divisor) {
        uint64_t remainder = 0;
        for (int i = size_; i-- > 0;) {
            const uint64_t current = (remainder << 32) | limbs_[i];
            limbs_[i] = static_cast<uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        trim();
        return static_cast<uint32_t>(remainder);
    }

    int bitLength() const {
        if (isZero())
            return 0;
        int bits = (size_ - 1) * 32;
        for (uint32_t top = limbs_[size_ - 1]; top != 0; top >>= 1)
            ++bits;
        return bits;
    }

    static int compare(const BigUint& a, const BigUint& b) {
        if (a.size_ != b.size_)
            return a.size_ < b.size_ ? -1 : 1;
        for (int i = a.size_; i-- > 0;) {
            if (a.limbs_[i] != b.limbs_[i])
                return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

    // this -= other; requires this >= other.
    void subtract(const BigUint& other) {
        int64_t borrow = 0;
        for (int i = 0; i < size_; ++i) {
            int64_t difference = static_cast<int64_t>(limbs_[i]) - borrow;
            if (i < other.size_)
                difference -= other.limbs_[i];
            borrow = difference < 0 ? 1 : 0;
            limbs_[i] = static_cast<uint32_t>(difference + (borrow << 32));
        }
        trim();
    }

    // Decimal digits, most significant first ("0" for zero).
    std::string toDecimal() const {
        if (isZero())
            return "0";
        BigUint work = *this;
        std::string reversed;
        while (!work.isZero()) {
            uint32_t chunk = work.divSmall(1000000000u);
            for (int i = 0; i < 9; ++i) {
                reversed.push_back(static_cast<char>('0' + chunk % 10));
                chunk /= 10;
            }
        }
        while (reversed.size() > 1 && reversed.back() == '0')
            reversed.pop_back();
        return std::string(reversed.rbegin(), reversed.rend());
    }

private:
    static constexpr int kCapacity = 192;

    void push(uint32_t limb) {
        if (size_ < kCapacity)
            limbs_[size_++] = limb;
    }
    void trim() {
        while (size_ > 0 && limbs_[size_ - 1] == 0)
            --size_;
    }

    uint32_t limbs_[kCapacity] = {};
    int size_ = 0;
};

// Rounds mantissa x 2^(topExponent - 63) to the nearest double (ties to even), where mantissa has its
// top bit set and sticky says whether nonzero bits lie below it. Handles subnormals and overflow.
double roundToDouble(uint64_t mantissa, int topExponent, bool sticky) {
    // Bits to drop so that the kept part has 53 bits, or fewer below the normal range.
    int drop = 11;
    if (topExponent < -1022)
        drop += -1022 - topExponent;
    if (drop > 64)
        return 0.0; // below half the smallest subnormal
    uint64_t kept = drop == 64 ? 0 : mantissa >> drop;
    const uint64_t dropped = drop == 64 ? mantissa : mantissa & ((uint64_t{1} << drop) - 1);
    const uint64_t half = uint64_t{1} << (drop - 1);
    if (dropped > half || (dropped == half && (sticky || (kept & 1) != 0)))
        ++kept;
    // kept x 2^(topExponent - 63 + drop); ldexp is exact here (or overflows to infinity).
    return std::ldexp(static_cast<double>(kept), topExponent - 63 + drop);
}

bool isSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

int hexValue(char16_t c) {
    if (isDigit(c))
        return c - u'0';
    const char16_t l = lower(c);
    if (l >= u'a' && l <= u'f')
        return l - u'a' + 10;
    return -1;
}

// True when [p, end) starts with the lower-case ASCII word, in any case.
bool startsWithWord(const char16_t* p, const char16_t* end, const char* word) {
    for (; *word != '\0'; ++word, ++p) {
        if (p == end || lower(*p) != static_cast<char16_t>(*word))
            return false;
    }
    return true;
}

// Reads decimal exponent digits, saturating far beyond any double's range.
long readExponentDigits(const char16_t*& p, const char16_t* end) {
    long value = 0;
    while (p != end && isDigit(*p)) {
        if (value < 100000000L)
            value = value * 10 + (*p - u'0');
        ++p;
    }
    return value;
}

// An optional exponent introduced by 'e' (decimal) or 'p' (hexadecimal). It is consumed only when at
// least one digit follows the letter and its optional sign; otherwise p is left at the letter.
long readExponent(const char16_t*& p, const char16_t* end, char16_t letter) {
    if (p == end || lower(*p) != letter)
        return 0;
    const char16_t* q = p + 1;
    bool negative = false;
    if (q != end && (*q == u'+' || *q == u'-')) {
        negative = *q == u'-';
        ++q;
    }
    if (q == end || !isDigit(*q))
        return 0;
    const long value = readExponentDigits(q, end);
    p = q;
    return negative ? -value : value;
}

// Hexadecimal digits after "0x"; p points just after the "x". Returns false when no digit follows.
bool readHex(const char16_t*& p, const char16_t* end, double* magnitude) {
    uint64_t mantissa = 0;
    long binaryExponent = 0; // value = mantissa x 2^binaryExponent (plus sticky bits)
    bool sticky = false;
    bool anyDigit = false;
    bool seenPoint = false;
    const char16_t* q = p;
    for (; q != end; ++q) {
        if (*q == u'.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        const int digit = hexValue(*q);
        if (digit < 0)
            break;
        anyDigit = true;
        if ((mantissa >> 60) == 0) {
            mantissa = (mantissa << 4) | static_cast<uint64_t>(digit);
            if (seenPoint)
                binaryExponent -= 4;
        } else {
            // No room: the digit only matters as sticky bits.
            sticky = sticky || digit != 0;
            if (!seenPoint && binaryExponent < 100000000L)
                binaryExponent += 4;
        }
        if (binaryExponent < -100000000L)
            binaryExponent = -100000000L;
    }
    if (!anyDigit)
        return false;
    binaryExponent += readExponent(q, end, u'p');
    p = q;
    if (mantissa == 0) {
        *magnitude = 0.0;
        return true;
    }
    int shift = 0;
    while ((mantissa >> 63) == 0) {
        mantissa <<= 1;
        ++shift;
    }
    const long topExponent = binaryExponent + 63 - shift;
    if (topExponent > 2000)
        *magnitude = std::numeric_limits<double>::infinity();
    else if (topExponent < -2000)
        *magnitude = 0.0;
    else
        *magnitude = roundToDouble(mantissa, static_cast<int>(topExponent), sticky);
    return true;
}

// Correctly rounded value of digits x 10^exponent, digits being significant decimal digits with no
// leading zero.
double decimalToDouble(const char* digits, std::size_t digitCount, long exponent) {
    const long count = static_cast<long>(digitCount);
    // value < 10^(count + exponent) and >= 10^(count - 1 + exponent)
    if (count + exponent > 310)
        return std::numeric_limits<double>::infinity();
    if (count + exponent < -324) // below 1e-325, under half the smallest subnormal
        return 0.0;
    // Fast path without allocation for the common short numbers: an integer below 2^53 and a power
    // of ten up to 1e22 are both exact doubles, so one multiplication or division rounds correctly.
    if (count <= 15 && exponent >= -22 && exponent <= 22) {
        static const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        uint64_t integer = 0;
        for (std::size_t i = 0; i < digitCount; ++i)
            integer = integer * 10 + static_cast<uint64_t>(digits[i] - '0');
        const double value = static_cast<double>(integer);
        return exponent >= 0 ? value * kPowersOfTen[exponent] : value / kPowersOfTen[-exponent];
    }
    BigUint numerator;
    for (std::size_t i = 0; i < digitCount; ++i)
        numerator.mulAdd(10, static_cast<uint32_t>(digits[i] - '0'));
    BigUint denominator(1);
    if (exponent >= 0)
        numerator.mulPow(10, static_cast<int>(exponent));
    else
        denominator.mulPow(10, static_cast<int>(-exponent));

    // Scale by 2^k so that 2^63 <= numerator / denominator < 2^64, then divide to 64 bits.
    int k = 63 - (numerator.bitLength() - denominator.bitLength());
    for (;;) {
        BigUint scaledNumerator = numerator;
        BigUint scaledDenominator = denominator;
        if (k >= 0)
            scaledNumerator.shiftLeft(k);
        else
            scaledDenominator.shiftLeft(-k);
        BigUint low = scaledDenominator;
        low.shiftLeft(63);
        BigUint high = scaledDenominator;
        high.shiftLeft(64);
        if (BigUint::compare(scaledNumerator, low) < 0) {
            ++k;
            continue;
        }
        if (BigUint::compare(scaledNumerator, high) >= 0) {
            --k;
            continue;
        }
        uint64_t quotient = 0;
        for (int bit = 63; bit >= 0; --bit) {
            BigUint step = scaledDenominator;
            step.shiftLeft(bit);
            if (BigUint::compare(scaledNumerator, step) >= 0) {
                scaledNumerator.subtract(step);
                quotient |= uint64_t{1} << bit;
            }
        }
        return roundToDouble(quotient, 63 - k, !scaledNumerator.isZero());
    }
}

// Enough significant digits to decide the rounding of any decimal: halfway points between doubles
// have at most 767 significant digits. Digits beyond are replaced by one nonzero digit when any of
// them is nonzero, which keeps the value on the same side of every halfway point.
constexpr std::size_t kMaxSignificantDigits = 800;

// Decimal digits with optional fraction and exponent. Returns false when no digit is present.
bool readDecimal(const char16_t*& p, const char16_t* end, double* magnitude) {
    char digits[kMaxSignificantDigits + 1]; // significant digits, no leading zeros
    std::size_t digitCount = 0;
    long exponent = 0; // value = digits x 10^exponent
    bool anyDigit = false;
    bool seenPoint = false;
    bool droppedNonZero = false;
    const char16_t* q = p;
    for (; q != end; ++q) {
        if (*q == u'.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (!isDigit(*q))
            break;
        anyDigit = true;
        const char digit = static_cast<char>('0' + (*q - u'0'));
        if (digitCount == 0 && digit == '0') {
            if (seenPoint && exponent > -100000000L)
                --exponent;
            continue;
        }
        if (digitCount < kMaxSignificantDigits) {
            digits[digitCount++] = digit;
            if (seenPoint)
                --exponent;
        } else {
            droppedNonZero = droppedNonZero || digit != '0';
            if (!seenPoint && exponent < 100000000L)
                ++exponent;
        }
    }
    if (!anyDigit)
        return false;
    exponent += readExponent(q, end, u'e');
    p = q;
    if (digitCount == 0) {
        *magnitude = 0.0;
        return true;
    }
    if (droppedNonZero) {
        digits[digitCount++] = '1';
        --exponent;
    }
    *magnitude = decimalToDouble(digits, digitCount, exponent);
    return true;
}

} // namespace

double readNumber(const char16_t* begin, const char16_t* end) {
    const char16_t* p = begin;
    while (p != end && isSpace(*p))
        ++p;
    bool negative = false;
    if (p != end && (*p == u'+' || *p == u'-')) {
        negative = *p == u'-';
        ++p;
    }
    double magnitude = 0.0;
    if (startsWithWord(p, end, "inf")) {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (startsWithWord(p, end, "nan")) {
        // "nan" may carry "(chars)"; the form only decides how much text is consumed, which the caller
        // does not need.
        magnitude = std::numeric_limits<double>::quiet_NaN();
    } else if (p != end && *p == u'0' && p + 1 != end && lower(p[1]) == u'x') {
        const char16_t* q = p + 2;
        if (!readHex(q, end, &magnitude))
            magnitude = 0.0; // "0x" without hex digits reads as the "0" alone
    } else {
        const char16_t* q = p;
        if (!readDecimal(q, end, &magnitude))
            return 0.0;
    }
    return negative ? -magnitude : magnitude;
}

std::string formatFixed(double value, int decimals, int minWidth, FixedStyle style) {
    if (decimals < 0)
        decimals = 0;
    const bool report = style == FixedStyle::kReport;
    // A report writes a value that rounds to zero without a sign.
    if (report && std::fabs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0;
    const bool negative = std::signbit(value);
    std::string body;
    if (std::isnan(value)) {
        body = report && negative ? "-nan" : "nan";
    } else if (std::isinf(value)) {
        body = negative ? "-inf" : "inf";
    } else {
        // value = mantissa x 2^binaryExponent exactly, mantissa a 53-bit integer.
        int frexpExponent = 0;
        const double fraction = std::frexp(std::fabs(value), &frexpExponent);
        const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
        const int binaryExponent = frexpExponent - 53;

        // Exact decimal expansion: integer digits and fraction digits.
        std::string integerDigits;
        std::string fractionDigits;
        if (mantissa == 0) {
            integerDigits = "0";
        } else if (binaryExponent >= 0) {
            BigUint whole(mantissa);
            whole.shiftLeft(binaryExponent);
            integerDigits = whole.toDecimal();
        } else {
            // mantissa / 2^n = mantissa x 5^n / 10^n
            const int n = -binaryExponent;
            BigUint scaled(mantissa);
            scaled.mulPow(5, n);
            std::string all = scaled.toDecimal();
            if (all.size() <= static_cast<std::size_t>(n))
                all.insert(0, static_cast<std::size_t>(n) + 1 - all.size(), '0');
            integerDigits = all.substr(0, all.size() - static_cast<std::size_t>(n));
            fractionDigits = all.substr(all.size() - static_cast<std::size_t>(n));
        }

        // Keep `decimals` fraction digits. The first dropped digit 5 or more raises the magnitude; in a
        // report, a tie (a 5 and nothing after it) goes to the even neighbour instead.
        bool roundUp =
            fractionDigits.size() > static_cast<std::size_t>(decimals) && fractionDigits[decimals] >= '5';
        if (roundUp && report && fractionDigits[decimals] == '5' &&
            fractionDigits.find_first_not_of('0', static_cast<std::size_t>(decimals) + 1) ==
                std::string::npos) {
            const char last = decimals > 0 ? fractionDigits[decimals - 1] : integerDigits.back();
            roundUp = (last - '0') % 2 == 1;
        }
        fractionDigits.resize(static_cast<std::size_t>(decimals), '0');
        std::string kept = integerDigits + fractionDigits;
        if (roundUp) {
            std::size_t i = kept.size();
            while (i > 0 && kept[i - 1] == '9')
                kept[--i] = '0';
            if (i == 0)
                kept.insert(0, 1, '1');
            else
                ++kept[i - 1];
        }
        const std::size_t integerCount = kept.size() - static_cast<std::size_t>(decimals);
        if (negative)
            body.push_back('-');
        body.append(kept, 0, integerCount);
        if (decimals > 0) {
            body.push_back('.');
            body.append(kept, integerCount, std::string::npos);
        }
    }
    if (static_cast<int>(body.size()) < minWidth)
        body.insert(0, static_cast<std::size_t>(minWidth) - body.size(), ' ');
    return body;
}
