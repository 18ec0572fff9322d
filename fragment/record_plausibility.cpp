#include "fragment/record_plausibility.h"

#include <algorithm>
#include <optional>

#include "common/little_endian.h"
#include "fragment/record_type_names.h"

namespace tabulon {

namespace {

constexpr uint32_t kMaxRow = RecordPlausibility::kMaxCellRow;
constexpr uint32_t kMaxColumn = 500;
constexpr uint32_t kMaxXf = RecordPlausibility::kMaxCellFormat;
constexpr uint32_t kMaxStringsPerBucket = 0x2000;  // an index bucket per so many shared strings, at most

// The record under judgement. Offsets count from the record's first byte, so the body starts at 4.
// Has(n) tells whether the offsets [0, n) lie inside the buffer; the readers assume the caller asked.
struct Record {
    const uint8_t* buffer;
    uint32_t position;
    uint32_t length;  // of the buffer
    uint64_t rem;     // bytes from the record's first byte to the end of the buffer
    uint32_t len;     // the record's body length

    bool Has(uint64_t bytes) const { return rem >= bytes; }
    // A guard: the record runs off the end of the buffer before the checks that follow it.
    bool Guard(uint64_t g) const { return rem <= g; }
    uint16_t W(uint64_t k) const { return LoadU16(buffer + position + k); }
    uint32_t D(uint64_t k) const { return LoadU32(buffer + position + k); }
    uint8_t B(uint64_t k) const { return buffer[position + k]; }
    uint64_t End() const { return uint64_t(position) + 4 + len; }  // first byte after the record

