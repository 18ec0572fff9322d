#pragma once
// Follows the strings of a workbook's shared-string table through its SST record and the CONTINUE
// records after it, byte by byte, so that a block holding only string data can be judged: each string
// has a header whose option byte allows few values, and where a CONTINUE record cuts a string's
// characters it begins with a fresh option byte. A block of another table, or of another part of the
// same one, puts those bytes where this table has text, and text is never a valid option byte; record
// bytes read as text show control characters that cell text does not have.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tabulon {

class SharedStringWalk {
public:
    // A record header was passed: SST starts the walk, CONTINUE carries it on, EXTSST right after a
    // table walked whole starts the index check, any other type ends it.
    void StartRecord(uint16_t type);
    // The next body bytes of the current record, in stream order; `position` is the stream position of
    // the first of them (-1: not known, and the index is not checked). False when they cannot be string
    // data of this table, when they go on after its last string, or when the index disagrees with where
    // its strings began.
    bool Feed(std::span<const uint8_t> body, int64_t position = -1);
    void Stop() { state_ = State::Off; }
    // Whether a string longer than a whole record body makes Feed fail (the default). Bytes read at a
    // wrong place in a table often make such an endless string, which would let any bytes after it pass;
    // real ones are rare, but they exist.
    void RefuseLongStrings(bool refuse) { refuseLongStrings_ = refuse; }
    bool Active() const { return state_ != State::Off && state_ != State::Index; }
    // Whether the table's last string has ended inside the records that hold it: any further body bytes
    // of those records make Feed fail.
    bool Ended() const { return state_ == State::Off && tableWhole_; }
    // Whether the bytes fed next are the table's index, checked against the strings' starts.
    bool ChecksIndex() const { return state_ == State::Index; }
    // Strings whose every byte the walk has passed: evidence that the bytes fed really are this table's.
    uint32_t StringsEnded() const { return stringsEnded_; }

    // Neighbouring strings of a table tend to resemble each other (they come from neighbouring cells), so
    // how much the first string begun after a mark shares with the last string ended before it tells a
    // table's next bytes from bytes of another table alike in form. Call MarkFeed before feeding.
    void MarkFeed();
    // Leading character bytes that the first string begun and ended since the mark shares with the last
    // string ended before it; 0 when no string was begun and ended since.
    int32_t SimilarityToMarked() const;

private:
    enum class State : uint8_t { Off, Counts, Header, Characters, Trailer, Index };
    bool StartString();
    void EndString();
    void CountControl(uint16_t character);
    void KeepStart(int64_t position);
    bool CheckIndexEntry();

    State state_ = State::Off;
    bool recordStart_ = false;  // the next byte is the first of a CONTINUE record's body
    uint8_t header_[9] {};
    uint8_t headerHave_ = 0;
    uint8_t headerNeed_ = 3;
    uint8_t countsHave_ = 0;
    uint8_t counts_[8] {};
    uint32_t stringsLeft_ = 0;
    uint32_t stringsEnded_ = 0;
    bool refuseLongStrings_ = true;
    static constexpr size_t kTextBytes = 32;  // leading character bytes kept of a string
    std::array<uint8_t, kTextBytes> text_ {};  // of the string being read
    uint8_t textLength_ = 0;
    std::array<uint8_t, kTextBytes> lastText_ {};  // of the last string ended
    uint8_t lastTextLength_ = 0;
    std::array<uint8_t, kTextBytes> markedText_ {};  // the last string ended before the mark
    uint8_t markedTextLength_ = 0;
    std::array<uint8_t, kTextBytes> firstText_ {};  // the first string begun and ended after it
    uint8_t firstTextLength_ = 0;
    bool markArmed_ = false;
    bool startedAfterMark_ = false;
    uint32_t charactersLeft_ = 0;
    bool wide_ = false;
    bool halfCharacter_ = false;  // the first byte of a 16-bit character was taken
    uint8_t lowHalf_ = 0;         // that byte
    uint32_t controlCharacters_ = 0;  // in the string being read
    uint64_t trailerLeft_ = 0;    // rich-text runs and phonetic data after the characters

    // The index check. The stream positions of the starts of strings 0, stride, 2 x stride, ...; the
    // stride doubles where the list would grow past kMaxStarts, so that a copy of the walk stays cheap
    // (the list is shared between copies until one of them adds to it).
    static constexpr size_t kMaxStarts = 1024;
    std::shared_ptr<std::vector<uint32_t>> starts_;
    uint32_t stride_ = 8;
    uint32_t stringsBegun_ = 0;
    bool positionsKnown_ = false;  // every byte of the table was fed with its position
    bool tableWhole_ = false;      // the table's last string ended
    uint8_t indexBytes_[8] {};
    uint8_t indexHave_ = 0;
    uint16_t bucket_ = 0;          // strings a bucket of the index holds; 0 until read
    bool bucketRead_ = false;
    uint32_t entries_ = 0;         // index entries read
    int64_t baseIndexed_ = -1;     // the first entry that could be checked: its position in the index
    int64_t baseFound_ = -1;       // and where the walk found that string
};

}  // namespace tabulon
