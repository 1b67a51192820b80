#include "common/util/ParamList.h"

namespace util {

void ParamList::AddArgs(int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i) {
        Add(argv[i] ? argv[i] : "");
    }
}

const char* ParamList::At(std::size_t index) const {
    return index < items_.size() ? items_[index].c_str() : nullptr;
}

std::size_t ParamList::Find(const std::string& option) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].starts_with(option)) {
            return i;
        }
    }
    return npos;
}

}  // namespace util