    std::optional<uint32_t> ShortString(uint64_t k) const {
        if (!Has(k + 1)) return std::nullopt;
        return ShortStringSize(buffer, length, uint32_t(position + k));
    }
    std::optional<uint32_t> LongString(uint64_t k) const {
        if (!Has(k + 1)) return std::nullopt;
        return LongStringSize(buffer, length, uint32_t(position + k));
    }
    std::optional<uint32_t> CountlessString(uint64_t k, uint32_t chars) const {
        if (!Has(k + 1)) return std::nullopt;
        return CountlessStringSize(buffer, length, uint32_t(position + k), chars);
    }
    // Entries of `size` bytes declared from offset `first` on, reduced to those wholly inside the buffer.
    uint64_t Clipped(uint64_t declared, uint64_t first, uint64_t size) const {
        uint64_t inside = rem > first ? (rem - first) / size : 0;
        return std::min(declared, inside);
    }
};

// Row, column and XF index at offsets 4, 6 and 8, as every cell record starts.
bool CellTriple(const Record& r) {
    if (!r.Has(10)) return true;
    return r.W(4) <= kMaxRow && r.W(6) <= kMaxColumn && r.W(8) <= kMaxXf;
}

// A record of exactly two body bytes holding 0 or 1, behind a guard of 2.
bool GuardedFlagRecord(const Record& r) {
    if (r.len != 2) return false;
    if (r.Guard(2) || !r.Has(6)) return true;
    return r.W(4) <= 1;
}

bool MatchesLongString(const Record& r, uint64_t k, uint64_t extra) {
    std::optional<uint32_t> size = r.LongString(k);
    if (!size) return true;
    return r.len == uint64_t(*size) + extra;
}

bool IsNameRecordPlausible(const Record& r) {
    if (r.len < 14) return false;
    if (r.Guard(18)) return true;
    if (r.B(6) > 1 || r.W(10) != 0) return false;
    // Every string size is taken with the option byte of the name text at offset 18.
    uint64_t total = r.W(8);
    const uint8_t counts[] = {r.B(7), r.B(14), r.B(15), r.B(16), r.B(17)};
    for (uint8_t chars : counts) {
        if (chars == 0) continue;
        std::optional<uint32_t> size = r.CountlessString(18, chars);
        if (!size) return true;
        total += *size;
    }
    return r.len == 14 + total;
}

bool IsSelectionPlausible(const Record& r) {
    if (r.len < 9) return false;
    if (r.Guard(9) || !r.Has(13)) return true;
    uint64_t n = r.W(11);
    if (r.len != 6 * n + 9) return false;
    if (r.W(5) > kMaxRow || r.W(7) > kMaxColumn) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t entry = 13 + 6 * i;
        if (r.Has(entry + 2) && r.W(entry) > kMaxRow) return false;
        if (r.Has(entry + 4) && r.W(entry + 2) > kMaxRow) return false;
        if (!r.Has(entry + 4)) break;
    }
    return true;
}

bool IsFontPlausible(const Record& r) {
    if (r.len < 14) return false;
    if (r.rem > 20) {
        std::optional<uint32_t> name = r.ShortString(18);
        if (!name) return true;
        if (r.len != uint64_t(*name) + 14) return false;
    }
    if (r.Guard(14) || !r.Has(16)) return true;
    uint16_t weight = r.W(10);
    return r.W(6) <= 255 && r.W(12) <= 3 && r.B(15) <= 5 && weight % 100 == 0 && weight >= 100 &&
           weight <= 1000;
}

// A printer record starts with the environment its settings were made in. For Windows (0) the device
// name (UTF-16 at offset 6) names a known maker or a network printer, or is a long run of printable
// 8-bit characters. Other environments and writers put structures of their own there, which cannot be
// judged.
bool IsPrinterPlausible(const Record& r) {
    if (r.len < 2) return false;
    if (!r.Has(6)) return true;
    if (r.W(4) != 0) return true;

    // A private copy of the first ten characters, as if a NUL followed the tenth.
    char16_t name[10] = {};
    int count = 0;
    for (; count < 10; ++count) {
        uint64_t at = 6 + 2 * uint64_t(count);
        if (!r.Has(at + 2)) return true;
        char16_t c = r.W(at);
        if (c == 0) break;
        name[count] = c;
    }
    if (count == 2 && name[0] == u'传' && name[1] == u'真') return true;
    if (count >= 1 && name[0] == u'在') return true;
    if (count >= 2 && name[0] == u'\\' && name[1] == u'\\') return true;
    for (int i = 0; i < count; ++i)
        if (name[i] >= u'A' && name[i] <= u'Z') name[i] = char16_t(name[i] - u'A' + u'a');
    const std::u16string_view lowered(name, size_t(count));
    for (std::u16string_view maker : {u"hp", u"canon", u"adobe", u"epson"})
        if (lowered.starts_with(maker)) return true;

    // Count the name's characters up to its NUL, staying inside the record.
    const uint64_t recordEnd = 4 + uint64_t(r.len);
    uint64_t n = 0;
    bool empty = r.Has(8) && 8 <= recordEnd && r.W(6) == 0;
    for (uint64_t at = 6; at + 2 <= recordEnd; at += 2) {
        if (!r.Has(at + 2)) return true;
        char16_t c = r.W(at);
        if (empty) {
            if (c != 0 || n == 10) break;
            ++n;
            continue;
        }
        if (c == 0) break;
        if (c > 0xFF || c < 0x20) return false;
        ++n;
    }
    return n >= 9 && r.len >= 2 * n + 4;
}

// External cached values: a count of values from first to last column, each 9 bytes or a text.
bool IsCrnPlausible(const Record& r) {
    if (r.len < 5) return false;
    if (!r.Has(6)) return true;
    uint32_t last = r.B(4), first = r.B(5);
    if (last < first) return false;
    if (r.Guard(5) || !r.Has(9)) return true;
    if (r.W(6) > kMaxRow) return false;
    uint8_t firstType = r.B(8);
    if (firstType != 0 && firstType != 1 && firstType != 2 && firstType != 4 && firstType != 0x10) return false;

    const uint64_t end = r.End();
    const uint64_t n = r.length;
    uint64_t x = uint64_t(r.position) + 8;
    for (uint32_t value = 0; value < last - first + 1; ++value) {
        if (x >= end) return false;  // the body ends before the values it counts
        if (x + 1 > n) return true;  // the bytes at hand end inside the body: nothing more to judge
        switch (r.buffer[x]) {
        case 0x00:
        case 0x01:
        case 0x10:
            x += 9;
            break;
        case 0x04:
            if (x + 2 > n) return true;
            if (r.buffer[x + 1] > 1) return false;
            x += 9;
            break;
        case 0x02: {
            if (x + 3 >= n) return true;
            std::optional<uint32_t> size = LongStringSize(r.buffer, r.length, uint32_t(x + 1));
            if (!size) return true;
            x += 1 + uint64_t(*size);
            break;
        }
        default:
            return false;
        }
        if (x > end) return false;
    }
    if (n <= end) return true;
    return x == end;
}

// Sort keys: three character counts at offsets 6 to 8, then the key texts, each an option byte and its
// characters, then one unused byte.
bool IsSortPlausible(const Record& r) {
    if (r.len < 5 || r.len > 33) return false;
    if (r.rem > 5 && r.W(4) > 0xF000) return false;
    if (r.Guard(7) || !r.Has(9)) return true;
    // Size of a key text plus one, for k characters with the option byte at offset o.
    auto textSize = [&r](uint32_t k, uint64_t o) -> std::optional<uint64_t> {
        if (k == 0) return 2;
        if (!r.Has(o + 1)) return std::nullopt;
        uint8_t option = r.B(o);
        if (option & biff_string_detail::kInvalidBits) return 0;
        return 2 + uint64_t(k) * ((option & biff_string_detail::kSixteenBit) ? 2 : 1);
    };
    std::optional<uint64_t> s1 = textSize(r.B(6), 9);
    if (!s1) return true;
    if (*s1 == 0 || r.len < *s1 + 5) return false;
    int64_t x = int64_t(*s1) + 8;
    for (uint32_t k : {uint32_t(r.B(7)), uint32_t(r.B(8))}) {
        if (k == 0 || uint64_t(r.position) + 2 + uint64_t(x) >= r.length) continue;
        std::optional<uint64_t> size = textSize(k, uint64_t(x));
        if (!size) return true;
        x = x + int64_t(*size) - 1;
        if (x + 1 > int64_t(r.len) + 4) return false;
    }
    if (r.length <= r.End()) return true;
    return x + 1 == int64_t(r.len) + 4;
}

// Supporting book: a self or add-in reference, or a path text followed by the sheet-name texts.
bool IsSupBookPlausible(const Record& r) {
    if (r.len < 4) return false;
    if (r.rem > 4) {
        if (!r.Has(8)) return true;
        if (r.W(6) == 0) return false;
    }
    if (r.Guard(8)) return true;
    uint16_t kind = r.W(6);
    if (kind == 0x0401) return r.len == 4;
    if (kind == 0x3A01) return r.len == 4 && r.W(4) == 1;
    std::optional<uint32_t> path = r.LongString(6);
    if (!path) return true;
    uint64_t x = uint64_t(*path) + 2;
    if (x > r.len) return false;
    const uint32_t sheets = r.W(4);
    uint32_t i = 0;
    while (i < sheets && uint64_t(r.position) + 7 + x < r.length) {
        std::optional<uint32_t> size = r.LongString(4 + x);
        if (!size) return true;
        if (*size == 0) {
            // An invalid text never moves x again: the walk would only count up to the sheet count.
            i = sheets;
            break;
        }
        x += *size;
        if (x > r.len) return false;
        ++i;
    }
    return !(i == sheets && x != r.len);
}

// Shared strings: the total and unique counts, then texts that must chain through the record.
// Offsets below count from the body start.
bool IsSstPlausible(const Record& r) {
    if (r.len < 8) return false;
    if (r.rem <= 8 || !r.Has(12)) return true;
    uint32_t total = r.D(4), unique = r.D(8);
    // A workbook without a single string still writes its table: both counts 0 and nothing after them.
    if (total == 0) return unique == 0 && r.len == 8;
    if (unique > total) return false;
    if (unique > 0x3FFFF || total > 0x3FFFF) return false;
    if (unique == 0) return true;
    const uint64_t body = uint64_t(r.position) + 4;
    uint64_t x = 8;
    for (uint32_t i = 0;;) {
        if (body + x + 3 >= r.length) return true;
        std::optional<uint32_t> size = r.LongString(4 + x);
        if (!size) return true;
        // An invalid option byte means these are not shared strings (and would never advance the walk).
        if (*size == 0) return false;
        x += *size;
        if (x > r.len) {
            // A full record whose last text continues in a continuation record.
            int64_t overFull = int64_t(r.len) - 8224;
            if (overFull > -16 && overFull < 16 && x - r.len < 256) return true;
            return i > 5 && x > 30;
        }
        if (x + 4 > r.len) return true;
        if (++i >= unique) return true;
    }
}

bool IsMulRkPlausible(const Record& r) {
    if (r.len < 18) return false;
    if (r.rem > 4) {
        if (!r.Has(8)) return true;
        if (r.W(4) > kMaxRow || r.W(6) > kMaxColumn) return false;
    }
    if (r.len % 6 != 0) return false;
    if (r.Guard(uint64_t(r.len) + 4)) return true;
    const uint64_t k = r.len / 6 - 1;
    for (uint64_t i = 0; i < k; ++i)
        if (r.W(8 + 6 * i) > kMaxXf) return false;
    return r.W(6) + k == uint64_t(r.W(8 + 6 * k)) + 1;
}

bool IsMulBlankPlausible(const Record& r) {
    if (r.len < 10) return false;
    if (r.rem > 4) {
        if (!r.Has(8)) return true;
        if (r.W(4) > kMaxRow || r.W(6) > kMaxColumn) return false;
    }
    if (r.len % 2 != 0) return false;
    const uint64_t k = (r.len - 6) / 2;
    const uint64_t inside = r.Clipped(k, 8, 2);
    for (uint64_t i = 0; i < inside; ++i)
        if (r.W(8 + 2 * i) > kMaxXf) return false;
    if (r.Guard(uint64_t(r.len) + 4)) return true;
    return r.W(6) + k == uint64_t(r.W(8 + 2 * k)) + 1;
}

bool IsRStringPlausible(const Record& r) {
    if (r.len < 6) return false;
    if (r.rem > 6 && !CellTriple(r)) return false;
    if (r.Guard(13)) return true;
    std::optional<uint32_t> text = r.LongString(10);
    if (!text) return true;
    const uint64_t s = *text;
    if (r.len <= s + 8) return false;
    if (r.rem < s + 12) return true;
    return r.len == s + 8 + 4 * uint64_t(r.W(10 + s));
}

bool IsPalettePlausible(const Record& r) {
    if (r.len < 2) return false;
    if (r.rem > 2) {
        if (!r.Has(6)) return true;
        if (r.W(4) > 56) return false;
    }
    if ((r.len - 2) % 4 != 0) return false;
    const uint64_t colours = r.Clipped((r.len - 2) / 4, 6, 4);
    for (uint64_t i = 0; i < colours; ++i)
        if (r.B(6 + 4 * i + 3) != 0) return false;
    return true;
}

bool IsExternSheetPlausible(const Record& r) {
    if (r.len < 2 || (r.len - 2) % 6 != 0) return false;
    const uint64_t entries = r.Clipped((r.len - 2) / 6, 6, 6);
    // 0xFFFE stands for the workbook itself (names of add-ins and of the whole book), 0xFFFF for a
    // sheet that was deleted.
    auto sheetIndexOk = [](uint16_t v) { return v <= 128 || v >= 0xFFFE; };
    for (uint64_t i = 0; i < entries; ++i) {
        uint64_t at = 6 + 6 * i;
        if (r.W(at) > 4095 || !sheetIndexOk(r.W(at + 2)) || !sheetIndexOk(r.W(at + 4))) return false;
    }
    return true;
}

// The shared strings' index: strings per bucket, then one bucket of 8 bytes per so many strings, each the
// stream position of its first string. Writers that set aside a fixed number of buckets leave those
// the table does not need as they found them in memory, and an empty table's index holds whatever count
// its writer chose: only the count's size and the first bucket's position are judged.
bool IsExtSstPlausible(const Record& r) {
    if (r.len < 2 || (r.len - 2) % 8 != 0) return false;
    if (!r.Has(6)) return true;
    if (r.W(4) > kMaxStringsPerBucket) return false;
    if (r.len == 2 || !r.Has(10)) return true;
    return r.D(6) <= 0x0FFFFFFF;
}

bool IsMergedCellsPlausible(const Record& r) {
    if (r.len < 2 || (r.len - 2) % 8 != 0) return false;
    const uint64_t ranges = r.Clipped((r.len - 2) / 8, 6, 8);
    for (uint64_t i = 0; i < ranges; ++i) {
        uint64_t at = 6 + 8 * i;
        if (r.W(at) > kMaxRow || r.W(at + 2) > kMaxRow || r.W(at + 4) > kMaxColumn || r.W(at + 6) > kMaxColumn)
            return false;
    }
    return true;
}

bool IsPageBreaksPlausible(const Record& r, bool horizontal) {
    if (r.len < 2 || (r.len - 2) % 6 != 0) return false;
    if (horizontal) {
        if (!r.Has(6)) return true;
        if (r.len != 6 * uint64_t(r.W(4)) + 2) return false;
    }
    const uint64_t entries = r.Clipped((r.len - 2) / 6, 6, 6);
    for (uint64_t i = 0; i < entries; ++i) {
        uint64_t at = 6 + 6 * i;
        if (horizontal) {
            if (r.W(at) > kMaxRow || r.W(at + 2) > kMaxColumn || r.W(at + 4) > kMaxColumn) return false;
        } else if (r.W(at) > kMaxColumn || r.W(at + 2) > kMaxRow) {
            return false;
        }
    }
    return true;
}

bool IsDbCellPlausible(const Record& r) {
    if (r.len < 4 || r.len % 2 != 0) return false;
    const uint64_t offsets = r.Clipped((r.len - 4) / 2, 8, 2);
    for (uint64_t i = 0; i < offsets; ++i)
        if (r.W(8 + 2 * i) > kMaxRow) return false;
    return true;
}

bool Judge(const Record& r, uint16_t type) {
    switch (type) {
    case 0x0006:  // FORMULA
        if (r.len < 20) return false;
        return r.Guard(20) || CellTriple(r);
    case 0x000A:  // EOF
        return r.len == 0;
    case 0x000C:  // CALCCOUNT
    case 0x000E:  // PRECISION
    case 0x0012:  // PROTECT
    case 0x0019:  // WINDOWPROTECT
    case 0x0022:  // DATEMODE
    case 0x0040:  // BACKUP
    case 0x0042:  // CODEPAGE
    case 0x0055:  // DEFCOLWIDTH
    case 0x0081:  // WSBOOL
    case 0x008D:  // HIDEOBJ
    case 0x00DA:  // BOOKBOOL
    case 0x0161:  // DSF
        return r.len == 2;
    case 0x000D:  // CALCMODE
        if (r.len != 2) return false;
        if (!r.Has(6)) return true;
        return r.W(4) == 0xFFFF || r.W(4) <= 1;
    case 0x000F:  // REFMODE
    case 0x0011:  // ITERATION
    case 0x002A:  // PRINTHEADERS
    case 0x002B:  // PRINTGRIDLINES
    case 0x005F:  // SAVERECALC
    case 0x0063:  // OBJECTPROTECT
    case 0x0084:  // VCENTER
    case 0x00DD:  // SCENPROTECT
    case 0x0160:  // USESELFS
        return GuardedFlagRecord(r);
    case 0x0010:  // DELTA
    case 0x0026:  // LEFTMARGIN
    case 0x0027:  // RIGHTMARGIN
    case 0x0028:  // TOPMARGIN
    case 0x0029:  // BOTTOMMARGIN
    case 0x0080:  // GUTS
        return r.len == 8;
    case 0x0013:  // PASSWORD
        if (r.len != 2) return false;
        return !r.Has(6) || r.W(4) == 0;
    case 0x0014:  // HEADER
        if (r.len == 0) return true;
        return MatchesLongString(r, 4, 0);
    case 0x0015:  // FOOTER
        if (r.len == 0) return true;
        if (r.len < 4) return false;
        return MatchesLongString(r, 4, 0);
    case 0x0017:  // EXTERNSHEET
        return IsExternSheetPlausible(r);
    case 0x0018:  // NAME
        return IsNameRecordPlausible(r);
    case 0x001A:  // VERTICALPAGEBREAKS
        return IsPageBreaksPlausible(r, false);
    case 0x001B:  // HORIZONTALPAGEBREAKS
        return IsPageBreaksPlausible(r, true);
    case 0x001C:  // NOTE
        if (r.len < 11) return false;
        if (r.Guard(15)) return true;
        return MatchesLongString(r, 12, 9);
    case 0x001D:  // SELECTION
        return IsSelectionPlausible(r);
    case 0x0023: {  // EXTERNNAME
        if (r.len < 6) return false;
        if (r.rem > 10 && r.W(8) != 0) return false;
        if (r.Guard(13)) return true;
        std::optional<uint32_t> size = r.LongString(10);
        return !size || uint64_t(*size) + 6 <= r.len;
    }
    case 0x002F:  // FILEPASS
        if (r.len < 8) return false;
        if (!r.Has(6)) return true;
        if (r.W(4) != 1) return false;
        if (!r.Has(10)) return true;
        return r.W(8) == 1 || r.W(8) == 2;
    case 0x0031:  // FONT
        return IsFontPlausible(r);
    case 0x003C:  // CONTINUE
        return r.len >= 1 && r.len <= 8224;
    case 0x003D:  // WINDOW1
        return r.len == 18;
    case 0x0041:  // PANE
        if (r.len != 10) return false;
        if (r.Guard(10) || !r.Has(12)) return true;
        return r.W(8) <= kMaxRow && r.W(10) <= kMaxColumn;
    case 0x004D:  // PRINTER
        return IsPrinterPlausible(r);
    case 0x0059:  // XCT
    case 0x008C:  // COUNTRY
    case 0x00A0:  // SCL
        return r.len == 4;
    case 0x005A:  // CRN
        return IsCrnPlausible(r);
    case 0x005B: {  // FILESHARING: an 8-bit character count at offset 8
        if (r.len < 4) return false;
        if (!r.Has(6)) return true;
        if (r.W(4) > 1) return false;
        if (r.Guard(11)) return true;
        std::optional<uint32_t> size = r.ShortString(8);
        return !size || r.len == uint64_t(*size) + 4;
    }
    case 0x005C:  // WRITEACCESS
        return r.len == 112;
    case 0x005D:  // Unknown55555
        if (r.len < 4) return false;
        if (!r.Has(8)) return true;
        return r.W(4) == 0x0015 && r.W(6) == 0x0012;
    case 0x005E:  // UNCALCED
        if (r.len != 2) return false;
        if (r.Guard(2) || !r.Has(6)) return true;
        return r.W(4) == 0;
    case 0x007D:  // COLINFO
        if (r.len != 12) return false;
        if (r.Guard(12) || !r.Has(14)) return true;
        return r.W(4) <= kMaxRow && r.W(6) <= kMaxColumn && r.W(12) <= 4095 && r.W(10) <= kMaxXf;
    case 0x007F:  // Unknown3333
        if (r.len < 4) return false;
        if (!r.Has(8)) return true;
        return r.W(4) == 2 && r.W(6) == 1;
    case 0x0082:  // GRIDSET
    case 0x0083:  // HCENTER
        if (r.len != 2) return false;
        return !r.Has(6) || r.W(4) <= 1;
    case 0x0085: {  // BOUNDSHEET
        if (r.len < 6) return false;
        if (!r.Has(10)) return true;
        if (r.D(4) > 0x0FFFFFFF || r.B(8) > 2) return false;
        uint8_t kind = r.B(9);
        if (kind != 0 && kind != 2 && kind != 6) return false;
        if (r.Guard(12)) return true;
        std::optional<uint32_t> size = r.ShortString(10);
        return !size || r.len == uint64_t(*size) + 6;
    }
    case 0x0086:  // WRITEPROT
        return r.len == 0;
    case 0x0090:  // SORT
        return IsSortPlausible(r);
    case 0x0092:  // PALETTE
        return IsPalettePlausible(r);
    case 0x0099:  // STANDARDWIDTH
        if (r.len != 2) return false;
        if (r.Guard(2) || !r.Has(6)) return true;
        return r.W(4) != 0;
    case 0x00A1:  // SETUP
        if (r.len != 34) return false;
        return r.Guard(34) || r.W(8) <= kMaxRow;
    case 0x00BD:  // MULRK
        return IsMulRkPlausible(r);
    case 0x00BE:  // MULBLANK
        return IsMulBlankPlausible(r);
    case 0x00D6:  // RSTRING
        return IsRStringPlausible(r);
    case 0x00D7:  // DBCELL
        return IsDbCellPlausible(r);
    case 0x00E0:  // XF
        if (r.len != 20) return false;
        return r.Guard(20) || (r.W(4) <= kMaxRow && r.W(6) <= kMaxRow);
    case 0x00E5:  // MERGEDCELLS
        return IsMergedCellsPlausible(r);
    case 0x00E9:  // BITMAP
        if (r.len < 20) return false;
        if (r.rem > 6 && r.W(4) != 9) return false;
        if (r.Guard(8) || !r.Has(8)) return true;
        return r.W(6) == 9;
    case 0x00EB:  // Unknown111
        if (r.len < 4) return false;
        if (r.len == 0x2020) return true;
        if (!r.Has(8)) return true;
        return r.W(4) == 0x000F && r.W(6) == 0xF000;
    case 0x00EC: {  // Unknown666
        if (r.len < 4) return false;
        if (!r.Has(8)) return true;
        uint16_t first = r.W(4);
        return first == 0x000F || (r.len == 8 && first == 0) || ((first & 0xFF0F) == 0x000F && r.B(7) == 0xF0);
    }
    case 0x00EF:  // PHONETIC
        if (r.len < 6) return false;
        if (r.rem > 6) {
            if (!r.Has(10)) return true;
            return r.W(4) <= 512 && r.W(6) <= 63 && r.len == 8 * uint64_t(r.W(8)) + 6;
        }
        return true;
    case 0x00FC:  // SST
        return IsSstPlausible(r);
    case 0x00FD:  // LABELSST
    case 0x027E:  // RK
        if (r.len != 10) return false;
        return r.Guard(10) || CellTriple(r);
    case 0x00FF:  // EXTSST
        return IsExtSstPlausible(r);
    case 0x01AE:  // SUPBOOK
        return IsSupBookPlausible(r);
    case 0x01B0:  // CONDFMT: the rules' count, a flag with the format's number above it, the range around
                  // all the ranges (whole columns reach row 0xFFFF), and the ranges' count.
        if (r.len < 14 || r.len % 8 != 6) return false;
        if (r.Guard(14) || !r.Has(18)) return true;
        return r.len == 8 * uint64_t(r.W(16)) + 14 && r.W(8) <= r.W(10) && r.W(12) <= r.W(14) &&
               r.W(14) <= kMaxColumn;
    case 0x01B2:  // DVAL
        if (r.len != 18) return false;
        return !r.Has(6) || r.W(4) <= 7;
    case 0x01B8:  // HLINK
        if (r.len < 32) return false;
        return r.Guard(32) || (r.D(28) == 2 && r.W(8) <= kMaxColumn && r.W(10) <= kMaxColumn &&
                               r.W(4) <= kMaxRow && r.W(6) <= kMaxRow);
    case 0x01BE:  // DV
        if (r.len < 4) return false;
        return !r.Has(8) || r.D(4) <= 0x00FFFFFF;
    case 0x0200:  // DIMENSIONS
        if (r.len != 14) return false;
        if (r.Guard(14) || !r.Has(18)) return true;
        return r.W(16) == 0;
    case 0x0201:  // BLANK
        return r.len == 6 && CellTriple(r);
    case 0x0203:  // NUMBER
        if (r.len != 14) return false;
        return r.Guard(14) || CellTriple(r);
    case 0x0204:  // LABEL
        if (r.len < 9) return false;
        if (r.rem > 6 && !CellTriple(r)) return false;
        if (r.Guard(13)) return true;
        return MatchesLongString(r, 10, 6);
    case 0x0205:  // BOOLERR
        if (r.len != 8) return false;
        if (r.Guard(8) || !r.Has(12)) return true;
        return r.B(11) <= 1;
    case 0x0207:  // STRING: a formula's text result, as long as its text says
        if (r.len < 4) return false;
        if (r.rem > 2) {
            if (!r.Has(6)) return true;
            if (r.W(4) == 0) return false;
        }
        if (r.Guard(5)) return true;
        return MatchesLongString(r, 4, 0);
    case 0x0208:  // ROW: any row may have a height or format of its own, up to the sheet's last (0xFFFF);
                  // the field after the height is unused and always 0.
        if (r.len != 16) return false;
        return r.Guard(16) || (r.W(6) <= kMaxColumn && r.W(8) <= kMaxColumn && r.W(12) == 0);
    case 0x020B:  // INDEX
        if (r.len < 16 || (r.len - 16) % 4 != 0) return false;
        return r.Guard(16) || (r.D(4) == 0 && r.D(8) <= kMaxRow && r.D(12) <= kMaxRow);
    case 0x0221:  // ARRAY
        if (r.len < 12) return false;
        if (r.Guard(12) || !r.Has(16)) return true;
        return r.W(10) <= 17 && r.D(12) == 0 && r.W(4) <= kMaxRow && r.W(6) <= kMaxRow;
    case 0x0225:  // DEFAULTROWHEIGHT
        if (r.len != 4) return false;
        return !r.Has(6) || r.W(4) <= 15;
    case 0x0236:  // TABLEOP
        if (r.len != 16) return false;
        if (r.Guard(16) || !r.Has(20)) return true;
        return r.W(10) <= 15 && r.W(12) <= kMaxRow && r.W(14) <= kMaxColumn && r.W(16) <= kMaxRow &&
               r.W(18) <= kMaxColumn;
    case 0x023E:  // WINDOW2
        if (r.len != 10 && r.len != 18) return false;
        return r.Guard(18) || (r.W(4) <= 4095 && r.W(8) <= kMaxColumn && r.W(6) <= kMaxRow);
    case 0x0293:  // STYLE
        if (r.len < 4) return false;
        if (r.len == 4 || r.Guard(9)) return true;
        return MatchesLongString(r, 6, 2);
    case 0x041E:  // FORMAT
        if (r.len < 2) return false;
        if (r.rem > 6 && r.W(4) > kMaxRow) return false;
        if (r.Guard(9)) return true;
        return MatchesLongString(r, 6, 2);
    case 0x04BC:  // SHRFMLA
        if (r.len < 8) return false;
        if (r.Guard(8) || !r.Has(11)) return true;
        return r.B(10) == 0 && r.W(4) <= kMaxRow && r.W(6) <= kMaxRow;
    case 0x0800:  // QUICKTIP
        if (r.len < 10) return false;
        return r.Guard(10) || r.W(4) == 0x0800;
    case 0x0809:  // BOF: only BIFF8 streams are recognised
        if (r.len != 16) return false;
        return !r.Has(6) || r.W(4) == 0x0600;
    case 0x0862:  // SHEETLAYOUT
        if (r.len != 20) return false;
        return r.Guard(20) || r.W(4) == 0x0862;
    case 0x0867:  // SHEETPROTECTION
        if (r.len != 23) {
            if (!r.Has(6)) return true;
            if (r.W(4) != 0x0867) return false;
        }
        return r.Guard(23) || r.W(4) == 0x0867;
    case 0x0868:  // RANGEPROTECTION
        if (r.len < 2) return false;
        if (r.Guard(2) || !r.Has(6)) return true;
        return r.W(4) == 0x0868;
    default:
        // ARRAY (0x0021), DCONREF, LABELRANGES and every unnamed type.
        return false;
    }
}

// Types whose rule can pass; a record of one of them cut before its length field is plausible.
bool HasRule(uint16_t type) {
    switch (type) {
    case 0x0021:
    case 0x0051:
    case 0x015F:
        return false;
    default:
        return true;
    }
}

}  // namespace

bool RecordPlausibility::IsPlausible(const uint8_t* buffer, uint32_t position, uint32_t length) {
    if (buffer == nullptr || position >= length || length - position < 2) return false;
    const uint16_t type = LoadU16(buffer + position);
    const uint64_t rem = uint64_t(length) - position;
    // The length field runs off the end of the buffer: nothing more can be judged.
    if (rem < 4) return RecordTypeNames::IsKnown(type) && HasRule(type);
    const Record record {buffer, position, length, rem, LoadU16(buffer + position + 2)};
    return Judge(record, type);
}

}  // namespace tabulon
