#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace util {

// An ordered list of texts: the command line (argv[0] included) or a toolbox list.
class ParamList {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    ParamList() = default;
    ParamList(const ParamList&) = default;
    ParamList& operator=(const ParamList&) = default;
    virtual ~ParamList() = default;

    void AddArgs(int argc, const char* const* argv);
    void Add(const std::string& text) { items_.push_back(text); }
    std::size_t Count() const { return items_.size(); }
    // The element's text; null when the index is not below the count.
    const char* At(std::size_t index) const;
    // Index of the first element that begins with the option text ("-debugger" is found by
    // "-debug"); npos when none does.
    std::size_t Find(const std::string& option) const;
    void Assign(const ParamList& other) { items_ = other.items_; }
    void Clear() { items_.clear(); }

private:
    std::vector<std::string> items_;
};

}  // namespace util
