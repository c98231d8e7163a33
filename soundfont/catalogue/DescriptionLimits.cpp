// The description limits: how deep elements nest and how many there are,
// measured on the text before rapidxml reads it.

#include "catalogue/Description.h"

#include <ox/utils/cpu.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace ox::soundfont::description {

namespace {

// rapidxml parses an element's content by recursion, one level per element,
// so nesting has to be measured before it runs; and it allocates a node of
// about a hundred bytes for an element that may take four, so elements are
// counted too. These follow rapidxml's own
// grammar with the default flags, so that the depth counted here is the depth
// the parser would reach; where the two could part, the parser has already met
// a fault of its own and stops there.

// rapidxml's character classes: blanks; name characters (anything but a
// blank, '/', '>', '?' and the terminator); attribute name characters (name
// characters but '<', '=' and '!').
enum : unsigned char { kBlank = 1, kName = 2, kAttributeName = 4 };

constexpr std::array<unsigned char, 256> kClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 1; c < 256; ++c) {
        const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        const bool name = !blank && c != '/' && c != '>' && c != '?';
        const bool attribute = name && c != '<' && c != '=' && c != '!';
        classes[size_t(c)] =
            (blank ? kBlank : 0) | (name ? kName : 0) | (attribute ? kAttributeName : 0);
    }
    return classes;
}();

bool is(char c, unsigned char kind) {
    return kClasses[static_cast<unsigned char>(c)] & kind;
}

bool isBlank(char c) {
    return is(c, kBlank);
}

const char* skip(const char* p, unsigned char kind) {
    while (is(*p, kind)) {
        ++p;
    }
    return p;
}

const char* skipBlanks(const char* p) {
    return skip(p, kBlank);
}

// The next `c` before `end` (the terminator), or null. Most of a description's
// bytes are attribute values and the indentation between tags, crossed here:
// sixteen bytes at a time with SSE2, else eight, inline, as a call per short
// run costs more than the run. Text before `end` holds no terminator, so only `c` is looked for.
const char* find(const char* p, const char* end, char c) {
#ifdef __SSE2__
    const __m128i pattern = _mm_set1_epi8(c);
    for (; end - p >= 16; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(x, pattern))) {
            return p + std::countr_zero(unsigned(found));
        }
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101u;
        constexpr uint64_t kHighs = 0x8080808080808080u;
        const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
        for (; end - p >= 8; p += 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            const uint64_t x = word ^ pattern; // a zero byte where `c` stands
            // The lowest flagged byte is exact; false flags only lie above a true one.
            const uint64_t found = (x - kOnes) & ~x & kHighs;
            if (found) {
                return p + std::countr_zero(found) / 8;
            }
        }
    }
    for (; p < end; ++p) {
        if (*p == c) {
            return p;
        }
    }
    return nullptr;
}

// Past the next `end`, or null when the text ends first.
const char* skipPast(const char* p, const char* end) {
    const char* found = std::strstr(p, end);
    return found ? found + std::strlen(end) : nullptr;
}

// From after "<!DOCTYPE ": past its '>', skipping bracketed internal subsets.
const char* skipDoctype(const char* p) {
    while (*p != '>') {
        if (*p == '\0') {
            return nullptr;
        }
        if (*p++ == '[') {
            for (int depth = 1; depth > 0; ++p) {
                if (*p == '\0') {
                    return nullptr;
                }
                depth += (*p == '[') - (*p == ']');
            }
        }
    }
    return p + 1;
}

// From after "<" of anything but an element or a closing tag: past its end.
const char* skipMarkup(const char* p) {
    if (*p == '?') {
        return skipPast(p + 1, "?>");
    }
    if (std::strncmp(p, "!--", 3) == 0) {
        return skipPast(p + 3, "-->");
    }
    if (std::strncmp(p, "![CDATA[", 8) == 0) {
        return skipPast(p + 8, "]]>");
    }
    if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isBlank(p[8])) {
        return skipDoctype(p + 9);
    }
    return skipPast(p + 1, ">");
}

// From after the "<" of a start tag: past its attributes, at its '>' or "/>";
// null when the tag is malformed.
const char* skipStartTag(const char* p, const char* end) {
    const char* name = p;
    p = skip(p, kName);
    if (p == name) {
        return nullptr;
    }
    p = skipBlanks(p);
    while (is(*p, kAttributeName)) {
        p = skipBlanks(skip(p, kAttributeName));
        if (*p != '=') {
            return nullptr;
        }
        p = skipBlanks(p + 1);
        if (*p != '"' && *p != '\'') {
            return nullptr;
        }
        p = find(p + 1, end, *p);
        if (!p) {
            return nullptr;
        }
        p = skipBlanks(p + 1);
    }
    return p;
}

