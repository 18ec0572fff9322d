#pragma once
// The shared string table (SST) and its bucket index (EXTSST).

#include <cstdint>
#include <vector>

#include "workbook/biff_text.h"
#include "workbook/typed_record.h"

namespace tabulon {

// SST chooses its own CONTINUE split points so that no string header is cut and 16-bit
// characters stay whole; every continuation inside a string repeats the string's option byte.
class SstRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x00FC;
    SstRecord() : TypedRecord(kType, 8) {}
    // Computes the split points (stored as continue offsets) and returns the body size.
    uint32_t DataSize() override;
    uint32_t totalCount = 0;   // string references in cells
    uint32_t uniqueCount = 0;  // strings in the table
    std::vector<BiffText> strings;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;

private:
    // Lays the strings out in records; writes into `out` when it is not null.
    uint32_t Layout(uint8_t* out);
};

class ExtSstRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x00FF;
    struct Bucket {
        uint32_t streamPosition = 0;
        uint16_t offsetInRecord = 0;
        uint16_t reserved = 0;
    };
    ExtSstRecord() : TypedRecord(kType, 2) {}
    uint32_t DataSize() override;
    uint16_t stringsPerBucket = 8;
    std::vector<Bucket> buckets;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

}  // namespace tabulon
