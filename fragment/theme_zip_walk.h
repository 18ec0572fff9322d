#pragma once
// Follows the zip package inside a workbook's THEME record (the theme's XML parts, deflated), so that a
// block inside it can be judged: each part's local header, then the central directory's headers and its
// end record, stand where the sizes before them put them, with a signature, a compression method of the
// format's own and a printable name. The deflated bytes between them are not judged.

#include <cstdint>
#include <span>

namespace tabulon {

class ThemeZipWalk {
public:
    // A record of `type` and `length` begins: a THEME record with bytes after its version (a theme of
    // its own; a built-in theme has none) starts the walk, any other record ends it.
    void StartRecord(uint16_t type, uint16_t length);
    // The record's next body bytes. False when a header among them is not sound; the walk then stops.
    bool Feed(std::span<const uint8_t> bytes);
    bool Active() const { return active_; }
    // Whether the next `bytes` bytes complete a header's signature or fields, where the walk checks them
    // (a name's printable bytes tell too little).
    bool JudgesWithin(uint64_t bytes) const;

private:
    enum class Part : uint8_t { Signature, Local, Central, End };
    bool EndHeader();
    void Stop() { active_ = false; }

    bool active_ = false;
    bool started_ = false;  // the package's first header was read
    Part part_ = Part::Signature;
    uint64_t skip_ = 0;     // bytes before the next header (or name)
    uint8_t header_[46] {};
    uint8_t have_ = 0;
    uint8_t need_ = 4;
    uint16_t nameLeft_ = 0;  // name bytes still to check
    uint64_t afterName_ = 0; // bytes to pass after the name: extra field, comment, data
};

}  // namespace tabulon
