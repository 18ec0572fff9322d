#pragma once
// The BIFF8 record types the fragment search knows by name. Only these types are ever judged by the
// record rules; every other 16-bit type code counts as unknown when a block is classified.

#include <cstdint>
#include <string_view>

namespace tabulon {

class RecordTypeNames {
public:
    // Number of named record types.
    static constexpr int kCount = 106;

    // True exactly when the type has a name.
    static bool IsKnown(uint16_t type);
    // The type's name (UTF-16), or an empty view for an unnamed type.
    static std::u16string_view NameOf(uint16_t type);
};

}  // namespace tabulon
