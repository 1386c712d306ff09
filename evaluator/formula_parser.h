// The formula language's one scanner and one grammar. The parser reads a text token by token and
// hands what it recognises to a builder, which decides what it becomes: the evaluator computes values
// as the parser goes, the compiled formula builds a folded, shared expression graph. Both therefore
// read every text alike, stop at the same token and meet the same syntax errors.
//
// Grammar (one token of look-ahead, plus the next character to tell a call and an assignment):
//   assignment := name "=" [sum] | sum        (name "=" with nothing after it deletes the name)
//   sum        := product { ("+" | "-") product }
//   product    := power { ("*" | "/" | "%") power }
//   power      := [sign] primary [ "^" [sign] primary ]   (the sign binds tighter; one "^" at most)
//   primary    := "(" assignment ")" | number | name | name "(" assignment { "," assignment } close
// A call reads up to four arguments; the token after the last one stands for its ")" and is not
// examined. The first token that cannot continue the expression ends it; the rest of the text is not
// read.
#pragma once

#include <cstddef>
#include <cstring>

#include "evaluator/formula_chars.h"
#include "evaluator/formula_language.h"
#include "evaluator/formula_limits.h"

namespace formula {

// Splits a NUL-terminated text into tokens: numbers (runs of digits and dots), names (lowered, cut
// and padded), the delimiters + - * / % ^ ( ) , = and the end. Blanks (space, tab) separate tokens;
// any other character is a syntax error where the scanner meets it.
class Scanner {
public:
    enum TokenType : unsigned char { kTokenNone, kTokenIdentifier, kTokenDelimiter, kTokenNumber };

    explicit Scanner(const char* text) : text(text), pos(text) {}

    // Reads one token and leaves the scanner on the next significant character, which the grammar
    // uses to look ahead for "(" (a call) and "=" (an assignment). Most tokens are one delimiter
    // character with the scanner already on it, so that case is handled before the general scanner.
    EvaluatorError next() {
        const char c = *pos;
        if (formula_chars::kindOf(c) & formula_chars::kCharDelimiter) {
            type = kTokenDelimiter;
            delimiter = c;
            tokenStart = pos;
            const char* p = pos + 1;
            while (formula_chars::kindOf(*p) & formula_chars::kCharBlank)
                ++p;
            pos = p;
            return kErrorNone;
        }
        return scan();
    }

    // The current token is that delimiter character (delimiter is NUL for every other token).
    bool isDelimiter(char c) const { return delimiter == c; }
    // The first significant character after the current token.
    char following() const { return *pos; }
    // Where the current token starts, counted in characters from the start of the text (the text's
    // length for the end).
    std::size_t tokenOffset() const { return static_cast<std::size_t>(tokenStart - text); }

    TokenType type = kTokenNone;
    char delimiter = '\0';
    // A number token: its digits and dots within the text.
    const char* numberStart = nullptr;
    std::size_t numberLength = 0;
    // A name token, lowered, cut to kMaxNameLength and padded.
    char name[kNameSize] = {};

private:
    EvaluatorError scan() {
        using namespace formula_chars;
        const char* p = pos;
        while (kindOf(*p) & kCharBlank)
            ++p;
        const char c = *p;
        const unsigned char kind = kindOf(c);
        tokenStart = p;
        delimiter = '\0';
        if (c == '\0') {
            // pos stays on the terminator, so every further read is the end again
            type = kTokenNone;
            pos = p;
            return kErrorNone;
        }
        if (kind & kCharDelimiter) {
            type = kTokenDelimiter;
            delimiter = c;
            ++p;
        } else if (kind & kCharNumber) {
            type = kTokenNumber;
            const char* start = p;
            while (kindOf(*p) & kCharNumber)
                ++p;
            numberStart = start;
            numberLength = static_cast<std::size_t>(p - start);
            if (numberLength > kMaxTokenLength)
                return kErrorTooLong;
        } else if (kind & kCharNameStart) {
            type = kTokenIdentifier;
            const char* start = p;
            while (kindOf(*p) & kCharName)
                ++p;
            const std::size_t length = static_cast<std::size_t>(p - start);
            if (length > kMaxTokenLength)
                return kErrorTooLong;
            // Only the first 15 characters are kept; the rest of the run is consumed.
            const std::size_t kept = length < kMaxNameLength ? length : kMaxNameLength;
            std::memset(name, 0, sizeof(name));
            for (std::size_t n = 0; n < kept; ++n)
                name[n] = lowerAscii(start[n]);
        } else {
            pos = p + 1;
            return kErrorSyntax;
        }
        while (kindOf(*p) & kCharBlank)
            ++p;
        pos = p;
        return kErrorNone;
    }

