// Writes the mapping of one of ICU's own converters as a .ucm file under another name, for makeconv.
// Usage: korv_ucm_from_icu <ICU converter name> <new name> <output.ucm>
//
// The mapping is read back through ICU's public conversion API: every code point of the source's
// round-trip set is converted to bytes (|0), the further code points of its fallback set with fallbacks
// on (|1), and every byte sequence that the source decodes to a code point without a matching round trip
// becomes a decode-only fallback (|3); a single-byte substitution of a double-byte code page is kept
// as <subchar1> (|2). The state table comes from the source's lead bytes and from the single and
// trail bytes it does not reject as illegal. Single- and double-byte code pages only, which is all we
// carry.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include <unicode/ucnv.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>

// The folder that the build puts the .cnv files in must be the one this ICU searches.
#ifdef KORV_ICUDATA_NAME
static_assert(std::string_view(U_ICUDATA_NAME) == KORV_ICUDATA_NAME, "ICU data name differs from the build's");
#endif

namespace {

struct CnvCloser {
    void operator()(UConverter *c) const { ucnv_close(c); }
};
struct SetCloser {
    void operator()(USet *s) const { uset_close(s); }
};
struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using Cnv = std::unique_ptr<UConverter, CnvCloser>;
using Set = std::unique_ptr<USet, SetCloser>;

using Bytes = std::string;

// The bytes of one code point, or "" when the converter has no mapping for it.
Bytes encode(UConverter *cnv, UChar32 c)
{
    UChar u[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(u, n, c);
    char out[16];
    UErrorCode st = U_ZERO_ERROR;
    ucnv_reset(cnv);
    int32_t len = ucnv_fromUChars(cnv, out, sizeof out, u, n, &st);
    if (U_FAILURE(st) || len <= 0 || len > (int32_t)sizeof out)
        return {};
    return Bytes(out, (size_t)len);
}

// The one code point that a byte sequence decodes to, or -1 with *status telling an unassigned
// sequence (U_INVALID_CHAR_FOUND) from an illegal one.
UChar32 decode(UConverter *cnv, const Bytes &b, UErrorCode *status)
{
    UChar u[8];
    *status = U_ZERO_ERROR;
    ucnv_reset(cnv);
    int32_t n = ucnv_toUChars(cnv, u, 8, b.data(), (int32_t)b.size(), status);
    if (U_FAILURE(*status) || n <= 0 || n > 2)
        return -1;
    UChar32 c;
    int32_t i = 0;
    U16_NEXT(u, i, n, c);
    return i == n ? c : -1;
}

std::string hexBytes(const Bytes &b)
{
    std::string s;
    char x[8];
    for (unsigned char ch : b) {
        snprintf(x, sizeof x, "\\x%02X", ch);
        s += x;
    }
    return s;
}

// "a-b" ranges of the bytes set in mask, joined by ",", each followed by suffix.
std::string byteRanges(const bool mask[256], const char *suffix = "")
{
    std::string s;
    char buf[16];
    for (int i = 0; i < 256;) {
        if (!mask[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < 256 && mask[j + 1])
            ++j;
        if (!s.empty())
            s += ",";
        if (i == j)
            snprintf(buf, sizeof buf, "%x", i);
        else
            snprintf(buf, sizeof buf, "%x-%x", i, j);
        s += buf;
        s += suffix;
        i = j + 1;
    }
    return s;
}

struct Mapping {
    UChar32 cp;
    Bytes bytes;
    int flag;
    bool operator<(const Mapping &o) const
    {
        if (cp != o.cp)
            return cp < o.cp;
        if (bytes != o.bytes)
            return bytes < o.bytes;
        return flag < o.flag;
    }
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s <ICU converter> <new name> <output.ucm>\n", argv[0]);
        return 2;
    }
    const char *source = argv[1];
    const char *name = argv[2];
    const char *outPath = argv[3];

    UErrorCode st = U_ZERO_ERROR;
    Cnv cnv(ucnv_open(source, &st));
    if (U_FAILURE(st) || !cnv) {
        fprintf(stderr, "%s: cannot open converter %s: %s\n", argv[0], source, u_errorName(st));
        return 1;
    }
    UConverterType type = ucnv_getType(cnv.get());
    int maxChar = ucnv_getMaxCharSize(cnv.get());
    int minChar = ucnv_getMinCharSize(cnv.get());
    if ((type != UCNV_SBCS && type != UCNV_MBCS) || maxChar > 2 || minChar != 1) {
        fprintf(stderr, "%s: %s is not a single- or double-byte code page\n", argv[0], source);
        return 1;
    }
    ucnv_setFromUCallBack(cnv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
    ucnv_setToUCallBack(cnv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
    if (U_FAILURE(st)) {
        fprintf(stderr, "%s: %s: %s\n", argv[0], source, u_errorName(st));
        return 1;
    }

    bool lead[256] = {};
    if (maxChar == 2) {
        UBool starters[256];
        ucnv_getStarters(cnv.get(), starters, &st);
        if (U_FAILURE(st)) {
            fprintf(stderr, "%s: %s: no lead bytes: %s\n", argv[0], source, u_errorName(st));
            return 1;
        }
        for (int i = 0; i < 256; ++i)
            lead[i] = starters[i] != 0;
    }

    Set roundTrip(uset_openEmpty());
    Set withFallbacks(uset_openEmpty());
    ucnv_getUnicodeSet(cnv.get(), roundTrip.get(), UCNV_ROUNDTRIP_SET, &st);
    ucnv_getUnicodeSet(cnv.get(), withFallbacks.get(), UCNV_ROUNDTRIP_AND_FALLBACK_SET, &st);
    if (U_FAILURE(st)) {
        fprintf(stderr, "%s: %s: no Unicode set: %s\n", argv[0], source, u_errorName(st));
        return 1;
    }

    std::set<Mapping> maps;
    std::map<Bytes, UChar32> roundTripOf;
    auto walk = [&](USet *set, bool fallbacks) -> bool {
        ucnv_setFallback(cnv.get(), fallbacks);
        int32_t ranges = uset_getItemCount(set);
        for (int32_t r = 0; r < ranges; ++r) {
            UChar32 lo, hi;
            UErrorCode e = U_ZERO_ERROR;
            if (uset_getItem(set, r, &lo, &hi, nullptr, 0, &e) != 0)
                continue;  // strings are not mappings of single code points
            for (UChar32 c = lo; c <= hi; ++c) {
                if (fallbacks && uset_contains(roundTrip.get(), c))
                    continue;
                Bytes b = encode(cnv.get(), c);
                if (b.empty()) {
                    fprintf(stderr, "%s: %s: U+%04X of the set does not convert\n", argv[0], source, c);
                    return false;
                }
                maps.insert({c, b, fallbacks ? 1 : 0});
                if (!fallbacks)
                    roundTripOf[b] = c;
            }
        }
        return true;
    };
    if (!walk(roundTrip.get(), false) || !walk(withFallbacks.get(), true))
        return 1;
    ucnv_setFallback(cnv.get(), false);

    // Decode-only mappings, and the byte ranges that the source does not treat as illegal: single
    // bytes, and trail bytes after any lead byte (one trail state serves all lead bytes).
    bool single[256] = {};
    bool trail[256] = {};
    int unassignedSingle = -1;
    auto visit = [&](const Bytes &b) -> bool {
        UErrorCode dst;
        UChar32 c = decode(cnv.get(), b, &dst);
        if (c < 0) {
            if (dst == U_INVALID_CHAR_FOUND && b.size() == 1 && unassignedSingle < 0)
                unassignedSingle = (unsigned char)b[0];
            return dst == U_INVALID_CHAR_FOUND;
        }
        auto it = roundTripOf.find(b);
        if (it == roundTripOf.end() || it->second != c)
            maps.insert({c, b, 3});
        return true;
    };
    for (int i = 0; i < 256; ++i) {
        if (!lead[i]) {
            single[i] = visit(Bytes(1, (char)i));
            continue;
        }
        for (int j = 0; j < 256; ++j)
            if (visit(Bytes{(char)i, (char)j}))
                trail[j] = true;
    }

    char sub[4];
    int8_t subLen = sizeof sub;
    ucnv_getSubstChars(cnv.get(), sub, &subLen, &st);
    if (U_FAILURE(st) || subLen <= 0) {
        fprintf(stderr, "%s: %s: no substitution bytes: %s\n", argv[0], source, u_errorName(st));
        return 1;
    }

    // Code points that the source substitutes with a single byte other than its (double-byte)
    // substitution take that byte as <subchar1> (|2).
    std::string sub1;
    if (maxChar == 2 && subLen == 2) {
        Cnv plain(ucnv_open(source, &st));
        if (U_FAILURE(st) || !plain) {
            fprintf(stderr, "%s: cannot reopen converter %s: %s\n", argv[0], source, u_errorName(st));
            return 1;
        }
        for (UChar32 c = 0; c <= 0xFFFF; ++c) {
            if (U_IS_SURROGATE(c) || uset_contains(withFallbacks.get(), c))
                continue;
            Bytes b = encode(plain.get(), c);
            if (b.size() != 1)
                continue;
            if (sub1.empty())
                sub1 = b;
            else if (b != sub1) {
                fprintf(stderr, "%s: %s: two single-byte substitutions\n", argv[0], source);
                return 1;
            }
            maps.insert({c, b, 2});
        }
        // A <subchar1> that no mapping uses still shows in decoding: an unassigned single byte
        // becomes U+001A instead of U+FFFD. Only its presence is observable, so SUB stands in.
        if (sub1.empty() && unassignedSingle >= 0) {
            char in = (char)unassignedSingle;
            UChar u[4];
            UErrorCode e = U_ZERO_ERROR;
            ucnv_reset(plain.get());
            int32_t n = ucnv_toUChars(plain.get(), u, 4, &in, 1, &e);
            if (U_SUCCESS(e) && n == 1 && u[0] == 0x1A)
                sub1.assign(1, '\x1A');
        }
    }

    std::unique_ptr<FILE, FileCloser> out(fopen(outPath, "w"));
    if (!out) {
        perror(outPath);
        return 1;
    }
    FILE *f = out.get();
    fprintf(f, "# Mapping of %s, taken from ICU's converter %s.\n", name, ucnv_getName(cnv.get(), &st));
    fprintf(f, "<code_set_name>               \"%s\"\n", name);
    fprintf(f, "<mb_cur_max>                  %d\n", maxChar);
    fprintf(f, "<mb_cur_min>                  1\n");
    fprintf(f, "<uconv_class>                 \"%s\"\n", maxChar == 1 ? "SBCS" : "MBCS");
    fprintf(f, "<subchar>                     %s\n", hexBytes(Bytes(sub, (size_t)subLen)).c_str());
    if (!sub1.empty())
        fprintf(f, "<subchar1>                    %s\n", hexBytes(sub1).c_str());
    fprintf(f, "<icu:charsetFamily>           \"ASCII\"\n");
    if (maxChar == 2) {
        fprintf(f, "<icu:state>                   %s, %s\n", byteRanges(single).c_str(), byteRanges(lead, ":1").c_str());
        fprintf(f, "<icu:state>                   %s\n", byteRanges(trail).c_str());
    }
    fprintf(f, "CHARMAP\n");
    for (const auto &m : maps)
        fprintf(f, "<U%04X> %s |%d\n", m.cp, hexBytes(m.bytes).c_str(), m.flag);
    fprintf(f, "END CHARMAP\n");
    if (fflush(f) != 0 || ferror(f)) {
        perror(outPath);
        return 1;
    }
    if (fclose(out.release()) != 0) {
        perror(outPath);
        return 1;
    }
    return 0;
}
