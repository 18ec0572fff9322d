#pragma once
// Data compiled into the program and looked up by name, like the resources of a desktop executable.
// Each resource's bytes are generated into their own source file in this folder.

#include <cstdint>
#include <span>
#include <string_view>

namespace tabulon {

struct EmbeddedResource {
    std::string_view name;
    std::span<const uint8_t> bytes;
};

// The resource called `name`, or null when the program has none.
const EmbeddedResource* FindEmbeddedResource(std::string_view name);

}  // namespace tabulon