#ifndef __SSE2__
// The next '>', '"' or '\'' before `end`, or null.
const char* findTagMark(const char* p, const char* end) {
    for (; p < end; ++p) {
        if (*p == '>' || *p == '"' || *p == '\'') {
            return p;
        }
    }
    return nullptr;
}
#endif

// skipStartTag() without reading attribute names byte by byte. A quote
// right after '=' opens a value in every tag rapidxml accepts (no name holds
// '=' there); any other quote is part of a name, and such a tag, or one with
// a value in apostrophes, is read by skipStartTag(). So on every tag the
// parser accepts the two agree; on one it refuses, this one may read on where
// skipStartTag() stops.
#ifdef __SSE2__
// Sixteen bytes at a time, with the quotes' parity telling values apart, so
// that a tag costs a branch or two rather than one per quote.
unsigned bitsOf(__m128i bytes, char c) {
    return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}

const char* skimStartTag(const char* name, const char* end) {
    const char* p = skip(name, kName);
    if (p == name) {
        return nullptr;
    }
    // No quote stands right after a name (a quote is a name character), so the
    // byte before the first one looked at never matters.
    unsigned carry = 0; // all ones while a value runs on from the block before
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
        const unsigned quotes = bitsOf(bytes, '"');
        // Bit i: an odd number of quotes up to byte i, that is, inside a value
        // or on its opening quote.
        unsigned inside = quotes;
        inside ^= inside << 1;
        inside ^= inside << 2;
        inside ^= inside << 4;
        inside ^= inside << 8;
        inside = (inside ^ carry) & 0xFFFF;
        const unsigned closes = bitsOf(bytes, '>') & ~inside;
        const unsigned tag = closes ? (closes & -closes) - 1 : 0xFFFF; // the bytes before its '>'
        const unsigned odd =
            (quotes & inside & ~bitsOf(before, '=')) | (bitsOf(bytes, '\'') & ~inside);
        if (odd & tag) {
            return skipStartTag(name, end);
        }
        if (closes) {
            const char* close = p + std::countr_zero(closes);
            return close[-1] == '/' ? close - 1 : close;
        }
        carry = inside & 0x8000 ? 0xFFFF : 0;
    }
    return skipStartTag(name, end); // the last few bytes of the text
}
#else
const char* skimStartTag(const char* name, const char* end) {
    const char* p = skip(name, kName);
    if (p == name) {
        return nullptr;
    }
    for (;;) {
        p = findTagMark(p, end);
        if (!p) {
            return nullptr;
        }
        if (*p == '>') {
            return p[-1] == '/' ? p - 1 : p;
        }
        if (p[-1] != '=') {
            return skipStartTag(name, end);
        }
        p = find(p + 1, end, *p);
        if (!p) {
            return nullptr;
        }
        ++p;
    }
}
#endif

enum class Scan { Exact, Skim };

// One pass of the limits. Skimming reads start and closing tags by their
// quotes and '>' alone and returns true where the exact pass would throw:
// it agrees with the exact pass up to the parser's first fault, and may part
// from it only after one, so a skim that finds a limit passed is confirmed by
// the exact pass before anything is thrown.
template <Scan kScan> bool pastLimits(const char* text) {
    int elements = 0;
    const char* p = text;
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    const char* const end = p + std::strlen(p);
    int depth = 0;
    while (p) {
        // Text content runs up to the next tag; around the root only blanks may stand.
        p = depth > 0 ? find(p, end, '<') : skipBlanks(p);
        if (!p || *p != '<') {
            return false; // the end, or text outside the root, which the parser refuses
        }
        if (p[1] == '/') {
            if (depth == 0) {
                return false;
            }
            if constexpr (kScan == Scan::Skim) {
                p = find(p + 2, end, '>');
                if (!p) {
                    return false;
                }
            } else {
                p = skipBlanks(skip(p + 2, kName));
                if (*p != '>') {
                    return false;
                }
            }
            ++p;
            --depth;
        } else if (p[1] == '?' || p[1] == '!') {
            p = skipMarkup(p + 1);
        } else {
            const char* name = p + 1;
            p = kScan == Scan::Skim ? skimStartTag(name, end) : skipStartTag(name, end);
            if (p && ++elements > kMaxDescriptionElements) {
                if constexpr (kScan == Scan::Skim) {
                    return true;
                }
                throw rapidxml::parse_error("more than 1048576 elements", const_cast<char*>(name));
            }
            if (p && *p == '>') {
                if (++depth > kMaxDescriptionDepth) {
                    if constexpr (kScan == Scan::Skim) {
                        return true;
                    }
                    throw rapidxml::parse_error("elements nested deeper than 128 levels",
                                                const_cast<char*>(name));
                }
                ++p;
            } else if (p && p[0] == '/' && p[1] == '>') {
                p += 2;
            } else {
                return false;
            }
        }
    }
    return false;
}

