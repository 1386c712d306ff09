// Pin text on the wire: UTF-16 code units without terminator, byte count = 2 x length, on every
// platform. Identifiers and style names stay zero-terminated wchar_t strings as the platform
// defines them; pin text never travels as wchar_t, whose width differs between platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

using PinText = std::u16string;

// Reads byteSize / 2 code units (an odd last byte is dropped), zeros included, from unaligned bytes.
inline PinText pinTextFromBytes(const void* data, std::size_t byteSize) {
    const std::size_t count = byteSize / 2;
    PinText text(count, u'\0');
    if (count > 0 && data != nullptr)
        std::memcpy(&text[0], data, count * 2);
    return text;
}

inline int32_t pinTextByteSize(const PinText& text) {
    return static_cast<int32_t>(text.size() * 2);
}

// Widens ASCII-only literals and converts between the platform's wide strings and pin text by
// code units (UTF-16 on Windows, UTF-32 on Linux: characters outside the BMP become pairs).
PinText pinTextFromWide(const std::wstring& wide);
std::wstring wideFromPinText(const PinText& text);

// UTF-8 form of the text up to its first NUL; unpaired surrogates become U+FFFD.
std::string utf8FromPinText(const PinText& text);
// The same into a caller's buffer, without allocating: writes the whole characters that fit in
// capacity - 1 bytes and a terminator, and returns the length of the whole UTF-8 form.
std::size_t utf8FromPinText(const PinText& text, char* out, std::size_t capacity);
// UTF-16 form of UTF-8 bytes; malformed sequences become U+FFFD.
PinText pinTextFromUtf8(const std::string& utf8);
