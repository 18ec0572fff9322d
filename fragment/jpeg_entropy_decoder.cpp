#include "fragment/jpeg_entropy_decoder.h"

#include <algorithm>

namespace tabulon {
namespace {

constexpr uint8_t kBaseline = 0xC0, kExtended = 0xC1;
constexpr uint8_t kCoefficients = 64;
constexpr uint8_t kMaxBlocksPerUnit = 10;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

}  // namespace

bool ReadJpegHuffmanTables(std::span<const uint8_t> body, JpegTables& tables) {
    size_t at = 0;
    while (at < body.size()) {
        if (at + 17 > body.size()) return false;
        const uint8_t kind = body[at] >> 4, slot = body[at] & 0x0F;
        if (kind > 1 || slot > 3) return false;
        size_t total = 0;
        for (size_t i = 1; i <= 16; ++i) total += body[at + i];
        if (total > 256 || at + 17 + total > body.size()) return false;
        JpegHuffmanTable table;
        table.defined = true;
        int32_t code = 0, value = 0;
        for (size_t length = 1; length <= 16; ++length) {
            const int32_t n = body[at + length];
            table.maxCode[length] = -1;
            if (n > 0) {
                table.firstValue[length] = value;
                table.minCode[length] = code;
                code += n;
                value += n;
                table.maxCode[length] = code - 1;
                if (code > (1 << length)) return false;  // more codes than the length has room for
            }
            code <<= 1;
        }
        std::copy_n(body.begin() + long(at + 17), total, table.values.begin());
        (kind == 0 ? tables.dc : tables.ac)[slot] = table;
        at += 17 + total;
    }
    return true;
}

bool ReadJpegFrame(uint8_t marker, std::span<const uint8_t> body, JpegFrame& frame) {
    if (body.size() < 6) return false;
    JpegFrame read;
    read.huffmanSequential = marker == kBaseline || marker == kExtended;
    read.precision = body[0];
    read.height = uint16_t(body[1] << 8 | body[2]);
    read.width = uint16_t(body[3] << 8 | body[4]);
    read.count = body[5];
    if (read.count < 1 || read.count > 4 || body.size() < 6 + 3 * size_t(read.count)) return false;
    for (size_t i = 0; i < read.count; ++i) {
        read.ids[i] = body[6 + 3 * i];
        read.h[i] = body[7 + 3 * i] >> 4;
        read.v[i] = body[7 + 3 * i] & 0x0F;
        if (read.h[i] < 1 || read.h[i] > 4 || read.v[i] < 1 || read.v[i] > 4) return false;
        read.hMax = std::max(read.hMax, read.h[i]);
        read.vMax = std::max(read.vMax, read.v[i]);
    }
    frame = read;
    return true;
}

bool JpegEntropyDecoder::Start(std::shared_ptr<const JpegTables> tables, const JpegFrame& frame,
                               std::span<const uint8_t> scan, uint16_t restartInterval) {
    *this = JpegEntropyDecoder {};
    if (!tables || !frame.huffmanSequential || scan.empty()) return false;
    const uint8_t count = scan[0];
    if (count < 1 || count > 4 || scan.size() != 1 + 2 * size_t(count) + 3) return false;
    const uint8_t* tail = scan.data() + 1 + 2 * count;
    if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0) return false;  // a progressive scan
    const bool precise = frame.precision == 12;
    uint32_t blocks = 0;
    for (uint8_t i = 0; i < count; ++i) {
        const uint8_t id = scan[1 + 2 * i], selectors = scan[2 + 2 * i];
        const auto found = std::find(frame.ids.begin(), frame.ids.begin() + frame.count, id);
        if (found == frame.ids.begin() + frame.count) return false;
        const size_t f = size_t(found - frame.ids.begin());
        Component& component = components_[i];
        component.dc = selectors >> 4;
        component.ac = selectors & 0x0F;
        if (component.dc > 3 || component.ac > 3 || !tables->dc[component.dc].defined || !tables->ac[component.ac].defined)
            return false;
        component.blocks = count == 1 ? 1 : uint8_t(frame.h[f] * frame.v[f]);
        component.maxDcSize = precise ? 15 : 11;
        component.maxAcSize = precise ? 14 : 10;
        blocks += component.blocks;
        if (count == 1 && frame.width != 0 && frame.height != 0) {
            const uint64_t width = CeilDiv(uint64_t(frame.width) * frame.h[f], frame.hMax);
            const uint64_t height = CeilDiv(uint64_t(frame.height) * frame.v[f], frame.vMax);
            totalUnits_ = CeilDiv(width, 8) * CeilDiv(height, 8);
        }
    }
    if (blocks > kMaxBlocksPerUnit) return false;
    if (count > 1 && frame.width != 0 && frame.height != 0)
        totalUnits_ = CeilDiv(frame.width, 8u * frame.hMax) * CeilDiv(frame.height, 8u * frame.vMax);
    tables_ = std::move(tables);
    count_ = count;
    restartInterval_ = restartInterval;
    return true;
}

