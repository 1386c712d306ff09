// Random formulas for differential tests: the whole language with its odd corners (signs, ^ read
// once, odd numbers, case, long names and tokens, constants, every function with right and wrong
// argument counts, assignments and deletions, unbalanced parentheses, junk after the formula, texts
// around the length limit, many variables, zero divisors at some points, NaN and infinities).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace formulagen {

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng(seed) {}

    std::string next() {
        // Most formulas avoid the choices that fail everywhere, so that many reach the end of the
        // text; the rest take them freely.
        noisy = chance(40);
        std::string text;
        const int shape = pick(100);
        if (shape < 6)
            text = overlong();
        else if (shape < 10)
            text = manyVariables();
        else if (shape < 25)
            text = topAssignment();
        else
            text = expression(pick(4));
        if (pick(noisy ? 4 : 16) == 0)
            text += junk();
        if (noisy && pick(4) == 0)
            mutate(text);
        if (pick(12) == 0)
            text = blanks() + text + blanks();
        return text;
    }

private:
    int pick(int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    // A choice that can make the formula fail: taken only in noisy formulas.
    bool risk(int percent) { return noisy && chance(percent); }

    template <std::size_t N> const char* oneOf(const char* const (&items)[N]) {
        return items[pick(static_cast<int>(N))];
    }
    const char* oneOf(const char* const* items, int n) { return items[pick(n)]; }

    std::string blanks() {
        static const char* const kBlanks[] = {"", "", "", " ", "  ", "\t", " \t "};
        return oneOf(kBlanks);
    }

    std::string maybeUpper(std::string s) {
        if (chance(15)) {
            for (char& c : s) {
                if (c >= 'a' && c <= 'z' && chance(60))
                    c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return s;
    }

    std::string number() {
        // The first 25 read as numbers; the last two are longer than a token may be.
        static const char* const kNumbers[] = {
            "0",
            "1",
            "2",
            "3",
            "0.5",
            "2.5",
            "10",
            "1.2.3",
            ".",
            "5.",
            "007",
            "0.0",
            ".25",
            "0.01",
            "1e3",
            "100",
            "1..2",
            "3.14159",
            "0.1",
            "65536",
            "1e308",
            "0.000000000000000000001",
            "12345678901234567890",
            "9007199254740993",
            "0.30000000000000004",
            "4503599627370497.5",
            "1.00000000000000000000001",
            "0000000000000000000000000000001",   // 31 characters: the longest token
            "12345678901234567890123456789.5",   // 31 characters, through strtod
            "00000000000000000000000000000001",  // 32 characters
            "123456789012345678901234567890.5"}; // 32 characters
        if (!noisy && chance(70))
            return oneOf(kNumbers + 0, 29);
        if (chance(20)) {
            std::string digits;
            const int n = 1 + pick(18);
            for (int i = 0; i < n; ++i)
                digits += static_cast<char>(pick(11) == 10 ? '.' : '0' + pick(10));
            return digits;
        }
        return oneOf(kNumbers);
    }

    std::string name() {
        static const char* const kKnown[] = {"x", "x", "x", "x", "X", "pi", "PI", "e", "E", "pI"};
        if (!noisy)
            return oneOf(kKnown);
        static const char* const kNames[] = {"x",
                                             "x",
                                             "x",
                                             "X",
                                             "pi",
                                             "PI",
                                             "e",
                                             "E",
                                             "y",
                                             "a",
                                             "b",
                                             "foo",
                                             "xx",
                                             "x1",
                                             "_x",
                                             "pI",
                                             "abcdefghijklmnopq",
                                             "abcdefghijklmnoq",
                                             "xabcdefghijklmnop",
                                             "pi_is_a_long_constant_name_here_", // 32 characters: too long
                                             "sin",
                                             "tanh",
                                             "e1",
                                             "inf",
                                             "nan"};
        return oneOf(kNames);
    }

    std::string functionName(int* arguments) {
        static const char* const kOne[] = {"sin",  "cos",  "tan", "asin", "acos",  "atan", "sinh",
                                           "cosh", "tanh", "exp", "log",  "log10", "sqrt", "floor",
                                           "ceil", "abs",  "deg", "rad",  "sgn"};
        static const char* const kTwo[] = {"hypot", "min", "max"};
        static const char* const kUnknown[] = {"sinc", "log2", "pow", "atan2",
                                               "fmod", "f",    "x",   "abcdefghijklmnopqrs"};
        const int kind = pick(20);
        if (kind < 13 || (!noisy && kind == 19)) {
            *arguments = 1;
            return maybeUpper(oneOf(kOne));
        }
        if (kind < 19) {
            *arguments = 2;
            return maybeUpper(oneOf(kTwo));
        }
        *arguments = 1;
        return oneOf(kUnknown);
    }

    std::string primary(int depth) {
        const int kind = pick(depth > 0 ? 100 : 50);
        if (kind < 20)
            return number();
        if (kind < 50)
            return maybeUpper(name());
        if (kind < 75) {
            int arguments = 1;
            std::string call = functionName(&arguments) + blanks() + "(";
            if (risk(15))
                arguments += chance(50) ? 1 : -1;
            if (risk(5))
                arguments = 5;
            for (int i = 0; i < arguments; ++i) {
                if (i > 0)
                    call += ",";
                call += chance(8) ? inner(depth - 1) : expression(depth - 1);
            }
            if (!chance(5))
                call += ")";
            else if (!noisy)
                call += " 1"; // stands for the closing parenthesis
            return call;
        }
        if (kind < 78 && noisy)
            return chance(50) ? "()" : "(" + blanks() + ")";
        std::string inside = chance(12) ? inner(depth - 1) : expression(depth - 1);
        return "(" + inside + (risk(10) ? "" : ")");
    }

    // An assignment or deletion where an expression may stand inside parentheses or an argument.
    std::string inner(int depth) {
        static const char* const kTargets[] = {"a", "b", "x", "X", "pi", "e", "t", "aVeryLongNameIndeed"};
        std::string target = oneOf(kTargets);
        if (chance(15))
            return target + "=";
        return target + blanks() + "=" + blanks() + expression(depth < 0 ? 0 : depth);
    }

    std::string power(int depth) {
        static const char* const kSigns[] = {"", "", "", "", "-", "+", "--", "-+"};
        const int signs = noisy ? 8 : 6;
        std::string s = kSigns[pick(signs)] + blanks() + primary(depth);
        if (chance(15)) {
            s += std::string("^") + kSigns[pick(signs)] + primary(depth);
            if (chance(20))
                s += "^" + primary(depth);
        }
        return s;
    }

    std::string product(int depth) {
        static const char* const kOps[] = {"*", "*", "/", "/", "%"};
        std::string s = power(depth);
        const int more = depth > 0 ? pick(3) : pick(2);
        for (int i = 0; i < more; ++i)
            s += blanks() + oneOf(kOps) + blanks() + power(depth);
        return s;
    }

    std::string expression(int depth) {
        if (chance(10))
            return special();
        static const char* const kOps[] = {"+", "-"};
        std::string s = product(depth);
        const int more = depth > 0 ? pick(3) : pick(2);
        for (int i = 0; i < more; ++i)
            s += blanks() + oneOf(kOps) + blanks() + product(depth);
        return s;
    }

    // Pieces that reach zero divisors at some points, NaN, infinities and signed zeros.
    std::string special() {
        static const char* const kSpecial[] = {"1/x",
                                               "x%x",
                                               "1/(x-x)",
                                               "2/floor(x)",
                                               "1/(x*0)",
                                               "x/(0/0)",
                                               "x%sqrt(-1)",
                                               "1/sqrt(x)",
                                               "1/log(x+5)",
                                               "min(sqrt(x),1)",
                                               "max(1,sqrt(x))",
                                               "sgn(log(x))",
                                               "min(0/1,-0)",
                                               "max(-0,0)",
                                               "sgn(-0)",
                                               "-0",
                                               "-x*0",
                                               "1/(-0*x)",
                                               "exp(x*200)",
                                               "10^400",
                                               "-10^400*x",
                                               "log(0*x)",
                                               "x^-1",
                                               "0^x",
                                               "(-8)^(1/3)",
                                               "x^0.5",
                                               "tanh(3*x)/tanh(3)*5",
                                               "5*sin(x*pi/7)",
                                               "x%0.3",
                                               "x%(x-1)",
                                               "hypot(x,1e308)",
                                               "1/floor(x/2)",
                                               "x/(1-1)",
                                               "0/0",
                                               "x%0",
                                               "cosh(x*300)",
                                               "1/(x+0.01953125)",
                                               "1/ceil(x)",
                                               "abs(-0)*x",
                                               "deg(x)",
                                               "rad(x)*e",
                                               "floor(x*2)/2"};
        return oneOf(kSpecial);
    }

    std::string topAssignment() {
        if (chance(10))
            return "x=";
        return inner(2);
    }

    std::string junk() {
        static const char* const kJunk[] = {")",      " 3",   "$",        "=", ",x", "\x80", "#",
                                            ")(a=1)", " x=2", "\xc3\xa9", "(", ";",  "2^3",  " sin(x)"};
        return oneOf(kJunk);
    }

    void mutate(std::string& text) {
        static const char kChars[] = "x+-*/%^(),=.0123456789 aepiXsin\t$";
        const int edits = 1 + pick(3);
        for (int i = 0; i < edits && !text.empty(); ++i) {
            const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(text.size())));
            switch (pick(3)) {
            case 0:
                text.erase(at, 1);
                break;
            case 1:
                text.insert(at, 1, kChars[pick(static_cast<int>(sizeof(kChars) - 1))]);
                break;
            default:
                text[at] = kChars[pick(static_cast<int>(sizeof(kChars) - 1))];
                break;
            }
        }
    }

    // Texts at and around the 499-character limit, or tokens around the 31-character limit.
    std::string overlong() {
        static const char* const kTerms[] = {"+0.01*x*x*x", "+tanh(x)", "+sin(x)", "+x", "*1"};
        const char* term = oneOf(kTerms);
        const std::size_t target = 495 + static_cast<std::size_t>(pick(8)); // 495 .. 502
        std::string s = "x";
        while (s.size() + std::string(term).size() <= target)
            s += term;
        while (s.size() < target)
            s += chance(50) ? " " : "+0";
        if (s.size() > target)
            s.resize(target);
        return s;
    }

    // Assignments to more names than the evaluator has records for.
    std::string manyVariables() {
        std::string s;
        const int count = 40 + pick(20);
        for (int i = 0; i < count && s.size() < 480; ++i) {
            if (i > 0)
                s += "+";
            s += "(v" + std::to_string(i) + "=x)";
        }
        return s;
    }

    std::mt19937_64 rng;
    bool noisy = false;
};

} // namespace formulagen
