#include "workbook/biff_record.h"

#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "workbook/cell_record.h"
#include "workbook/formula_records.h"
#include "workbook/global_records.h"
#include "workbook/rk_value.h"
#include "workbook/shared_string_records.h"
#include "workbook/sheet_structure_records.h"

namespace tabulon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(BiffRecord& record) {
    Bytes out(record.RecordSize());
    EXPECT_EQ(record.Write(out), out.size());
    return out;
}

// Record header bytes followed by a body.
Bytes Record(uint16_t type, const Bytes& body) {
    Bytes out = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(body.size()),
                 static_cast<uint8_t>(body.size() >> 8)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(BiffRecordTest, FixedAndSimpleRecordsMatchHandComputedBytes) {
    BiffRecord eof(0x000A);
    EXPECT_EQ(Written(eof), (Bytes {0x0A, 0x00, 0x00, 0x00}));

    BofRecord bof;
    EXPECT_EQ(Written(bof), (Bytes {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00, 0xA0, 0x19, 0xCD, 0x07, 0xC9,
                                    0xC0, 0x00, 0x00, 0x06, 0x03, 0x00, 0x00}));

    FontRecord font;  // "Arial" as 16-bit text: 14 + 2 + 10 bytes
    EXPECT_EQ(Written(font), (Bytes {0x31, 0x00, 0x1A, 0x00, 0xC8, 0x00, 0x00, 0x00, 0xFF, 0x7F, 0x90, 0x01, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 'A',  0,    'r',  0,    'i',  0,
                                     'a',  0,    'l',  0}));

    BoundSheetRecord sheet;  // 8-bit name
    sheet.streamPosition = 0x1234;
    sheet.name = BiffText::Narrow("Sheet1");
    EXPECT_EQ(Written(sheet), (Bytes {0x85, 0x00, 0x0E, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 'S', 'h',
                                      'e', 'e', 't', '1'}));
    EXPECT_EQ(ShortStringSize(BiffText::Wide(u"abc")), 8u);

    StyleRecord style;
    EXPECT_EQ(Written(style), (Bytes {0x93, 0x02, 0x04, 0x00, 0x00, 0x80, 0x00, 0xFF}));

    MulRkRecord mulRk;  // integers 5, 6, 7 in columns 2..4 of row 1
    mulRk.row = 1;
    mulRk.column = 2;
    for (int v : {5, 6, 7}) mulRk.entries.push_back({0, *IntegerRk(v)});
    EXPECT_EQ(Written(mulRk), (Bytes {0xBD, 0x00, 0x18, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 22, 0, 0, 0, 0x00,
                                      0x00, 26, 0, 0, 0, 0x00, 0x00, 30, 0, 0, 0, 0x04, 0x00}));

    DbCellRecord dbCell;
    dbCell.firstRowOffset = 0x30;
    dbCell.rowOffsets = {20, 14};
    EXPECT_EQ(Written(dbCell), (Bytes {0xD7, 0x00, 0x08, 0x00, 0x30, 0x00, 0x00, 0x00, 20, 0, 14, 0}));
}

TEST(BiffRecordTest, LongBodiesAreSplitIntoContinueRecords) {
    struct Case {
        size_t body;
        uint32_t recordSize;
    };
    for (const Case& c : {Case {0, 4}, Case {8224, 8228}, Case {8225, 8233}, Case {16448, 16456}, Case {20000, 20012}}) {
        BiffRecord record(0x1234);
        Bytes body(c.body);
        for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7);
        record.SetBody(body);
        ASSERT_EQ(record.RecordSize(), c.recordSize) << c.body;
        Bytes out = Written(record);
        // Walk the chunks: the first has the record's type, the rest are CONTINUE records.
        Bytes joined;
        size_t at = 0;
        int chunk = 0;
        while (at < out.size()) {
            EXPECT_EQ(LoadU16(&out[at]), chunk == 0 ? 0x1234 : kContinueRecordType);
            size_t length = LoadU16(&out[at + 2]);
            EXPECT_LE(length, kMaxRecordBody);
            joined.insert(joined.end(), out.begin() + at + 4, out.begin() + at + 4 + length);
            at += 4 + length;
            ++chunk;
        }
        EXPECT_EQ(joined, body);
        BiffRecord again(0);
        EXPECT_EQ(again.Read(out), out.size());
        EXPECT_EQ(again.Body(), body);
    }
}

