#pragma once
// Byte-level BIFF8 records for the preview reader's tests, where an exact record layout shows a case.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tabulon::test {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(Bytes& out, uint32_t v) {
    PutU16(out, static_cast<uint16_t>(v));
    PutU16(out, static_cast<uint16_t>(v >> 16));
}
inline void PutF64(Bytes& out, double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(out, static_cast<uint32_t>(bits));
    PutU32(out, static_cast<uint32_t>(bits >> 32));
}

inline Bytes RecordBytes(uint16_t type, const Bytes& body) {
    Bytes out;
    PutU16(out, type);
    PutU16(out, static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A workbook stream assembled record by record.
class BiffStream {
public:
    BiffStream& Add(uint16_t type, const Bytes& body) {
        Bytes record = RecordBytes(type, body);
        bytes_.insert(bytes_.end(), record.begin(), record.end());
        return *this;
    }
    BiffStream& Raw(const Bytes& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    BiffStream& Bof(uint16_t substream) {
        Bytes body;
        PutU16(body, 0x0600);
        PutU16(body, substream);
        PutU16(body, 0x0DBB);
        PutU16(body, 0x07CC);
        PutU32(body, 0);
        PutU32(body, 6);
        return Add(0x0809, body);
    }
    BiffStream& Eof() { return Add(0x000A, {}); }
    BiffStream& BoundSheet(const std::string& name, uint8_t sheetType = 0) {
        Bytes body;
        PutU32(body, 0);
        body.push_back(0);
        body.push_back(sheetType);
        body.push_back(static_cast<uint8_t>(name.size()));
        body.push_back(0);
        body.insert(body.end(), name.begin(), name.end());
        return Add(0x0085, body);
    }
    // An SST of 8-bit strings in one record.
    BiffStream& Sst(const std::vector<std::string>& strings) {
        Bytes body;
        PutU32(body, static_cast<uint32_t>(strings.size()));
        PutU32(body, static_cast<uint32_t>(strings.size()));
        for (const std::string& text : strings) {
            PutU16(body, static_cast<uint16_t>(text.size()));
            body.push_back(0);
            body.insert(body.end(), text.begin(), text.end());
        }
        return Add(0x00FC, body);
    }
    BiffStream& LabelSst(uint16_t row, uint16_t column, uint32_t index) {
        Bytes body;
        PutU16(body, row);
        PutU16(body, column);
        PutU16(body, 15);
        PutU32(body, index);
        return Add(0x00FD, body);
    }
    BiffStream& Number(uint16_t row, uint16_t column, double value) {
        Bytes body;
        PutU16(body, row);
        PutU16(body, column);
        PutU16(body, 15);
        PutF64(body, value);
        return Add(0x0203, body);
    }
    BiffStream& Rk(uint16_t row, uint16_t column, uint32_t rk) {
        Bytes body;
        PutU16(body, row);
        PutU16(body, column);
        PutU16(body, 15);
        PutU32(body, rk);
        return Add(0x027E, body);
    }
    BiffStream& BoolErr(uint16_t row, uint16_t column, uint8_t value, uint8_t isError) {
        Bytes body;
        PutU16(body, row);
        PutU16(body, column);
        PutU16(body, 15);
        body.push_back(value);
        body.push_back(isError);
        return Add(0x0205, body);
    }
    const Bytes& Stream() const { return bytes_; }
    // The stream behind a 512-byte header sector, as the reader expects a compound document.
    Bytes File() const {
        Bytes out(512, 0);
        const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(out.data(), signature, sizeof signature);
        out.insert(out.end(), bytes_.begin(), bytes_.end());
        return out;
    }

private:
    Bytes bytes_;
};

}  // namespace tabulon::test
