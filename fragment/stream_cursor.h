#pragma once
// A workbook stream read block by block, byte by byte: record headers and bodies may be cut anywhere by
// a block end, even inside a header, and a body may run through whole blocks. The cursor keeps everything
// the next block has to agree with, so that any block can be tried as the stream's continuation by
// feeding a copy of the cursor: where the next record header starts, what the current record's body still
// needs (strings of the shared-string table), which sheet positions the globals listed, and which row and
// cell the current sheet reached.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fragment/office_art_walk.h"
#include "fragment/shared_string_walk.h"
#include "fragment/theme_zip_walk.h"

namespace tabulon {

class RecordSuccessionTable;

class StreamCursor {
public:
    enum class Result : uint8_t {
        Fails,      // the bytes cannot continue this stream
        Continues,  // they can, and the stream goes on after them
        Ends,       // the stream's last EOF lies in them: what follows it is not part of the stream
    };

    // How strictly bytes are judged. A block that lies next on disk is the file's own far more often than
    // any other; a block taken from anywhere else must also begin with a record that may follow the last
    // one and may hold only a few records that their rules find odd. Where the row and cell order is
    // enforced, strings longer than a record body are refused as well: a wrong alignment in a string
    // table reads as such an endless string. Without either, the bytes are taken where the stream stands
    // (the file's own start, or the block next on disk where nothing else fits): their first records
    // need not show the alignment, and one that its rules find odd passes like any further on.
    struct Judging {
        bool strictOrder = false;
        const RecordSuccessionTable* succession = nullptr;  // tests the first record header fed
        bool fromAnywhere = false;
    };

    // Feeds the next bytes of the stream. Records are judged by their type's rules; past the first ones
    // of the bytes fed, which show that they are aligned, an odd record is let pass. On Fails the cursor
    // is left in an unspecified state: feed a copy.
    Result Feed(std::span<const uint8_t> bytes, const Judging& judging);

    // Feeds more bytes of the same piece, as if they had come with the last Feed (for a piece whose stream
    // bytes are not all contiguous): what the Fed* queries report covers both.
    Result FeedMore(std::span<const uint8_t> bytes, const Judging& judging);

    // A cheap first look at bytes offered as the continuation, by the next record header alone (when it
    // lies in them): false when they cannot continue the stream, true when they may.
    bool MayContinueWith(std::span<const uint8_t> bytes, const RecordSuccessionTable* succession) const;

    // Stream position of the next byte.
    int64_t Position() const { return position_; }
    // Whether the next byte is the first of a record header (the last record ended exactly).
    bool AtRecordStart() const { return headerHave_ == 0; }
    // Bytes of the current record's body still to come (0 at a record start or inside a header).
    uint32_t BodyLeft() const { return bodyLeft_; }
    // Whether bytes inside the current record's body, within the next `bytes`, can be judged: the
    // shared-string table's strings, a header of the drawing group's records, a JPEG or PNG picture's
    // bytes, or a header of the theme's zip package.
    bool JudgesBody(uint64_t bytes) const {
        return strings_.Active() || drawings_.JudgesWithin(bytes) || themes_.JudgesWithin(bytes);
    }

    // The first cell record of the bytes last fed, before any new sheet: -1 when there was none.
    int32_t FedFirstCellRow() const { return fedFirstRow_; }
    int32_t FedFirstCellColumn() const { return fedFirstColumn_; }
    // The current sheet's last cell: -1 when none.
    int32_t LastCellRow() const { return lastCellRow_; }
    int32_t LastCellColumn() const { return lastCellColumn_; }
    // The first ROW record of the bytes last fed, before any new sheet, and the current sheet's last one:
    // -1 when none. A sheet's ROW records come in runs before their cells, in row order.
    int32_t FedFirstRowRecord() const { return fedFirstRowRecord_; }
    int32_t LastRowRecord() const { return lastRowRecord_; }
    // The furthest stream position at which the globals list a sheet: -1 before any.
    int64_t FurthestListedSheet() const {
        return sheetPositions_ && !sheetPositions_->empty()
                   ? *std::max_element(sheetPositions_->begin(), sheetPositions_->end())
                   : -1;
    }
    // Known record headers in the bytes last fed.
    int32_t FedKnownRecords() const { return fedKnown_; }
    // Bytes of the shared-string table walked so far.
    int64_t StringBytes() const { return stringBytes_; }
    // Strings of the shared-string table ended per byte of it so far (0 before any).
    double StringsPerByte() const { return stringBytes_ > 0 ? double(strings_.StringsEnded()) / double(stringBytes_) : 0.0; }
    // Strings of the shared-string table ended in the bytes last fed.
    int32_t FedStringsEnded() const { return fedStringsEnded_; }
    // How much the first string begun and ended in the bytes last fed resembles the last one before them.
    int32_t FedStringSimilarity() const { return strings_.SimilarityToMarked(); }

private:
    static constexpr size_t kWindow = 320;  // bytes of a record kept for judging it

