#include <cstdio>

#include "cli/commands.h"
#include "fragment/record_succession_table.h"

namespace tabulon::cli {

bool LoadStartupResources() {
    const SuccessionTableError error = LoadProcessSuccessionTable();
    if (error == SuccessionTableError::None) return true;
    const char* reason = error == SuccessionTableError::ResourceNotFound    ? "it is missing from the program"
                         : error == SuccessionTableError::ResourceNotLoaded ? "its resource holds no data"
                                                                            : "its data are damaged";
    std::fprintf(stderr, "error: the record succession table cannot be loaded: %s (error %d)\n", reason,
                 static_cast<int>(error));
    return false;
}

}  // namespace tabulon::cli
