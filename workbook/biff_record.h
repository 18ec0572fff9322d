#pragma once
// BiffRecord: one record of a BIFF8 stream in memory. It keeps its type and body bytes, turns its
// typed fields into body bytes (Write) and back (Read), and reports its sizes so that a writer can
// add up a whole stream before writing it. Bodies longer than 8224 bytes are written as a record
// and CONTINUE records, here, once for every record type.

#include <cstdint>
#include <span>
#include <vector>

namespace tabulon {

inline constexpr uint16_t kContinueRecordType = 0x003C;
inline constexpr uint32_t kMaxRecordBody = 8224;
inline constexpr uint32_t kRecordHeaderSize = 4;

class BiffRecord {
public:
    // A record of `type` whose body is `fixedDataSize` zero bytes until fields or Read fill it.
    explicit BiffRecord(uint16_t type, uint32_t fixedDataSize = 0);
    virtual ~BiffRecord() = default;
    BiffRecord(const BiffRecord&) = default;
    BiffRecord& operator=(const BiffRecord&) = default;
    BiffRecord(BiffRecord&&) = default;
    BiffRecord& operator=(BiffRecord&&) = default;

    // Parses a record (header and body) and the CONTINUE records that follow it, then the typed
    // fields. Returns the bytes consumed, or 0 when the bytes do not hold a whole record of a type
    // this class reads or its body is malformed; nothing is read outside `bytes`.
    virtual size_t Read(std::span<const uint8_t> bytes);
    // Builds the body from the typed fields and writes header(s) and body. Returns the bytes
    // written (RecordSize()), or 0 when `out` is too small, in which case nothing is written.
    virtual size_t Write(std::span<uint8_t> out);
    // Body size in bytes (stored in dataSize).
    virtual uint32_t DataSize();
    // Size as written: body plus one 4-byte header per chunk (stored in recordSize).
    virtual uint32_t RecordSize();

    uint16_t Type() const { return type_; }
    const std::vector<uint8_t>& Body() const { return body_; }
    const std::vector<uint32_t>& ContinueOffsets() const { return continueOffsets_; }
    // Replaces the body of a record without typed fields; the plain 8224-byte split applies.
    void SetBody(std::vector<uint8_t> body);

protected:
    // Types a derived class reads; a plain record reads any type.
    virtual bool AcceptsType(uint16_t type) const;
    // Fills body_ (already sized to DataSize()) from the typed fields.
    virtual void EncodeBody() {}
    // Fills the typed fields from body_; false when the body is malformed.
    virtual bool DecodeBody() { return true; }
    // The number of chunks (one header each) a body of `dataSize` bytes is written in.
    uint32_t ChunkCount(uint32_t dataSize) const;
    // Header(s) and body_ into `out`, which holds at least SplitRecordSize() bytes.
    size_t WriteChunks(std::span<uint8_t> out) const;
    bool ChosenSplitsHold(uint32_t dataSize) const;
    uint32_t SplitRecordSize() { return DataSize() + kRecordHeaderSize * ChunkCount(DataSize()); }

    uint16_t type_;
    std::vector<uint8_t> body_;
    uint32_t dataSize_;
    uint32_t recordSize_;
    std::vector<uint32_t> continueOffsets_;  // body offsets at which a CONTINUE record starts
};

// Reads the record at the start of `bytes` only when it is a whole record; the record type, or 0.
uint16_t PeekRecordType(std::span<const uint8_t> bytes);

}  // namespace tabulon