    bool StartRecord(const Judging& judging);
    bool JudgeRecord(const Judging& judging);
    bool CheckOrder(bool outOfOrder, const Judging& judging);
    bool FollowsEncryptedBody(std::span<const uint8_t> part);
    bool Complete() const;

    int64_t position_ = 0;
    // The record being read: its header bytes, then its body.
    std::array<uint8_t, 4> header_ {};
    uint8_t headerHave_ = 0;
    uint16_t type_ = 0;
    uint16_t length_ = 0;
    uint32_t bodyLeft_ = 0;
    int64_t recordPosition_ = 0;
    std::array<uint8_t, kWindow> window_ {};  // the record's first bytes, header included
    uint16_t windowHave_ = 0;
    uint16_t windowNeed_ = 0;
    bool judged_ = true;
    bool known_ = false;
    uint16_t previousType_ = 0;
    int32_t unknownRun_ = 0;
    bool firstHeaderOfFeed_ = false;

    SharedStringWalk strings_;
    OfficeArtWalk drawings_;
    ThemeZipWalk themes_;  // judged where the row and cell order is

    int32_t bofCount_ = 0;
    int32_t depth_ = 0;       // BOF records not yet closed by their EOF
    int32_t substreams_ = 0;  // BOF records that opened a substream of their own (not nested in another)
    int32_t sheetsListed_ = 0;
    // Stream positions of the sheets' BOF records, as the globals list them; shared between copies.
    std::shared_ptr<std::vector<int64_t>> sheetPositions_;
    bool sheetListTrusted_ = false;
    bool sheetListIgnored_ = false;
    size_t nextSheet_ = 0;

    int32_t fontsListed_ = 0;  // FONT records of the globals so far
    int32_t formatsListed_ = 0;  // XF records of the globals so far
    bool encrypted_ = false;   // after a FILEPASS record, bodies are not plain
    bool bodyHidden_ = false;  // the current record's body is encrypted
    // Encrypted body bytes fed since the last Feed, and the zero bytes among them: encrypted bytes are
    // zero as rarely as any other value, plain record bodies are full of zeros.
    int64_t fedHiddenBytes_ = 0;
    int64_t fedHiddenZeros_ = 0;
    int32_t lastRowRecord_ = -1;
    int32_t lastCellRow_ = -1;
    int32_t lastCellColumn_ = -1;
    int64_t sheetRowEnd_ = -1;     // the sheet's used range: rows below, columns below (-1 unknown)
    int32_t sheetColumnEnd_ = -1;
    bool ended_ = false;
    bool inChart_ = false;  // between a chart's BOF and its EOF

    int64_t feedStart_ = 0;  // stream position of the first byte last fed
    int32_t fedFirstRow_ = -1;
    int32_t fedFirstRowRecord_ = -1;
    int32_t fedFirstColumn_ = -1;
    int32_t fedKnown_ = 0;
    int32_t fedHeaders_ = 0;
    uint32_t stringsBeforeFeed_ = 0;
    int32_t fedImplausible_ = 0;
    int32_t lastImplausibleType_ = -1;  // of the last record fed that its rules found odd
    bool fedSheetStart_ = false;  // a new sheet began in the bytes fed: its cells are not the chain's
    int32_t fedStringsEnded_ = 0;
    int64_t stringBytes_ = 0;  // body bytes of the shared-string table walked
};

}  // namespace tabulon
