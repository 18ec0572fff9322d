#pragma once
// Base of the record classes with typed fields: reads only its own record type, and checks the
// body size of fixed-layout records before decoding.

#include "workbook/biff_record.h"

namespace tabulon {

class TypedRecord : public BiffRecord {
public:
    using BiffRecord::BiffRecord;

protected:
    bool AcceptsType(uint16_t type) const override { return type == type_; }
    // True when the body holds at least `size` bytes.
    bool BodyHolds(size_t size) const { return body_.size() >= size; }
};

}  // namespace tabulon
