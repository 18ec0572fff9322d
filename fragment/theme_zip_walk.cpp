#include "fragment/theme_zip_walk.h"

#include <algorithm>

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint16_t kTheme = 0x0896;
// The record's own header (FrtHeader, 12 bytes) and the theme's version (4 bytes) come before the package.
constexpr uint64_t kBeforePackage = 16;
constexpr uint32_t kLocalSignature = 0x04034B50, kCentralSignature = 0x02014B50, kEndSignature = 0x06054B50;
constexpr uint8_t kLocalBytes = 30, kCentralBytes = 46, kEndBytes = 22;
constexpr uint16_t kMaxVersionNeeded = 63;
constexpr uint16_t kMaxName = 1024;
constexpr uint16_t kDataDescriptorFlag = 0x0008;

bool KnownMethod(uint16_t method) { return method == 0 || method == 8; }  // stored or deflated

}  // namespace

void ThemeZipWalk::StartRecord(uint16_t type, uint16_t length) {
    if (type != kTheme || length <= kBeforePackage) {
        Stop();
        return;
    }
    *this = ThemeZipWalk {};
    active_ = true;
    skip_ = kBeforePackage;
}

bool ThemeZipWalk::JudgesWithin(uint64_t bytes) const {
    if (!active_) return false;
    if (have_ > 0) return uint64_t(need_ - have_) <= bytes;
    const uint64_t before = nameLeft_ > 0 ? nameLeft_ + afterName_ : skip_;
    return before + 4 <= bytes;
}

// A whole header was read: its sizes say where the next one stands. False when it is not sound.
bool ThemeZipWalk::EndHeader() {
    have_ = 0;
    need_ = 4;
    const uint8_t* h = header_;
    switch (part_) {
        case Part::Signature: {
            const uint32_t signature = LoadU32(h);
            if (signature == kLocalSignature) {
                part_ = Part::Local;
                need_ = kLocalBytes;
            } else if (signature == kCentralSignature && started_) {
                part_ = Part::Central;
                need_ = kCentralBytes;
            } else if (signature == kEndSignature && started_) {
                part_ = Part::End;
                need_ = kEndBytes;
            } else {
                return false;
            }
            have_ = 4;  // the signature stays at the header's start, where the fields' offsets count from
            started_ = true;
            return true;
        }
        case Part::Local: {
            const uint16_t flags = LoadU16(h + 6), nameLength = LoadU16(h + 26);
            const uint32_t compressed = LoadU32(h + 18);
            if (LoadU16(h + 4) > kMaxVersionNeeded || !KnownMethod(LoadU16(h + 8)) || nameLength == 0 ||
                nameLength > kMaxName)
                return false;
            if ((flags & kDataDescriptorFlag) != 0 && compressed == 0) {
                Stop();  // the size follows the data: where the next header stands is not known
                return true;
            }
            nameLeft_ = nameLength;
            afterName_ = uint64_t(LoadU16(h + 28)) + compressed;
            break;
        }
        case Part::Central: {
            const uint16_t nameLength = LoadU16(h + 28);
            if (LoadU16(h + 6) > kMaxVersionNeeded || !KnownMethod(LoadU16(h + 10)) || nameLength == 0 ||
                nameLength > kMaxName)
                return false;
            nameLeft_ = nameLength;
            afterName_ = uint64_t(LoadU16(h + 30)) + LoadU16(h + 32);
            break;
        }
        case Part::End:
            Stop();  // the package is complete
            return true;
    }
    part_ = Part::Signature;
    return true;
}

bool ThemeZipWalk::Feed(std::span<const uint8_t> bytes) {
    while (!bytes.empty() && active_) {
        if (skip_ > 0) {
            const uint64_t take = std::min<uint64_t>(skip_, bytes.size());
            skip_ -= take;
            bytes = bytes.subspan(size_t(take));
            continue;
        }
        if (nameLeft_ > 0) {
            const uint8_t c = bytes[0];
            bytes = bytes.subspan(1);
            if (c < 0x20 || c > 0x7E) {
                Stop();
                return false;
            }
            if (--nameLeft_ == 0) skip_ = afterName_;
            continue;
        }
        const size_t take = std::min<size_t>(size_t(need_ - have_), bytes.size());
        std::copy_n(bytes.begin(), take, header_ + have_);
        have_ = uint8_t(have_ + take);
        bytes = bytes.subspan(take);
        if (have_ < need_) break;
        if (!EndHeader()) {
            Stop();
            return false;
        }
    }
    return true;
}

}  // namespace tabulon
