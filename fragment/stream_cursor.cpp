#include "fragment/stream_cursor.h"

#include <algorithm>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_profile.h"
#include "fragment/record_plausibility.h"
#include "fragment/record_succession_table.h"
#include "fragment/record_type_codes.h"
#include "fragment/record_type_names.h"

namespace tabulon {
namespace {

constexpr uint16_t kMaxBody = 8224;
constexpr int32_t kMaxUnknownRun = 3;
constexpr uint16_t kMaxUnknownLength = 1792;
constexpr uint16_t kChartSubstream = 0x0020;  // the kind field of a chart's BOF
constexpr int32_t kAligningRecords = 2;  // headers at the start of a block that must pass their rules
// Records beyond those that may fail their rules in a strictly judged block, for each kImplausibleSpan
// bytes fed: a large cluster holds several sheets' worth of records that real writers fill oddly.
constexpr int32_t kMaxImplausible = 2;
constexpr int64_t kImplausibleSpan = 4096;

bool IsChartRecord(uint16_t type) { return (type & 0xFF00) == 0x1000; }

// After a FILEPASS record every body is encrypted (its header stays plain) but for these records', and
// the first field of a sheet's entry in the globals' list, its position. EOF has no body.
bool StaysPlainWhenEncrypted(uint16_t type) {
    using namespace record_type;
    switch (type) {
        case kBof:
        case kEof:
        case kFilePass:
        case kUsrExcl:
        case kFileLock:
        case kInterfaceHdr:
        case kRrdInfo:
        case kRrdHead:
        case kBoundSheet:
            return true;
        default:
            return false;
    }
}

// The records of a sheet's cell table: cells of every kind, the rows, the formula results and shared
// formulas, and the row-block ends.
bool IsCellTableRecord(uint16_t type) {
    switch (type) {
        case 0x0207:  // STRING, a formula's text result
        case 0x0208:  // ROW
        case 0x0221:  // ARRAY
        case 0x0236:  // TABLE
        case 0x04BC:  // SHRFMLA
        case 0x00D7:  // DBCELL
            return true;
        default:
            return IsCellRecord(type);
    }
}

// The table of successions is learnt from sample workbooks and cannot list every order that real ones
// use: charts are runs of their own records (0x10xx) in any order the chart needs, and a row's cells come
// in any mix of kinds.
// A record whose body is (nearly) as long as a body may be goes on in CONTINUE records, whatever its type:
// writers stop a little short where the next unit (a string, a pixel row) would not fit.
constexpr uint16_t kNearlyFullBody = kMaxBody - 16;
bool MayFollow(const RecordSuccessionTable& table, uint16_t last, uint16_t lastLength, uint16_t next) {
    return table.MayFollow(last, next) || IsChartRecord(last) || IsChartRecord(next) ||
           (IsCellTableRecord(last) && IsCellTableRecord(next)) ||
           (next == record_type::kContinue && lastLength >= kNearlyFullBody);
}

// Where a cell or column record keeps cell format indexes, from the record's start (header included),
// as far as the `have` bytes at hand hold them.
std::vector<size_t> CellFormatOffsets(uint16_t type, uint16_t length, size_t have) {
    using namespace record_type;
    std::vector<size_t> offsets;
    const auto add = [&](size_t at) {
        if (at + 2 <= have) offsets.push_back(at);
    };
    switch (type) {
        case kMulRk:
            for (size_t i = 0; i + 1 < length / 6u; ++i) add(8 + 6 * i);
            break;
        case kMulBlank:
            for (size_t i = 0; length >= 6 && i < (length - 6u) / 2; ++i) add(8 + 2 * i);
            break;
        case kColInfo:
            add(10);
            break;
        default:
            if (IsCellRecord(type)) add(8);
    }
    return offsets;
}

// The record rules refuse a cell format index past the few a workbook of a modest size has, and a cell
// row past 0x3FFF, which a wrong alignment reads far more often than real ones. A workbook whose globals
// list more formats uses them in its cells and columns, and a sheet whose used range reaches further has
// cells down there: such a record, judged with those indexes and rows lowered to 0, passes as any other.
bool PassesWithinWorkbookBounds(std::span<const uint8_t> record, int32_t formatsListed, int64_t rowEnd) {
    if (record.size() < 4) return false;
    std::vector<uint8_t> copy(record.begin(), record.end());
    const uint16_t type = LoadU16(copy.data());
    bool lowered = false;
    if (formatsListed > RecordPlausibility::kMaxCellFormat + 1) {
        for (const size_t at : CellFormatOffsets(type, LoadU16(copy.data() + 2), copy.size())) {
            const uint16_t index = LoadU16(copy.data() + at);
            if (index > RecordPlausibility::kMaxCellFormat && index < formatsListed) {
                StoreU16(copy.data() + at, 0);
                lowered = true;
            }
        }
    }
    if (rowEnd > RecordPlausibility::kMaxCellRow + 1 && IsCellRecord(type) && copy.size() >= 6) {
        const uint16_t row = LoadU16(copy.data() + 4);
        if (row > RecordPlausibility::kMaxCellRow && row < rowEnd) {
            StoreU16(copy.data() + 4, 0);
            lowered = true;
        }
    }
    return lowered && RecordPlausibility::IsPlausible(copy.data(), 0, uint32_t(copy.size()));
}

}  // namespace

// The stream ends with the EOF that closes its last listed sheet: the globals and every sheet the globals
// listed stand on their own, while a chart embedded in a sheet (its BOF before the sheet's EOF) is part
// of that sheet and counts for nothing.
bool StreamCursor::Complete() const {
    const int32_t sheetsNeeded = sheetsListed_ > 0 ? sheetsListed_ : 1;
    return depth_ == 0 && substreams_ >= 1 + sheetsNeeded;
}

bool StreamCursor::MayContinueWith(std::span<const uint8_t> bytes, const RecordSuccessionTable* succession) const {
    if (ended_ || (headerHave_ != 0 && headerHave_ < 4)) return true;
    const uint64_t entry = headerHave_ == 0 ? 0 : bodyLeft_;
    if (entry + 4 > bytes.size()) return true;
    const uint16_t type = LoadU16(bytes.data() + entry);
    const uint16_t length = LoadU16(bytes.data() + entry + 2);
    if (IsFiller(type) || length > kMaxBody) return false;
    const uint16_t before = headerHave_ == 0 ? previousType_ : type_;
    // The record before the header is the last one read (or, inside a body, the current one): its
    // length is still length_.
    return succession == nullptr || MayFollow(*succession, before, length_, type);
}

bool StreamCursor::CheckOrder(bool outOfOrder, const Judging& judging) {
    return !outOfOrder || !judging.strictOrder;
}

bool StreamCursor::StartRecord(const Judging& judging) {
    const uint16_t previousLength = length_;
    type_ = LoadU16(header_.data());
    length_ = LoadU16(header_.data() + 2);
    if (IsFiller(type_) || length_ > kMaxBody) return false;
    if (firstHeaderOfFeed_ && judging.succession != nullptr &&
        !MayFollow(*judging.succession, previousType_, previousLength, type_))
        return false;
    firstHeaderOfFeed_ = false;
    ++fedHeaders_;
    // The globals hold no chart records but the charts' palette: these are a chart's records read as the
    // globals' continuation.
    if (bofCount_ == 1 && depth_ == 1 && IsChartRecord(type_) && type_ != record_type::kClrtClient &&
        !CheckOrder(true, judging))
        return false;
    if (sheetListTrusted_ && nextSheet_ < sheetPositions_->size()) {
        // The globals said where each sheet begins: nothing else may stand there, nor may it be passed.
        const int64_t listed = (*sheetPositions_)[nextSheet_];
        if (recordPosition_ > listed || (recordPosition_ == listed && type_ != record_type::kBof)) return false;
    }
    known_ = RecordTypeNames::IsKnown(type_);
    std::copy(header_.begin(), header_.end(), window_.begin());
    windowHave_ = 4;
    windowNeed_ = uint16_t(std::min<size_t>(size_t(length_) + 4, kWindow));
    judged_ = false;
    bodyLeft_ = length_;
    bodyHidden_ = encrypted_ && !StaysPlainWhenEncrypted(type_);
    if (!encrypted_) {
        // Encrypted bodies are not followed: their strings, drawings and packages are unreadable.
        strings_.StartRecord(type_);
        drawings_.StartRecord(type_);
        themes_.StartRecord(type_, length_);
    }
    return true;
}

bool StreamCursor::JudgeRecord(const Judging& judging) {
    using namespace record_type;
    judged_ = true;
    const uint8_t* body = window_.data() + 4;
    const size_t bodyHave = size_t(windowHave_) - 4;
    // Records added to the format later (0x08xx) repeat their own type at the start of their body.
    // Encrypted, they are taken on their type.
    if (!known_ && (type_ & 0xFF00) == 0x0800 && (bodyHidden_ || (bodyHave >= 2 && LoadU16(body) == type_)))
        known_ = true;
    // A chart's records (0x10xx) come in long runs of small records: inside a chart, and past a block's
    // first records, where the alignment is shown, they count as known.
    if (!known_ && IsChartRecord(type_) && (inChart_ || fedHeaders_ > kAligningRecords)) known_ = true;
    // The records that set a block's alignment must pass their type's rules. Further on, a chain of
    // headers that fit already shows the alignment, and a record its rules find odd (real writers fill
    // fields in ways the rules do not foresee) is let pass.
    // An encrypted body tells nothing of its record: such a record is judged by its header alone.
    if (!bodyHidden_ && known_ && RecordTypeNames::IsKnown(type_) &&
        !RecordPlausibility::IsPlausible(window_.data(), 0, windowHave_) &&
        !PassesWithinWorkbookBounds(std::span(window_.data(), windowHave_), formatsListed_, sheetRowEnd_)) {
        // Judged loosely, bytes are taken where the stream stands, not for the alignment their records
        // show: the block next on disk after a piece's last. Its first records are odd ones as well.
        if (fedHeaders_ <= kAligningRecords && (judging.strictOrder || judging.fromAnywhere)) return false;
        // Records of one kind come in runs (fonts, formats, column widths): one that the rules find odd
        // is usually followed by more, so they do not count as unknown, and a run counts once. A block
        // taken from anywhere may hold only a few.
        const int64_t spans = 1 + std::max<int64_t>(recordPosition_ - feedStart_, 0) / kImplausibleSpan;
        const bool newRun = type_ != lastImplausibleType_;
        lastImplausibleType_ = type_;
        if (judging.fromAnywhere && newRun && ++fedImplausible_ > kMaxImplausible * spans) return false;
    }
    if (known_) {
        ++fedKnown_;
        unknownRun_ = 0;
    } else {
        // Records of one kind come in runs (the strings of a query table, of a pivot cache): a header
        // chain that repeats its type shows the alignment as well as known ones, and counts once.
        if (length_ != 0 && length_ != 2 && type_ != previousType_) ++unknownRun_;
        if (unknownRun_ > kMaxUnknownRun || length_ >= kMaxUnknownLength) return false;
        return true;
    }
    if (bodyHidden_) return true;

    if (type_ == kBof) {
        ++bofCount_;
        if (depth_++ == 0) ++substreams_;
        inChart_ = bodyHave >= 4 && LoadU16(body + 2) == kChartSubstream;
        if (bofCount_ > 1) {
            if (!sheetListTrusted_ && !sheetListIgnored_ && sheetPositions_ && !sheetPositions_->empty()) {
                // A writer that lists wrong positions must not lose its file: the list is enforced only
                // once the first sheet stands where it says.
                if (recordPosition_ == sheetPositions_->front())
                    sheetListTrusted_ = true;
                else
                    sheetListIgnored_ = true;
            }
            if (sheetListTrusted_ && nextSheet_ < sheetPositions_->size() &&
                recordPosition_ == (*sheetPositions_)[nextSheet_])
                ++nextSheet_;
            // A chart inside a sheet has cells of its own (its series' cached values), in an order of
            // their own; the sheet's order goes on after the chart's EOF.
            if (!inChart_) {
                lastRowRecord_ = lastCellRow_ = lastCellColumn_ = -1;
                fedSheetStart_ = true;
                sheetRowEnd_ = sheetColumnEnd_ = -1;
            }
        }
    } else if (type_ == kEof) {
        if (depth_ > 0) --depth_;
        inChart_ = false;
    } else if (type_ == kBoundSheet && bofCount_ == 1) {
        if (bodyHave >= 4) {
            if (!sheetPositions_)
                sheetPositions_ = std::make_shared<std::vector<int64_t>>();
            else if (sheetPositions_.use_count() > 1)
                sheetPositions_ = std::make_shared<std::vector<int64_t>>(*sheetPositions_);
            const int64_t at = LoadU32(body);
            // Sheets follow each other; a list out of order cannot be enforced position by position.
            if (!sheetPositions_->empty() && at <= sheetPositions_->back()) sheetListIgnored_ = true;
            sheetPositions_->push_back(at);
        }
        ++sheetsListed_;
    } else if (type_ == kFont && bofCount_ == 1) {
        ++fontsListed_;
    } else if (type_ == kFilePass) {
        encrypted_ = true;
    } else if (type_ == kXf && bofCount_ == 1 && bodyHave >= 2 && !encrypted_) {
        ++formatsListed_;
        // A cell format names a font of the globals' list, which comes before the formats (the index 4 is
        // never used, so the last font's index is the count). Another file's formats name fonts of its own.
        if (!CheckOrder(fontsListed_ > 0 && LoadU16(body) > fontsListed_, judging)) return false;
    } else if (bofCount_ == 1 && depth_ == 1 && IsCellTableRecord(type_)) {
        // The globals hold no cells: these are a sheet's records read as the globals' continuation.
        if (!CheckOrder(true, judging)) return false;
    } else if (inChart_) {
        // Nothing in a chart is held to the sheet's used range or order.
    } else if (type_ == kDimensions && bofCount_ > 1 && bodyHave >= 12) {
        sheetRowEnd_ = LoadU32(body + 4);
        sheetColumnEnd_ = LoadU16(body + 10);
    } else if (type_ == kRow && bodyHave >= 2) {
        const int32_t row = LoadU16(body);
        // Rows with a height or format of their own may lie beyond the used range of the cells.
        const bool outOfOrder = lastRowRecord_ >= 0 && row <= lastRowRecord_;
        if (!CheckOrder(outOfOrder, judging)) return false;
        if (fedFirstRowRecord_ < 0 && !fedSheetStart_ && recordPosition_ >= feedStart_) fedFirstRowRecord_ = row;
        lastRowRecord_ = row;
    } else if (IsCellRecord(type_) && bodyHave >= 4) {
        const int32_t row = LoadU16(body);
        const int32_t column = LoadU16(body + 2);
        const bool outOfOrder = (lastCellRow_ >= 0 && (row < lastCellRow_ || (row == lastCellRow_ && column <= lastCellColumn_))) ||
                                (sheetRowEnd_ > 0 && row >= sheetRowEnd_) ||
                                (sheetColumnEnd_ > 0 && column >= sheetColumnEnd_);
        if (!CheckOrder(outOfOrder, judging)) return false;
        int32_t lastColumn = column;
        if ((type_ == kMulRk || type_ == kMulBlank) && bodyHave == length_ && length_ >= 6)
            lastColumn = std::max<int32_t>(column, LoadU16(body + length_ - 2));
        // A record begun before these bytes says nothing of them, even when they complete it.
        if (fedFirstRow_ < 0 && !fedSheetStart_ && recordPosition_ >= feedStart_) {
            fedFirstRow_ = row;
            fedFirstColumn_ = column;
        }
        lastCellRow_ = row;
        lastCellColumn_ = lastColumn;
    }
    return true;
}

StreamCursor::Result StreamCursor::Feed(std::span<const uint8_t> bytes, const Judging& judging) {
    fedFirstRow_ = fedFirstColumn_ = fedFirstRowRecord_ = -1;
    fedKnown_ = 0;
    fedSheetStart_ = false;
    firstHeaderOfFeed_ = true;
    fedStringsEnded_ = 0;
    feedStart_ = position_;
    fedHeaders_ = 0;
    fedImplausible_ = 0;
    lastImplausibleType_ = -1;
    stringsBeforeFeed_ = strings_.StringsEnded();
    strings_.MarkFeed();
    fedHiddenBytes_ = fedHiddenZeros_ = 0;
    return FeedMore(bytes, judging);
}

// Where the bytes fed show enough encrypted body, it must not hold more zeros than chance gives: one in
// 256, allowed up to one in 16 (a plain body has them in nearly every field).
bool StreamCursor::FollowsEncryptedBody(std::span<const uint8_t> part) {
    constexpr int64_t kEnoughBytes = 64;
    fedHiddenBytes_ += int64_t(part.size());
    fedHiddenZeros_ += std::count(part.begin(), part.end(), uint8_t(0));
    return fedHiddenBytes_ < kEnoughBytes || fedHiddenZeros_ * 16 <= fedHiddenBytes_;
}

StreamCursor::Result StreamCursor::FeedMore(std::span<const uint8_t> bytes, const Judging& judging) {
    strings_.RefuseLongStrings(judging.strictOrder);
    if (ended_) return Result::Ends;
    const uint32_t stringsBefore = stringsBeforeFeed_;
    size_t at = 0;
    const size_t n = bytes.size();
    while (at < n) {
        if (headerHave_ < 4) {
            if (headerHave_ == 0) recordPosition_ = position_;
            header_[headerHave_++] = bytes[at++];
            ++position_;
            if (headerHave_ < 4) continue;
            if (!StartRecord(judging)) return Result::Fails;
        } else {
            const size_t chunk = std::min<size_t>(bodyLeft_, n - at);
            const std::span<const uint8_t> part = bytes.subspan(at, chunk);
            if (!judged_) {
                const size_t take = std::min<size_t>(chunk, size_t(windowNeed_ - windowHave_));
                std::copy_n(part.begin(), take, window_.begin() + windowHave_);
                windowHave_ = uint16_t(windowHave_ + take);
            }
            if (strings_.Active() || strings_.Ended()) {
                if (!strings_.Feed(part, position_)) return Result::Fails;
                stringBytes_ += int64_t(chunk);
                fedStringsEnded_ = int32_t(strings_.StringsEnded() - stringsBefore);
            } else if (strings_.ChecksIndex() && !encrypted_ && !strings_.Feed(part, position_)) {
                return Result::Fails;
            }
            if (bodyHidden_ && !FollowsEncryptedBody(part)) return Result::Fails;
            if (drawings_.Active() && !drawings_.Feed(part) && judging.strictOrder) return Result::Fails;
            if (themes_.Active() && !themes_.Feed(part) && judging.strictOrder) return Result::Fails;
            at += chunk;
            position_ += int64_t(chunk);
            bodyLeft_ -= uint32_t(chunk);
        }
        if (!judged_ && windowHave_ >= windowNeed_ && !JudgeRecord(judging)) return Result::Fails;
        if (bodyLeft_ == 0) {
            previousType_ = type_;
            headerHave_ = 0;
            if (type_ == record_type::kEof && Complete()) {
                ended_ = true;
                return Result::Ends;
            }
        }
    }
    return Result::Continues;
}

}  // namespace tabulon
