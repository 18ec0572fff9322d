#include "app/restore_original_names.h"

#include <algorithm>

#include "app/strings.h"
#include "source/sector_reader.h"

namespace tabulon {

void RestoreOriginalNames(SectorReader& reader, ResultNode& category, ProgressState& progress, const ContentNamer& namer) {
    constexpr size_t kSectorsRead = 128;  // 64 KiB
    progress.SetStatusText(LoadString(StringId::RestoringNames));
    const auto& files = category.children;
    progress.SetMax(int32_t(std::min<size_t>(files.size(), INT32_MAX)));
    std::vector<uint8_t> buffer(kSectorsRead * 512);
    for (size_t index = 0; index < files.size(); ++index) {
        if (progress.StopRequested()) return;
        progress.SetPos(int32_t(std::min<size_t>(index, INT32_MAX)));
        ResultNode& file = *files[index];
        if (!file.IsFile() || file.sectors.empty()) continue;
        std::fill(buffer.begin(), buffer.end(), 0);
        size_t count = std::min(file.sectors.size(), kSectorsRead);
        for (size_t i = 0; i < count; ++i) reader.ReadSectors(buffer.data() + i * 512, 512, file.sectors[i]);
        std::vector<std::u16string> names = namer(buffer.data(), count * 512);
        if (names.empty()) continue;
        std::string first = std::to_string(file.sectors.front());
        file.name = u"File" + std::u16string(first.begin(), first.end()) + u"__" + names.front() + u".xls";
    }
}

}  // namespace tabulon
