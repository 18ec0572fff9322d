#pragma once
// Which BIFF8 record type may follow which across a block boundary, and the body length to assume for a
// record whose length field is cut off by the block end. The fragment search asks it before classifying
// a candidate block: a block whose first record cannot follow the chain's last record is not examined.
//
// The table is learnt from real workbook streams (tools/build_succession_table) and shipped scrambled as
// an embedded resource. Stored layout once unscrambled: u16 entry count, then per entry u16 record type,
// u16 successor count k, u16 assumed length and k u16 successor types. Scrambled form: a sequence of
// 32-bit little-endian words; the first word is the seed of a 32-bit key, every following word is XORed
// with a key derived from the previous key and the word's byte offset (NextScrambleKey); trailing bytes
// that do not fill a word are stored as they are.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tabulon {

struct EmbeddedResource;

// Why the process-wide table could not be loaded; the values are the codes reported to the user.
enum class SuccessionTableError : int {
    None = 0,
    ResourceNotFound = 5,  // the program has no such resource
    ResourceNotLoaded = 6, // the resource holds no data
    ResourceNotLocked = 7, // its data cannot be unscrambled into a usable table (too short, no entry)
};

class RecordSuccessionTable {
public:
    struct Entry {
        uint16_t type = 0;
        uint16_t assumedLength = 0;
        std::vector<uint16_t> successors;  // sorted, no duplicates
    };

    // An empty table: no type may follow any other.
    RecordSuccessionTable();

    // False when `last` never continues across blocks; otherwise whether `next` is one of its successors.
    bool MayFollow(uint16_t last, uint16_t next) const;
    // The body length of a record of `type` whose header is at `position` of a block of `blockBytes`
    // bytes: its length field when the field lies inside the block (position + 2 < blockBytes), else the
    // assumed length of its type.
    uint32_t LengthOf(uint16_t type, uint16_t lengthField, int64_t position, int64_t blockBytes) const;

    int32_t SuccessorCount(uint16_t type) const;
    uint16_t AssumedLength(uint16_t type) const;
    size_t EntryCount() const { return entries_.size(); }
    const std::vector<Entry>& Entries() const { return entries_; }

    // Replaces the entry of `entry.type` (successors are sorted and made unique).
    void Set(Entry entry);

    // The stored layout, unscrambled. Entries are written in type order.
    std::vector<uint8_t> Serialize() const;
    // Reads the unscrambled layout. Reading stops silently at the first entry that would run past the end
    // of the data; the entries before it stay. Returns the number of entries read.
    size_t Parse(std::span<const uint8_t> plain);

    // The scrambled form of `plain` under `seed`, and back. Unscramble yields nothing for fewer than 4 bytes.
    static std::vector<uint8_t> Scramble(std::span<const uint8_t> plain, uint32_t seed);
    static std::vector<uint8_t> Unscramble(std::span<const uint8_t> stored);
    static uint32_t NextScrambleKey(uint32_t previousKey, uint32_t byteOffset);

    // Loads the table from a scrambled resource: ResourceNotFound for a null resource, ResourceNotLoaded
    // when it holds no bytes, ResourceNotLocked when its content yields no entry. The table is unchanged
    // on failure.
    SuccessionTableError Load(const EmbeddedResource* resource);

    // The table of the running program, loaded once at start-up by LoadProcessSuccessionTable.
    static const RecordSuccessionTable& Process();

private:
    static constexpr uint16_t kNoEntry = 0xFFFF;
    struct Lookup {
        int32_t successorCount = 0;
        uint16_t onlySuccessor = 0;
        uint16_t assumedLength = 0;
        uint16_t entry = kNoEntry;
    };

    void Reindex();

    std::vector<Entry> entries_;  // in type order
    std::vector<Lookup> lookup_;  // 65,536 entries, indexed by the record type
};

// Name of the embedded resource that holds the shipped table.
inline constexpr const char* kSuccessionTableResourceName = "RECORD_SUCCESSION_TABLE";

// Loads the program's table from its embedded resource into RecordSuccessionTable::Process(). Called once
// at start-up; a failure is reported with its code and the program does not start.
SuccessionTableError LoadProcessSuccessionTable();

}  // namespace tabulon
