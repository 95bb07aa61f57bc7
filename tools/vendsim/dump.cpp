#include "dump.h"

#include <cstdio>

std::string hex_bytes(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 0x0f];
    }
    return s;
}

static void append_escaped(std::string &s, uint8_t b)
{
    switch (b) {
    case '\r':
        s += "\\r";
        return;
    case '\n':
        s += "\\n";
        return;
    case '\t':
        s += "\\t";
        return;
    case '\\':
        s += "\\\\";
        return;
    case '|':
        s += "\\|";
        return;
    }
    if (b >= 0x20 && b < 0x7f) {
        s += static_cast<char>(b);
        return;
    }
    char code[5];
    snprintf(code, sizeof code, "\\x%02x", b);
    s += code;
}

std::string dump_bytes(const uint8_t *p, size_t n)
{
    std::string s = hex_bytes(p, n) + "  |";
    for (size_t i = 0; i < n; ++i)
        append_escaped(s, p[i]);
    return s + "|";
}