#ifdef __SSE2__
// The whole-text pass: most descriptions are nothing but tags with
// double-quoted values and blanks between them, and for those the limits
// follow from where '<', '>', '"', '=' and '/' stand, found 64 bytes at a
// time without stopping at each tag. Anything else (markup after the prolog,
// a '<' or '>' inside a value or in text, a quote not right after '=', an '='
// not right before one, so also values in apostrophes and blanks around '=')
// is left to the skim. Up to the parser's first fault the tags found here are
// the parser's, so the counts are never below its own; after a fault they may
// be anything, as the parser reads no further.

// Bit i of each mark: byte i of the block is that character.
struct Marks {
    uint64_t quotes, equals, opens, closes, slashes, markup;
};

uint64_t bitsSse2(const char* p, char c) {
    const __m128i pattern = _mm_set1_epi8(c);
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        bits |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, pattern)))) << (16 * i);
    }
    return bits;
}

Marks marksSse2(const char* p) {
    return {bitsSse2(p, '"'), bitsSse2(p, '='), bitsSse2(p, '<'),
            bitsSse2(p, '>'), bitsSse2(p, '/'), bitsSse2(p, '?') | bitsSse2(p, '!')};
}

[[gnu::target("avx2")]] inline uint64_t bitsAvx2(const char* p, char c) {
    const __m256i pattern = _mm256_set1_epi8(c);
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return uint64_t(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, pattern)))) |
           uint64_t(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, pattern)))) << 32;
}

[[gnu::target("avx2")]] Marks marksAvx2(const char* p) {
    return {bitsAvx2(p, '"'), bitsAvx2(p, '='), bitsAvx2(p, '<'),
            bitsAvx2(p, '>'), bitsAvx2(p, '/'), bitsAvx2(p, '?') | bitsAvx2(p, '!')};
}

[[gnu::target("avx512bw")]] inline uint64_t bitsAvx512(const char* p, char c) {
    return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8(c));
}

[[gnu::target("avx512bw")]] Marks marksAvx512(const char* p) {
    return {bitsAvx512(p, '"'), bitsAvx512(p, '='), bitsAvx512(p, '<'),
            bitsAvx512(p, '>'), bitsAvx512(p, '/'), bitsAvx512(p, '?') | bitsAvx512(p, '!')};
}

// Bit i: an odd number of set bits up to and including bit i.
uint64_t runningParity(uint64_t x) {
    for (int shift = 1; shift < 64; shift *= 2) {
        x ^= x << shift;
    }
    return x;
}

// The same by one carry-less multiplication by all ones.
[[gnu::target("pclmul")]] inline uint64_t runningParityClmul(uint64_t x) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(int64_t(x)), _mm_set1_epi8(char(0xFF)), 0);
    return uint64_t(_mm_cvtsi128_si64(product));
}

enum class Verdict { Within, Maybe, Unsure };

// What a block leaves for the next: whether a value or a tag runs on, the
// last byte's marks, the depth and the elements so far.
struct BlockState {
    uint64_t inValue = 0; // all ones while a value runs on
    uint64_t inTag = 0;
    uint64_t lastEquals = 0; // 1 when the block before ended on '='
    uint64_t lastSlash = 0;
    int depth = 0;
    int elements = 0;
};