bool JpegEntropyDecoder::Feed(uint8_t byte) {
    if (padding_) return false;  // a whole byte where a marker is due
    for (int bit = 7; bit >= 0; --bit)
        if (!Bit((byte >> bit) & 1)) return false;
    return true;
}

bool JpegEntropyDecoder::Bit(int bit) {
    if (padding_) return bit == 1;
    if (valueBitsLeft_ > 0) {
        if (--valueBitsLeft_ == 0) EndValue();
        return true;
    }
    code_ = code_ << 1 | bit;
    ++codeLength_;
    const Component& component = components_[component_];
    const JpegHuffmanTable& table = coefficient_ == 0 ? tables_->dc[component.dc] : tables_->ac[component.ac];
    const int32_t last = table.maxCode[codeLength_];
    if (last >= 0 && code_ <= last) {
        // Codes of one length are consecutive from minCode, and a shorter prefix would have matched
        // before; the index is checked all the same, the tables being read from untrusted bytes.
        const int32_t index = table.firstValue[codeLength_] + code_ - table.minCode[codeLength_];
        if (index < 0 || index >= int32_t(table.values.size())) return false;
        const uint8_t symbol = table.values[size_t(index)];
        code_ = 0;
        codeLength_ = 0;
        return Symbol(symbol);
    }
    return codeLength_ < 16;  // no code of the table is this long
}

bool JpegEntropyDecoder::Symbol(uint8_t symbol) {
    const Component& component = components_[component_];
    if (coefficient_ == 0) {
        if (symbol > component.maxDcSize) return false;
        coefficient_ = 1;
        valueBitsLeft_ = symbol;
        acValue_ = false;
        return true;
    }
    const uint8_t run = symbol >> 4, size = symbol & 0x0F;
    if (size == 0) {
        if (run == 0) {  // the rest of the block is zero
            EndBlock();
            return true;
        }
        if (run != 15) return false;
        coefficient_ = uint8_t(coefficient_ + 16);  // sixteen zeros, and a value after them
        return coefficient_ < kCoefficients;
    }
    if (size > component.maxAcSize) return false;
    coefficient_ = uint8_t(coefficient_ + run);
    if (coefficient_ >= kCoefficients) return false;
    valueBitsLeft_ = size;
    acValue_ = true;
    return true;
}

// The bits of a value were read: after a DC value the AC codes follow (coefficient_ is already 1);
// after an AC value the next place, where the block may end.
void JpegEntropyDecoder::EndValue() {
    if (!acValue_) return;
    acValue_ = false;
    if (++coefficient_ == kCoefficients) EndBlock();
}

void JpegEntropyDecoder::EndBlock() {
    coefficient_ = 0;
    if (++block_ < components_[component_].blocks) return;
    block_ = 0;
    if (++component_ < count_) return;
    component_ = 0;
    ++units_;
    ++sinceRestart_;
    if ((totalUnits_ != 0 && units_ >= totalUnits_) || (restartInterval_ != 0 && sinceRestart_ == restartInterval_))
        padding_ = true;
}

bool JpegEntropyDecoder::Restart(uint8_t number) {
    if (!padding_ || restartInterval_ == 0 || sinceRestart_ != restartInterval_ ||
        (totalUnits_ != 0 && units_ >= totalUnits_) || number != nextRestart_)
        return false;
    nextRestart_ = uint8_t((number + 1) & 7);
    sinceRestart_ = 0;
    padding_ = false;
    return true;
}

bool JpegEntropyDecoder::End() const { return totalUnits_ == 0 || units_ >= totalUnits_; }

}  // namespace tabulon
