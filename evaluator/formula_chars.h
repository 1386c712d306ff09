// The formula language's characters as its scanners see them: what each byte can start or continue,
// and lower case for A to Z only. Shared by the evaluator and the compiled formula, which must read
// every text alike.
#pragma once

namespace formula_chars {

// What a character can be to the scanner, as bit flags per byte value.
enum : unsigned char {
    kCharBlank = 1,     // space and tab, skipped between tokens
    kCharDelimiter = 2, // + - * / % ^ ( ) , =
    kCharNumber = 4,    // digits and the dot: a number token's run
    kCharNameStart = 8, // letters (either case) and "_"
    kCharName = 16,     // letters, digits and "_": an identifier's run
};

struct CharTables {
    unsigned char kind[256];
    // Only A to Z change, whatever the process locale says about other bytes.
    char lower[256];
};

constexpr CharTables makeCharTables() {
    CharTables t{};
    for (int c = 0; c < 256; ++c) {
        t.kind[c] = 0;
        t.lower[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    t.kind[static_cast<unsigned char>(' ')] = kCharBlank;
    t.kind[static_cast<unsigned char>('\t')] = kCharBlank;
    const char delimiters[] = "+-*/%^(),=";
    for (int i = 0; delimiters[i] != '\0'; ++i)
        t.kind[static_cast<unsigned char>(delimiters[i])] = kCharDelimiter;
    for (int c = '0'; c <= '9'; ++c)
        t.kind[c] = kCharNumber | kCharName;
    t.kind[static_cast<unsigned char>('.')] = kCharNumber;
    for (int c = 'a'; c <= 'z'; ++c) {
        t.kind[c] = kCharNameStart | kCharName;
        t.kind[c - 'a' + 'A'] = kCharNameStart | kCharName;
    }
    t.kind[static_cast<unsigned char>('_')] = kCharNameStart | kCharName;
    return t;
}

inline constexpr CharTables kChars = makeCharTables();

inline unsigned char kindOf(char c) {
    return kChars.kind[static_cast<unsigned char>(c)];
}
inline char lowerAscii(char c) {
    return kChars.lower[static_cast<unsigned char>(c)];
}

} // namespace formula_chars
