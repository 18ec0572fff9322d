#include "fs/directory_plausibility.h"

#include <algorithm>

#include "common/little_endian.h"
#include "fs/directory_slot.h"

namespace tabulon {
namespace {

bool YearInWindow(uint16_t date, const AnalysisSettings& settings) {
    const uint32_t year = ((date >> 9) & 0x3Fu) + 1980;
    return year >= settings.earliestYear && year <= settings.latestYear;
}

// Strict mode: every date's year lies in the window; a zero date passes only when the other dates
// are non-zero and pass.
bool DatesInWindow(const uint8_t* slot, const AnalysisSettings& settings) {
    const uint16_t dates[3] = {LoadU16(slot + 16), LoadU16(slot + 18), LoadU16(slot + 24)};
    bool anyNonZero = false;
    for (uint16_t d : dates) {
        if (d == 0) continue;
        anyNonZero = true;
        if (!YearInWindow(d, settings)) return false;
    }
    return anyNonZero;
}

bool TimesAndDatesAllImplausible(const uint8_t* slot, const AnalysisSettings& settings) {
    if (!settings.timeChecks && !settings.dateChecks) return false;
    if (settings.timeChecks && (!IsImplausibleFatTime(LoadU16(slot + 14)) || !IsImplausibleFatTime(LoadU16(slot + 22))))
        return false;
    if (settings.dateChecks && (!IsImplausibleFatDate(LoadU16(slot + 16)) || !IsImplausibleFatDate(LoadU16(slot + 18)) ||
                                !IsImplausibleFatDate(LoadU16(slot + 24))))
        return false;
    return true;
}

// A short name never holds these bytes. The byte after a lead byte of a double-byte code page is a
// trail byte, which may take any value, so it is not checked.
bool HasForbiddenNameByte(const uint8_t* slot, const std::string& forbidden) {
    for (int i = 0; i < 11; ++i) {
        const uint8_t b = slot[i];
        if (b >= 0x81 && i + 1 < 11 && i != 7) {
            ++i;
            continue;
        }
        if (b != 0 && forbidden.find(static_cast<char>(b)) != std::string::npos) return true;
    }
    return false;
}

bool AllSameByte(const uint8_t* slot, size_t count) {
    return std::all_of(slot + 1, slot + count, [slot](uint8_t b) { return b == slot[0]; });
}

bool IsZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

bool SlotFails(const uint8_t* slot, uint32_t clusterCount, FatType fatType, uint64_t dataBytes,
               const AnalysisSettings& settings) {
    const uint8_t attributes = slot[11];
    if (attributes >= 0x40) return true;
    const bool longName = IsLongNameSlot(slot);
    const bool directory = (attributes & kDirectoryAttribute) != 0;
    const uint32_t size = LoadU32(slot + 28);
    if (!longName) {
        if (TimesAndDatesAllImplausible(slot, settings)) return true;
        if (settings.strictDates && !DatesInWindow(slot, settings)) return true;
        if (SlotFirstCluster(slot, fatType) >= clusterCount) return true;
        // Long-name slots carry UTF-16 text, whose bytes may take any value (an apostrophe, or half of
        // a CJK character); only short names are checked for forbidden bytes.
        if (HasForbiddenNameByte(slot, settings.forbiddenNameCharacters)) return true;
    }
    if (directory && !longName && !IsDeletionMark(slot[0]) && size != 0) return true;
    if (AllSameByte(slot, 17)) return true;
    if (!longName && !directory && (size >= dataBytes || size >= 0x80000000u)) return true;
    return false;
}

}  // namespace

bool IsImplausibleFatTime(uint16_t t) { return (t >> 12) > 24 || (t & 0x0FC0) > 0x0F00 || (t & 0x3F) > 60; }

bool IsImplausibleFatDate(uint16_t d) {
    const uint32_t year = (d >> 9) & 0x3Fu;
    const uint32_t month = (d >> 5) & 0x0Fu;
    const uint32_t day = d & 0x1Fu;
    return year == 0 || month == 0 || month > 12 || day == 0;
}

bool IsPlausibleDirectoryData(const uint8_t* slots, size_t slotCount, uint32_t clusterCount, FatType fatType,
                              uint64_t dataBytes) {
    return IsPlausibleDirectoryData(slots, slotCount, clusterCount, fatType, dataBytes, AnalysisSettings::Global());
}

bool IsPlausibleDirectoryData(const uint8_t* slots, size_t slotCount, uint32_t clusterCount, FatType fatType,
                              uint64_t dataBytes, const AnalysisSettings& settings) {
    if (slots == nullptr || slotCount == 0) return false;
    size_t walked = 0;
    for (; walked < slotCount; ++walked) {
        const uint8_t* slot = slots + walked * kSlotBytes;
        if (slot[0] == 0) break;
        const bool exemptLabel = walked == 0 && settings.exemptVolumeLabelSlot0 && !IsLongNameSlot(slot) &&
                                 (slot[11] & kVolumeLabelAttribute) && LoadU32(slot + 28) == 0;
        if (!exemptLabel && SlotFails(slot, clusterCount, fatType, dataBytes, settings)) return false;
    }
    if (walked == 0) return false;
    return IsZero(slots + walked * kSlotBytes, (slotCount - walked) * kSlotBytes);
}

}  // namespace tabulon
