#include "fs/read_success_flag.h"

namespace tabulon {

std::atomic<bool>& ReadSuccessFlag() {
    static std::atomic<bool> flag {true};
    return flag;
}

}  // namespace tabulon
