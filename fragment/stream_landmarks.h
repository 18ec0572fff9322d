#pragma once
// What the records of a chain have said about the rest of its workbook stream, and the test of a
// candidate block against it. A workbook stream describes itself: the globals list the stream position
// of every sheet's BOF (BOUNDSHEET), each sheet lists the stream position of every DBCELL that ends one of
// its row blocks (INDEX), and real writers put ROW records in ascending row order and cells row by row.
// A block from another workbook, or from elsewhere in the same one, rarely agrees with all of that, so
// the fragment search drops blocks that contradict the chain instead of following them to a wrong end.
//
// Positions are stream positions: byte offsets from the stream's first BOF. The chain passes the stream
// position of the block's first byte; a block whose stream bytes are only part of it would pass the
// position of its first stream byte and the range of its stream bytes.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fragment/shared_string_walk.h"

namespace tabulon {

// Landmark positions of one kind, as listed by the stream. A writer that lists wrong positions would
// make the search drop the right blocks, so a list is only enforced once the chain found one of its
// records where the list said; when the chain's first such record is elsewhere, the list is ignored.
struct LandmarkList {
    enum class Trust : uint8_t { Unconfirmed, Confirmed, Ignored };
    std::shared_ptr<const std::vector<int64_t>> positions;  // sorted; shared between chains, never changed
    bool complete = true;  // false when the listing record ran beyond what the chain could read
    Trust trust = Trust::Unconfirmed;

    bool Active() const { return positions && !positions->empty() && trust != Trust::Ignored; }
};

class StreamLandmarks {
public:
    // Walks the records of buffer[start, end) as block classification does (header by header, up to
    // filler or the end), `start` lying at stream position `streamPosition + start`. False when they
    // contradict what the chain has seen; otherwise the landmarks are updated with what the block adds.
    // Only bytes before `end` are read, except the type and length of a record that starts before it.
    // The bytes before `start` are the rest of the body of the record that ran into this block.
    bool Follow(std::span<const uint8_t> buffer, int32_t start, int32_t end, int64_t streamPosition);
    // A block that lies wholly inside the body of the chain's last record: its first `end` bytes. False
    // when they cannot continue that record (strings of the shared-string table that do not fit).
    bool FollowBody(std::span<const uint8_t> buffer, int32_t end);
    // Whether FollowBody can judge a block: the record being continued is the shared-string table.
    bool JudgesBody() const { return strings_.Active() && !headerCut_; }

    // Row of the last ROW record and of the last cell of the current sheet; -1 when none was seen.
    int32_t LastRowRecord() const { return lastRowRecord_; }
    int32_t LastCellRow() const { return lastCellRow_; }
    int32_t LastCellColumn() const { return lastCellColumn_; }
    // Row and column of the first cell of the block last followed, when it had one before any new sheet.
    int32_t BlockFirstCellRow() const { return blockFirstCellRow_; }
    int32_t BlockFirstCellColumn() const { return blockFirstCellColumn_; }

private:
    struct Walked {
        int64_t position;   // stream position of the record's header
        uint16_t type;
        bool mustBeListed;  // a record that its kind's list names wherever it stands
    };
    bool CheckList(LandmarkList& list, uint16_t type, const std::vector<Walked>& records, int64_t from, int64_t to);

    SharedStringWalk strings_;  // the shared-string table, while the chain is inside it
    bool headerCut_ = false;    // the last block ended inside a record header: the next body is unknown
    LandmarkList sheets_;    // BOF positions of the sheets, from the globals' BOUNDSHEET records
    LandmarkList rowBlocks_; // DBCELL positions of the current sheet, from its INDEX record
    int32_t globals_ = 0;    // BOF records of a workbook globals section seen
    int32_t lastRowRecord_ = -1;
    int32_t lastCellRow_ = -1;
    int32_t lastCellColumn_ = -1;
    int64_t sheetRows_ = -1;     // the current sheet's used range (DIMENSIONS): rows below, columns below
    int32_t sheetColumns_ = -1;
    int32_t blockFirstCellRow_ = -1;
    int32_t blockFirstCellColumn_ = -1;
};

}  // namespace tabulon