// One block: its marks and the byte after it.
template <Marks (*kMarks)(const char*), uint64_t (*kParity)(uint64_t)>
[[gnu::always_inline]] inline Verdict scanBlock(const char* p, char after, BlockState& s) {
    const Marks m = kMarks(p);
    const uint64_t inValue = kParity(m.quotes) ^ s.inValue;
    const uint64_t openingQuotes = m.quotes & inValue;
    const uint64_t equals = m.equals & ~inValue;
    const uint64_t quoteNext = (m.quotes >> 1) | (uint64_t(after == '"') << 63);
    const uint64_t tagMarks = m.opens | m.closes;
    const uint64_t inTag = kParity(tagMarks) ^ s.inTag;
    if ((openingQuotes & ~((m.equals << 1) | s.lastEquals)) | (equals & ~quoteNext) |
        (tagMarks & inValue) | (m.opens & ~inTag) | (m.closes & inTag)) {
        return Verdict::Unsure;
    }
    const uint64_t slashNext = (m.slashes >> 1) | (uint64_t(after == '/') << 63);
    const uint64_t markupNext = (m.markup >> 1) | (uint64_t(after == '?' || after == '!') << 63);
    if (m.opens & markupNext) {
        return Verdict::Unsure;
    }
    const uint64_t starts = m.opens & ~slashNext;
    // A start tag deepens until its '>' shows whether it closes itself, so the
    // depth reached inside the block is at most the depth before it plus its
    // start tags.
    const int started = std::popcount(starts);
    s.elements += started;
    if (s.elements > kMaxDescriptionElements || s.depth + started > kMaxDescriptionDepth) {
        return Verdict::Maybe;
    }
    const uint64_t selfClosing = m.closes & ((m.slashes << 1) | s.lastSlash);
    s.depth += started - std::popcount(selfClosing) - std::popcount(m.opens & slashNext);
    s.inValue = inValue >> 63 ? ~uint64_t(0) : 0;
    s.inTag = inTag >> 63 ? ~uint64_t(0) : 0;
    s.lastEquals = m.equals >> 63;
    s.lastSlash = m.slashes >> 63;
    return Verdict::Within;
}

// From the root's '<' to the end: Within when the limits hold, Maybe when they
// may not, Unsure when the text is not of the kind this pass reads.
template <Marks (*kMarks)(const char*), uint64_t (*kParity)(uint64_t)>
[[gnu::always_inline]] inline Verdict scanBlocks(const char* p, const char* end) {
    BlockState state;
    for (; end - p >= 64; p += 64) {
        if (const Verdict v = scanBlock<kMarks, kParity>(p, p[64], state); v != Verdict::Within) {
            return v;
        }
    }
    // The last few bytes, padded with blanks, which mark nothing.
    char last[64];
    std::memset(last, ' ', sizeof last);
    std::memcpy(last, p, size_t(end - p));
    return scanBlock<kMarks, kParity>(last, ' ', state);
}

Verdict scanSse2(const char* p, const char* end) {
    return scanBlocks<marksSse2, runningParity>(p, end);
}

[[gnu::target("avx2,pclmul")]] Verdict scanAvx2(const char* p, const char* end) {
    return scanBlocks<marksAvx2, runningParityClmul>(p, end);
}

[[gnu::target("avx512bw,pclmul")]] Verdict scanAvx512(const char* p, const char* end) {
    return scanBlocks<marksAvx512, runningParityClmul>(p, end);
}

using Scanner = Verdict (*)(const char*, const char*);

Scanner fastestScanner() {
    using ox::utils::CpuFeature;
    if (!ox::utils::cpuAllows(CpuFeature::Pclmul)) {
        return scanSse2;
    }
    if (ox::utils::cpuAllows(CpuFeature::Avx512bw)) {
        return scanAvx512;
    }
    return ox::utils::cpuAllows(CpuFeature::Avx2Fma) ? scanAvx2 : scanSse2;
}

// The prolog (declaration, comments, document type) is read by the skim's own
// markup reader; the root and all after it a block at a time.
Verdict scanWhole(const char* text) {
    const char* p = text;
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    for (;;) {
        p = skipBlanks(p);
        if (*p != '<' || (p[1] != '?' && p[1] != '!')) {
            break;
        }
        p = skipMarkup(p + 1);
        if (!p) {
            return Verdict::Within; // the parser stops in the prolog
        }
    }
    static const Scanner scan = fastestScanner();
    return scan(p, p + std::strlen(p));
}
#endif

} // namespace

} // namespace ox::soundfont::description

namespace ox::soundfont {

void checkDescriptionLimits(const char* text) {
    static_assert(kMaxDescriptionDepth == 128 && kMaxDescriptionElements == 1048576,
                  "the messages below state the limits");
    using namespace description;
#ifdef __SSE2__
    const Verdict verdict = scanWhole(text);
    if (verdict == Verdict::Within) {
        return;
    }
    if (verdict == Verdict::Maybe || pastLimits<Scan::Skim>(text)) {
        pastLimits<Scan::Exact>(text);
    }
#else
    if (pastLimits<Scan::Skim>(text)) {
        pastLimits<Scan::Exact>(text);
    }
#endif
}

} // namespace ox::soundfont
