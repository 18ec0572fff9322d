#pragma once
// Decodes the entropy-coded data of a baseline JPEG scan far enough to tell whether its bits hold
// together: every Huffman code must be one of the picture's tables, every block of coefficients must end
// within its 64 places, restart markers must come after their number of units and in turn, and the scan
// must hold as many units as the picture's size asks. Bytes of another place of the picture, or of
// another picture, put the decoder out of step, and it meets a code or a place that cannot be within a
// few hundred bits. Nothing is decoded into pixels.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace tabulon {

struct JpegHuffmanTable {
    bool defined = false;
    std::array<int32_t, 17> maxCode {};  // by code length 1..16: the last code, -1 where none
    std::array<int32_t, 17> minCode {};
    std::array<int32_t, 17> firstValue {};
    std::array<uint8_t, 256> values {};
};

// The Huffman tables a picture has defined so far: DC and AC, four of each.
struct JpegTables {
    std::array<JpegHuffmanTable, 4> dc, ac;
};

// Reads the tables of a DHT segment's body into `tables`; false when it is malformed.
bool ReadJpegHuffmanTables(std::span<const uint8_t> body, JpegTables& tables);

struct JpegFrame {
    bool huffmanSequential = false;  // a baseline or extended frame with Huffman coding
    uint8_t precision = 8;
    uint16_t height = 0, width = 0;
    uint8_t count = 0;  // components
    std::array<uint8_t, 4> ids {}, h {}, v {};
    uint8_t hMax = 1, vMax = 1;
};

// Reads a frame header's body (SOF0..SOF15); false when it is malformed.
bool ReadJpegFrame(uint8_t marker, std::span<const uint8_t> body, JpegFrame& frame);

class JpegEntropyDecoder {
public:
    // Starts decoding the scan whose header body is `scan`. False when the scan cannot be decoded here (a
    // progressive or arithmetic-coded frame, a table not defined, a component not in the frame): the
    // caller then does not decode it.
    bool Start(std::shared_ptr<const JpegTables> tables, const JpegFrame& frame, std::span<const uint8_t> scan,
               uint16_t restartInterval);
    // One byte of entropy-coded data, stuffing removed. False when its bits cannot continue the scan.
    bool Feed(uint8_t byte);
    // A restart marker RSTn. False when none is due here, or another number is.
    bool Restart(uint8_t number);
    // The scan ended at a marker. False when units are missing or one was cut.
    bool End() const;

private:
    bool Bit(int bit);
    bool Symbol(uint8_t symbol);
    void EndValue();
    void EndBlock();

    std::shared_ptr<const JpegTables> tables_;
    struct Component {
        uint8_t blocks = 1;  // blocks a unit holds of it
        uint8_t dc = 0, ac = 0;
        uint8_t maxDcSize = 11, maxAcSize = 10;
    };
    std::array<Component, 4> components_ {};
    uint8_t count_ = 0;
    uint8_t component_ = 0;    // the component being decoded
    uint8_t block_ = 0;        // its block within the unit
    uint8_t coefficient_ = 0;  // 0: the DC value is next
    int32_t code_ = 0;
    uint8_t codeLength_ = 0;
    uint8_t valueBitsLeft_ = 0;  // bits of a value after its code
    bool acValue_ = false;       // those of an AC value
    uint16_t restartInterval_ = 0;
    uint32_t sinceRestart_ = 0;  // units since the last restart
    uint8_t nextRestart_ = 0;
    uint64_t units_ = 0;
    uint64_t totalUnits_ = 0;  // 0: not known
    bool padding_ = false;     // a restart or the scan's end is due: only 1 bits until the marker
};

}  // namespace tabulon
