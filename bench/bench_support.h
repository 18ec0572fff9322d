#pragma once
// What the whole-process benchmarks share: running shell commands, quoting, timing.

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace tabulon::bench {

inline bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// Single-quotes an argument for the shell.
inline std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace tabulon::bench
