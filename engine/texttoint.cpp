#include "engine/texttoint.h"

namespace tavoxa {
namespace {

int DigitValue(char c, unsigned base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct Scan {
    size_t firstDigit = 0;  // position where the digits must start
    unsigned base = 10;
    bool negative = false;
};

Scan ScanPrefix(std::string_view text)
{
    Scan s;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        s.negative = text[i] == '-';
        ++i;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        s.base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        s.base = 16;
        i += 2;
    }
    s.firstDigit = i;
    return s;
}

}  // namespace

int32_t TextToInt(std::string_view text)
{
    const Scan s = ScanPrefix(text);
    const uint32_t limit = s.base == 10 ? 214748364u : 0x0FFFFFFFu;
    // 32-bit arithmetic: the last digit may wrap, so stored files with such numbers read back as
    // they were written.
    uint32_t value = 0;
    size_t i = s.firstDigit;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], s.base);
        if (d < 0 || value > limit)
            break;
        value = value * s.base + static_cast<uint32_t>(d);
    }
    if (i == s.firstDigit)
        return 0;
    if (i == text.size() && s.negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

bool TextHasNumber(std::string_view text)
{
    const Scan s = ScanPrefix(text);
    return s.firstDigit < text.size() && DigitValue(text[s.firstDigit], s.base) >= 0;
}

}  // namespace tavoxa
