#include "factory/pin_text.h"

namespace {

std::size_t encodeUtf8(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

void appendUtf16(PinText& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

} // namespace

PinText pinTextFromWide(const std::wstring& wide) {
    PinText text;
    text.reserve(wide.size());
    for (wchar_t c : wide) {
        const uint32_t cp = static_cast<uint32_t>(c);
        appendUtf16(text, cp > 0x10FFFF ? kReplacement : cp);
    }
    return text;
}

std::wstring wideFromPinText(const PinText& text) {
    std::wstring wide;
    wide.reserve(text.size());
    if (sizeof(wchar_t) == 2) {
        for (char16_t c : text)
            wide += static_cast<wchar_t>(c);
        return wide;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        wide += static_cast<wchar_t>(cp);
    }
    return wide;
}

std::size_t utf8FromPinText(const PinText& text, char* out, std::size_t capacity) {
    std::size_t length = 0;
    std::size_t written = 0;
    bool full = capacity == 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp < 0xDC00) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        } else if (cp >= 0xDC00 && cp < 0xE000) {
            cp = kReplacement;
        }
        char bytes[4];
        const std::size_t n = encodeUtf8(cp, bytes);
        length += n;
        if (!full && written + n < capacity) {
            std::memcpy(out + written, bytes, n);
            written += n;
        } else {
            full = true;
        }
    }
    if (capacity > 0)
        out[written] = '\0';
    return length;
}

std::string utf8FromPinText(const PinText& text) {
    // One pass to learn the length, a buffer of that length plus one, a second pass to convert.
    const std::size_t length = utf8FromPinText(text, nullptr, 0);
    std::string out(length + 1, '\0');
    utf8FromPinText(text, &out[0], out.size());
    out.resize(length);
    return out;
}

PinText pinTextFromUtf8(const std::string& utf8) {
    PinText out;
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
            min = 0x10000;
        } else {
            appendUtf16(out, kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            appendUtf16(out, kReplacement);
            i = ok ? j : i + 1;
            continue;
        }
        appendUtf16(out, cp);
        i = j;
    }
    return out;
}
