// Fuzzes TextToInt and TextHasNumber against a reference written separately here.
//
// The reference reads the digits in 64-bit arithmetic, so nothing can overflow in it, and only
// then cuts the value to the 32 bits the conversion works in. Any difference, and any undefined
// behaviour inside the conversion itself (the sanitizers watch it), aborts the run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/texttoint.h"

namespace {

struct Reference {
    int32_t value = 0;
    bool hasNumber = false;
};

int ReferenceDigit(char c, int base)
{
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'z')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// Value of the low 32 bits as a signed number, spelled out so the reference relies on no
// implementation-defined conversion.
int32_t Low32(int64_t v)
{
    const int64_t low = v & 0xFFFFFFFFll;
    return static_cast<int32_t>(low >= 0x80000000ll ? low - 0x100000000ll : low);
}

Reference ReferenceTextToInt(std::string_view t)
{
    size_t i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    bool minus = false;
    int base = 10;
    if (t.substr(i, 1) == "-" || t.substr(i, 1) == "+") {
        minus = t[i] == '-';
        i += 1;
    } else if (t.substr(i, 1) == "$" || t.substr(i, 1) == "x" || t.substr(i, 1) == "X") {
        base = 16;
        i += 1;
    } else if (t.substr(i, 2) == "0x" || t.substr(i, 2) == "0X") {
        base = 16;
        i += 2;
    }
    const int64_t stopAbove = base == 10 ? 214748364 : 0x0FFFFFFF;
    Reference r;
    if (i >= t.size() || ReferenceDigit(t[i], base) < 0)
        return r;
    r.hasNumber = true;
    int64_t value = 0;
    size_t read = i;
    while (read < t.size()) {
        const int d = ReferenceDigit(t[read], base);
        if (d < 0 || value > stopAbove)
            break;
        value = value * base + d;  // at most 0xFFFFFFFF: no overflow in 64 bits
        ++read;
    }
    const bool wholeText = read == t.size();
    r.value = Low32(wholeText && minus ? -value : value);
    return r;
}

[[noreturn]] void Fail(const char* what, std::string_view text, int64_t got, int64_t expected)
{
    std::fprintf(stderr, "%s: text of %zu bytes \"", what, text.size());
    for (char c : text)
        std::fprintf(stderr, (c >= 32 && c < 127) ? "%c" : "\\x%02x", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\" gave %lld, expected %lld\n", static_cast<long long>(got),
                 static_cast<long long>(expected));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Reference expected = ReferenceTextToInt(text);

    const int32_t got = tavoxa::TextToInt(text);
    if (got != expected.value)
        Fail("TextToInt", text, got, expected.value);
    const bool has = tavoxa::TextHasNumber(text);
    if (has != expected.hasNumber)
        Fail("TextHasNumber", text, has, expected.hasNumber);
    // The remote relies on this: a text without a number is never a value other than 0.
    if (!has && got != 0)
        Fail("TextToInt without a number", text, got, 0);
    return 0;
}