TEST(BiffRecordTest, ReadJoinsContinueRecordsAndRejectsBrokenInput) {
    Bytes bytes = Join({Record(0x00E5, {1, 2, 3}), Record(0x003C, {4, 5}), Record(0x003C, {6}), Record(0x000A, {})});
    BiffRecord record(0);
    EXPECT_EQ(record.Read(bytes), 7u + 6 + 5);
    EXPECT_EQ(record.Body(), (Bytes {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(record.ContinueOffsets(), (std::vector<uint32_t> {3, 5}));
    // Writing again keeps the split points that were read.
    Bytes out = Written(record);
    EXPECT_EQ(out, Bytes(bytes.begin(), bytes.end() - 4));

    Bytes cut = Record(0x0203, Bytes(14, 0));
    cut.pop_back();
    NumberRecord number;
    EXPECT_EQ(number.Read(cut), 0u);                                         // body past the end
    EXPECT_EQ(number.Read(Record(0x0203, Bytes(6, 0))), 0u);                 // body too short for its fields
    EXPECT_EQ(number.Read(Record(0x027E, Bytes(10, 0))), 0u);                // another record type
    EXPECT_EQ(number.Read(Bytes {0x03, 0x02}), 0u);                          // no whole header
    Bytes cutContinue = Join({Record(0x00FC, Bytes(8, 0)), {0x3C, 0x00, 0x10, 0x00, 1}});
    SstRecord sst;
    EXPECT_EQ(sst.Read(cutContinue), 0u);
}

TEST(BiffRecordTest, SplitPointsPastABodyThatShrankAreNotUsed) {
    // An oversized first part (8,233 bytes) and an empty CONTINUE: the extended-SST body keeps only
    // whole buckets (8,226 bytes), so the split point read at 8,233 lies past it. The plain split
    // also has two parts, which must not make the writer take the stale split point.
    Bytes bytes = Join({Record(0x00FF, Bytes(8233, 0x11)), Record(0x003C, {})});
    ExtSstRecord extSst;
    ASSERT_EQ(extSst.Read(bytes), bytes.size());
    ASSERT_EQ(extSst.DataSize(), 8226u);
    Bytes out = Written(extSst);
    ASSERT_EQ(out.size(), 8226u + 2 * 4);
    EXPECT_EQ(LoadU16(out.data() + 2), 8224u);
    EXPECT_EQ(LoadU16(out.data() + 4 + 8224), 0x003Cu);
    EXPECT_EQ(LoadU16(out.data() + 4 + 8224 + 2), 2u);
}

TEST(BiffRecordTest, RkFormsKeepValuesExactly) {
    EXPECT_EQ(*IntegerRk(5), 22u);
    EXPECT_EQ(DecodeRk(*IntegerRk(-7)), -7.0);
    EXPECT_EQ(DecodeRk(*IntegerRk((1 << 29) - 1)), double((1 << 29) - 1));
    EXPECT_FALSE(IntegerRk(1 << 29));
    EXPECT_FALSE(IntegerRk(-(1 << 29) - 1));

    uint32_t half = *RealRk(0.5);  // 0.5 x 100 = 50 is stored with the divide flag
    EXPECT_EQ(half & 3, 1u);
    EXPECT_EQ(DecodeRk(half & ~1u), 50.0);
    EXPECT_EQ(*RealRk(2.0), 0x40000000u);
    EXPECT_FALSE(RealRk(0.125));  // three decimals: a NUMBER
    for (double v : {0.07, -3.25, 0.01, -0.5, 1000.5}) {
        auto rk = RealRk(v);
        ASSERT_TRUE(rk) << v;
        EXPECT_EQ(DecodeRk(*rk), v) << v;
    }
    EXPECT_FALSE(RealRk(123456.78));  // needs more than 30 bits: a NUMBER keeps it exactly
    EXPECT_FALSE(RealRk(1e300));  // out of the 32-bit check's range
    EXPECT_FALSE(RealRk(std::numeric_limits<double>::quiet_NaN()));
}

BiffText Narrow(size_t length, char c) { return BiffText::Narrow(std::string(length, c)); }

TEST(BiffRecordTest, SharedStringsSplitAtStringBoundariesAndRepeatTheOptionByte) {
    // Fits in one record: no CONTINUE.
    SstRecord small;
    small.strings = {Narrow(100, 'a'), BiffText::Wide(u"\u4e2d\u6587")};
    small.uniqueCount = small.totalCount = 2;
    EXPECT_EQ(small.DataSize(), 8u + 103 + 7);
    EXPECT_TRUE(small.ContinueOffsets().empty());

    // The second string would start 10 bytes before the record's end: it starts the CONTINUE.
    SstRecord late;
    late.strings = {Narrow(8224 - 8 - 3 - 10, 'a'), Narrow(20, 'b')};
    late.uniqueCount = 2;
    EXPECT_EQ(late.DataSize(), 8224u - 10 + 23);
    EXPECT_EQ(late.ContinueOffsets(), (std::vector<uint32_t> {8214}));

    // With 12 bytes left the string starts there and is cut; the continuation repeats its flags.
    SstRecord cut;
    cut.strings = {Narrow(8224 - 8 - 3 - 12, 'a'), Narrow(20, 'b')};
    cut.uniqueCount = 2;
    EXPECT_EQ(cut.DataSize(), 8224u - 12 + 3 + 20 + 1);
    EXPECT_EQ(cut.ContinueOffsets(), (std::vector<uint32_t> {8224}));
    Bytes out = Written(cut);
    ASSERT_EQ(out.size(), 8228u + 4 + 12);
    EXPECT_EQ(LoadU16(&out[8228]), kContinueRecordType);
    EXPECT_EQ(LoadU16(&out[8230]), 12);
    EXPECT_EQ(out[8232], 0);  // the repeated option byte (8-bit)
    EXPECT_EQ(out[8233], 'b');

    // A wide string cut at an odd boundary leaves the last byte empty so characters stay whole.
    SstRecord wide;
    wide.strings = {Narrow(8224 - 8 - 3 - 14, 'a'), BiffText::Wide(std::u16string(10, u'\u00e9'))};
    wide.uniqueCount = 2;
    wide.DataSize();
    ASSERT_EQ(wide.ContinueOffsets().size(), 1u);
    EXPECT_EQ(wide.ContinueOffsets()[0], 8224u - 14 + 3 + 10);  // 5 characters, one byte unused

    // Very long strings span several CONTINUE records; everything reads back.
    SstRecord many;
    many.strings = {Narrow(20000, 'x'), BiffText::Wide(std::u16string(9000, u'\u00fc')), Narrow(0, 'z'),
                    BiffText::Wide(u"end")};
    many.uniqueCount = static_cast<uint32_t>(many.strings.size());
    many.totalCount = 9;
    for (SstRecord* record : {&small, &late, &cut, &wide, &many}) {
        Bytes bytes = Written(*record);
        SstRecord read;
        ASSERT_EQ(read.Read(bytes), bytes.size());
        EXPECT_EQ(read.totalCount, record->totalCount);
        ASSERT_EQ(read.strings.size(), record->strings.size());
        for (size_t i = 0; i < read.strings.size(); ++i) EXPECT_TRUE(read.strings[i] == record->strings[i]) << i;
    }
}

TEST(BiffRecordTest, FormulaCarriesItsAttachmentAndStringResult) {
    Bytes formulaBody(26, 0);
    formulaBody[0] = 3;     // row
    formulaBody[2] = 1;     // column
    formulaBody[12] = 0xFF;  // string result marker in the result bytes
    formulaBody[13] = 0xFF;
    formulaBody[18] = 0x42;  // opaque formula bytes
    Bytes shared(12, 0x11);
    Bytes text = {5, 0, 0, 'h', 'e', 'l'};
    Bytes bytes = Join({Record(0x0006, formulaBody), Record(0x04BC, shared), Record(0x0207, text),
                        Record(0x003C, {0, 'l', 'o'}), Record(0x000A, {})});
    CellRecord cell(0);
    EXPECT_FALSE(cell.IsValid());
    ASSERT_EQ(cell.Read(bytes), bytes.size() - 4);
    EXPECT_EQ(cell.Row(), 3);
    EXPECT_EQ(cell.Column(), 1);
    auto* formula = cell.As<FormulaRecord>();
    ASSERT_NE(formula, nullptr);
    ASSERT_NE(formula->attachment, nullptr);
    EXPECT_EQ(formula->attachment->Type(), ShrFmlaRecord::kType);
    EXPECT_EQ(formula->stringResult.Text().narrow, "hello");
    EXPECT_EQ(formula->rest.size(), 8u);
    EXPECT_EQ(cell.RecordSize(), bytes.size() - 4);
    Bytes out(cell.RecordSize());
    EXPECT_EQ(cell.Write(out), out.size());
    EXPECT_EQ(out, Bytes(bytes.begin(), bytes.end() - 4));

    EXPECT_FALSE(CellRecord(0x0809).IsValid());
    EXPECT_EQ(CellRecord(0).Read(Record(0x0809, Bytes(16, 0))), 0u);
}

}  // namespace
}  // namespace tabulon
