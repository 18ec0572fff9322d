#pragma once
// BIFF8 record type codes that the fragment search treats specially.

#include <cstdint>

namespace tabulon::record_type {

inline constexpr uint16_t kEof = 0x000A;
inline constexpr uint16_t kFilePass = 0x002F;
inline constexpr uint16_t kFileLock = 0x0195;
inline constexpr uint16_t kInterfaceHdr = 0x00E1;
inline constexpr uint16_t kUsrExcl = 0x0194;
inline constexpr uint16_t kRrdInfo = 0x0196;
inline constexpr uint16_t kRrdHead = 0x0138;
inline constexpr uint16_t kFont = 0x0031;
inline constexpr uint16_t kContinue = 0x003C;
inline constexpr uint16_t kGuts = 0x0080;
inline constexpr uint16_t kBoundSheet = 0x0085;
inline constexpr uint16_t kColInfo = 0x007D;
inline constexpr uint16_t kMulRk = 0x00BD;
inline constexpr uint16_t kMulBlank = 0x00BE;
inline constexpr uint16_t kXf = 0x00E0;
inline constexpr uint16_t kSst = 0x00FC;
inline constexpr uint16_t kLabelSst = 0x00FD;
inline constexpr uint16_t kDimensions = 0x0200;
inline constexpr uint16_t kBlank = 0x0201;
inline constexpr uint16_t kNumber = 0x0203;
inline constexpr uint16_t kRow = 0x0208;
inline constexpr uint16_t kRk = 0x027E;
inline constexpr uint16_t kBof = 0x0809;
inline constexpr uint16_t kClrtClient = 0x105C;  // the charts' colour palette, kept in the globals

}  // namespace tabulon::record_type
