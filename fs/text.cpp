#include "text.h"

#include <clocale>
#include <cstdint>
#include <cstring>

#if !defined(_WIN32)
#include <langinfo.h>
#endif

namespace imgpry::fs {

namespace {

constexpr uint16_t kShiftJis[] = {
#include "shift_jis_table.inc"
};
constexpr uint32_t kTrails = 0xFC - 0x40 + 1;
constexpr uint32_t kReplacement = 0xFFFD;

// The row of lead byte b in the table, or -1 when b leads no character.
int leadRow(uint8_t b) {
    if (b >= 0x81 && b <= 0x9F) return b - 0x81;
    if (b >= 0xE0 && b <= 0xFC) return b - 0xE0 + (0x9F - 0x81 + 1);
    return -1;
}

// Writes code point cp (below 0x10000) as UTF-8 when it fits before end.
void put(uint32_t cp, char*& o, const char* end) {
    const int len = cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
    if (end - o <= len) return;
    if (len == 1) {
        *o++ = static_cast<char>(cp);
    } else if (len == 2) {
        *o++ = static_cast<char>(0xC0U | (cp >> 6U));
        *o++ = static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
        *o++ = static_cast<char>(0xE0U | (cp >> 12U));
        *o++ = static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        *o++ = static_cast<char>(0x80U | (cp & 0x3FU));
    }
}

// The length of the UTF-8 sequence lead starts; 0 when it starts none.
int utf8Length(uint8_t lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0U) == 0xC0U && lead >= 0xC2) return 2;
    if ((lead & 0xF0U) == 0xE0U) return 3;
    if ((lead & 0xF8U) == 0xF0U && lead <= 0xF4) return 4;
    return 0;
}

// Whether a terminal gives code point cp two columns: the East Asian wide
// and full-width blocks (kana, ideographs, full-width forms); half-width
// katakana and everything else take one.
bool isWide(uint32_t cp) {
    constexpr uint32_t kWide[][2] = {{0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                                     {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                                     {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}};
    for (const auto& range : kWide) {
        if (cp >= range[0] && cp <= range[1]) return true;
    }
    return false;
}

}  // namespace

const char* shiftJisToUtf8(const char* bytes, char* out, size_t size) {
    if (size == 0) return out;
    char* o = out;
    const char* end = out + size;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    // Each round takes one or two bytes.
    while (*p != 0) {
        const uint8_t b = *p;
        const int row = leadRow(b);
        if (b < 0x80) {
            put(b, o, end);
            ++p;
        } else if (b >= 0xA1 && b <= 0xDF) {
            put(0xFF61U + (b - 0xA1U), o, end);
            ++p;
        } else if (row >= 0 && p[1] >= 0x40 && p[1] <= 0xFC &&
                   kShiftJis[static_cast<uint32_t>(row) * kTrails + (p[1] - 0x40U)] != 0) {
            put(kShiftJis[static_cast<uint32_t>(row) * kTrails + (p[1] - 0x40U)], o, end);
            p += 2;
        } else {
            put(kReplacement, o, end);
            ++p;
        }
    }
    *o = '\0';
    return out;
}

bool decodesToItself(const char* bytes, size_t& length) {
    bool ascii = true;
    length = 0;
    for (; bytes[length] != '\0'; ++length) ascii = ascii && static_cast<unsigned char>(bytes[length]) < 0x80;
    return ascii;
}

bool shiftJisToUtf8Whole(const char* bytes, char* out, size_t size) {
    if (size == 0) return false;
    char* o = out;
    const char* end = out + size;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    bool whole = true;
    while (*p != 0 && whole) {
        const uint8_t b = *p;
        if (b < 0x80) {  // ASCII, most of most names: one byte as it is
            if (end - o <= 1) {
                whole = false;
                break;
            }
            *o++ = static_cast<char>(b);
            ++p;
            continue;
        }
        const int row = leadRow(b);
        uint32_t cp = 0;
        if (b >= 0xA1 && b <= 0xDF) {
            cp = 0xFF61U + (b - 0xA1U);
            ++p;
        } else if (row >= 0 && p[1] >= 0x40 && p[1] <= 0xFC &&
                   kShiftJis[static_cast<uint32_t>(row) * kTrails + (p[1] - 0x40U)] != 0) {
            cp = kShiftJis[static_cast<uint32_t>(row) * kTrails + (p[1] - 0x40U)];
            p += 2;
        } else {
            whole = false;
            break;
        }
        const int len = cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
        if (end - o <= len) {
            whole = false;
            break;
        }
        put(cp, o, end);
    }
    if (whole) {
        *o = '\0';
        return true;
    }
    const size_t length = std::strlen(bytes);
    const size_t take = length < size - 1 ? length : size - 1;
    std::memcpy(out, bytes, take);
    out[take] = '\0';
    return false;
}

int32_t displayColumns(const char* utf8) {
    int32_t columns = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(utf8);
    while (*p != 0) {
        if (*p < 0x80) {  // ASCII: one column
            ++columns;
            ++p;
            continue;
        }
        const int len = utf8Length(*p);
        uint32_t cp = *p;
        int taken = 1;
        if (len > 1) {
            bool ok = true;
            for (int i = 1; ok && i < len; ++i) ok = (p[i] & 0xC0U) == 0x80U;
            if (ok) {
                cp = *p & (0x7FU >> static_cast<unsigned>(len));
                for (int i = 1; i < len; ++i) cp = (cp << 6U) | (p[i] & 0x3FU);
                taken = len;
            }
        }
        p += taken;
        columns += isWide(cp) ? 2 : 1;
    }
    return columns;
}

bool localeIsUtf8() {
#if defined(_WIN32)
    return false;
#else
    if (std::setlocale(LC_CTYPE, "") == nullptr) return false;
    const char* set = nl_langinfo(CODESET);
    if (set == nullptr) return false;
    return std::strcmp(set, "UTF-8") == 0 || std::strcmp(set, "utf8") == 0 || std::strcmp(set, "utf-8") == 0;
#endif
}

const char* utf8OrReplacement(const char* bytes, char* out, size_t size) {
    if (size == 0) return out;
    char* o = out;
    const char* end = out + size;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    while (*p != 0) {
        const int len = utf8Length(*p);
        bool ok = len > 0;
        for (int i = 1; ok && i < len; ++i) ok = (p[i] & 0xC0U) == 0x80U;
        if (ok && end - o > len) {
            for (int i = 0; i < len; ++i) *o++ = static_cast<char>(p[i]);
            p += len;
        } else {
            put(kReplacement, o, end);
            ++p;
        }
    }
    *o = '\0';
    return out;
}

}  // namespace imgpry::fs
