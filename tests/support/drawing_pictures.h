#pragma once
// The pictures a corpus workbook's drawing group stores, as the tests of the picture checks read them:
// the bodies of its MSODRAWINGGROUP record and the CONTINUE records after it, walked as a record tree
// down to the picture records inside the picture store's entries. Header-only, like the other test
// readers.

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "support/compound_file_reader.h"
#include "support/stream_survey.h"
#include "support/test_environment.h"

namespace tabulon::test {

// The bytes of the pictures whose record type is one of `types`, after their identifiers and tag byte.
inline void CollectPictures(std::span<const uint8_t> group, std::initializer_list<uint16_t> types,
                            std::vector<std::vector<uint8_t>>& pictures) {
    for (size_t at = 0; at + 8 <= group.size();) {
        const uint16_t versionAndInstance = LoadU16(&group[at]), type = LoadU16(&group[at + 2]);
        const size_t length = LoadU32(&group[at + 4]);
        const size_t end = std::min(group.size(), at + 8 + length);
        if ((versionAndInstance & 0xF) == 0xF) {
            CollectPictures(group.subspan(at + 8, end - at - 8), types, pictures);
        } else if (type == 0xF007 && length >= 36 + 8 && at + 8 + 36 <= end) {
            const size_t picture = std::min(end, at + 8 + 36 + group[at + 8 + 33]);
            CollectPictures(group.subspan(picture, end - picture), types, pictures);
        } else if (std::find(types.begin(), types.end(), type) != types.end()) {
            const uint16_t instance = versionAndInstance >> 4;
            const bool twoIds = instance == 0x46B || instance == 0x6E3 || instance == 0x6E5 || instance == 0x6E1;
            const size_t before = (twoIds ? 32 : 16) + 1;
            if (at + 8 + before < end) pictures.emplace_back(group.begin() + long(at + 8 + before), group.begin() + long(end));
        }
        at += 8 + length;
    }
}

// The pictures of those record types in the named corpus workbooks (none when the corpus is absent).
inline std::vector<std::vector<uint8_t>> CorpusPictures(std::initializer_list<const char*> names,
                                                        std::initializer_list<uint16_t> types) {
    std::vector<std::vector<uint8_t>> pictures;
    const std::string dir = CorpusDir();
    if (dir.empty()) return pictures;
    for (const char* name : names) {
        const auto file = ReadFileBytes(dir + "/" + name);
        CompoundFileReader reader;
        if (!reader.Open(file)) continue;
        const auto stream = reader.ReadWorkbookStream();
        if (!stream) continue;
        std::vector<uint8_t> group;
        bool inGroup = false;
        for (const auto& record : WalkRecords(*stream)) {
            inGroup = record.type == 0x00EB || (inGroup && record.type == 0x003C);
            if (inGroup)
                group.insert(group.end(), stream->begin() + record.position + 4,
                             stream->begin() + record.position + 4 + record.length);
        }
        CollectPictures(group, types, pictures);
    }
    return pictures;
}

}  // namespace tabulon::test