    const char* text;
    // The next unread character.
    const char* pos;
    const char* tokenStart = text;
};

// The recursive-descent parser, parameterised by what it builds. A Builder provides:
//   using Value = ...;                                  what a subexpression becomes
//   bool number(double value, Value* out);              a number token's value
//   bool name(const char* name, Value* out);            a name that is not called (padded form)
//   bool unary(Op op, Value a, Value* out);             kOpNeg
//   bool binary(Op op, Value a, Value b, Value* out);   + - * / % ^
//   bool call(const Function& function, const Value* args, Value* out);
//   bool beginAssignment();                             an assignment starts; false declines it
//   bool assign(const char* name, Value value);         name = value
//   void remove(const char* name);                      name = (nothing)
//   void fail(EvaluatorError code);                     the parser's own errors
// An operation that returns false has recorded why; the parse then ends at once, with nothing more
// read or built. The parser's own errors reach the builder through fail, once.
template <typename Builder> class Parser {
public:
    using Value = typename Builder::Value;

    Parser(const char* text, Builder& builder) : scanner(text), builder(builder) {}

    // Parses the whole expression into *value (left alone where nothing is computed, as for a
    // deletion). *isAssignment tells whether the expression is an assignment or a deletion. False
    // after an error.
    bool parse(Value* value, bool* isAssignment) {
        if (!next())
            return false;
        if (scanner.type == Scanner::kTokenNone)
            return fail(kErrorEmptyExpression);
        return parseAssignment(value, isAssignment);
    }

    // Where reading stopped: after a successful parse, the offset of the first token that does not
    // belong to the expression (the text's length when the whole text does); after an error, the
    // offset of the token at which it was found.
    std::size_t stoppedAt() const { return scanner.tokenOffset(); }

private:
    bool fail(EvaluatorError code) {
        builder.fail(code);
        return false;
    }

    bool next() {
        const EvaluatorError code = scanner.next();
        if (code != kErrorNone)
            return fail(code);
        return true;
    }

    bool isDelimiter(char c) const { return scanner.isDelimiter(c); }

    // Reads past an optional + or -; *negative tells whether it was -.
    bool takeSign(bool* negative) {
        if (isDelimiter('+') || isDelimiter('-')) {
            *negative = scanner.delimiter == '-';
            return next();
        }
        *negative = false;
        return true;
    }

    // assignment: name = sum | name = (nothing) | sum. The right-hand side is a sum, so in a = b = 3
    // the text from the second "=" on ends the expression.
    bool parseAssignment(Value* value, bool* isAssignment) {
        if (scanner.type == Scanner::kTokenIdentifier && scanner.following() == '=') {
            if (!builder.beginAssignment())
                return false;
            char name[kNameSize];
            std::memcpy(name, scanner.name, sizeof(name));
            if (!next() || !next()) // the "=", then the first token of the right-hand side
                return false;
            if (scanner.type == Scanner::kTokenNone) {
                builder.remove(name);
            } else {
                if (!parseSum(value) || !builder.assign(name, *value))
                    return false;
            }
            *isAssignment = true;
            return true;
        }
        *isAssignment = false;
        return parseSum(value);
    }

    bool parseSum(Value* value) {
        if (!parseProduct(value))
            return false;
        while (isDelimiter('+') || isDelimiter('-')) {
            const Op op = scanner.delimiter == '+' ? kOpAdd : kOpSub;
            Value operand{};
            if (!next() || !parseProduct(&operand) || !builder.binary(op, *value, operand, value))
                return false;
        }
        return true;
    }

    bool parseProduct(Value* value) {
        if (!parsePower(value))
            return false;
        while (isDelimiter('*') || isDelimiter('/') || isDelimiter('%')) {
            const Op op = scanner.delimiter == '*' ? kOpMul : scanner.delimiter == '/' ? kOpDiv : kOpMod;
            Value operand{};
            if (!next() || !parsePower(&operand) || !builder.binary(op, *value, operand, value))
                return false;
        }
        return true;
    }

    // [sign] primary [^ [sign] primary]
    bool parsePower(Value* value) {
        bool negative = false;
        if (!takeSign(&negative) || !parsePrimary(value))
            return false;
        if (negative && !builder.unary(kOpNeg, *value, value))
            return false;
        if (isDelimiter('^')) {
            bool negativeExponent = false;
            Value exponent{};
            if (!next() || !takeSign(&negativeExponent) || !parsePrimary(&exponent))
                return false;
            if (negativeExponent && !builder.unary(kOpNeg, exponent, &exponent))
                return false;
            return builder.binary(kOpPow, *value, exponent, value);
        }
        return true;
    }

    bool parsePrimary(Value* value) {
        if (isDelimiter('(')) {
            if (!next())
                return false;
            if (isDelimiter(')'))
                return fail(kErrorMissingValue);
            bool isAssignment = false;
            if (!parseAssignment(value, &isAssignment))
                return false;
            if (!isDelimiter(')'))
                return fail(kErrorUnbalancedParentheses);
            return next();
        }
        if (scanner.type == Scanner::kTokenNumber) {
            if (!builder.number(readNumberToken(scanner.numberStart, scanner.numberLength), value))
                return false;
            return next();
        }
        if (scanner.type == Scanner::kTokenIdentifier) {
            if (scanner.following() == '(')
                return parseCall(value);
            if (!builder.name(scanner.name, value))
                return false;
            return next();
        }
        return fail(kErrorSyntax);
    }

    // name ( E , ... ): the current token is the name and "(" is the next character.
    bool parseCall(Value* value) {
        const Function* function = findFunction(scanner.name);
        if (function == nullptr)
            return fail(kErrorUnknownFunction);
        if (!next()) // the "("
            return false;
        Value args[kMaxArguments] = {};
        int count = 0;
        do {
            if (!next())
                return false;
            if (isDelimiter(')') || isDelimiter(','))
                return fail(kErrorMissingValue);
            bool isAssignment = false;
            if (!parseAssignment(&args[count], &isAssignment))
                return false;
            ++count;
        } while (count < kMaxArguments && isDelimiter(','));
        // This token stands for the closing ")"; its text is not examined.
        if (!next())
            return false;
        if (count != function->argumentCount)
            return fail(kErrorWrongArgumentCount);
        return builder.call(*function, args, value);
    }

    Scanner scanner;
    Builder& builder;
};

} // namespace formula
