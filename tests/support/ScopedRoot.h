#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace scratch {

// Sets CORVANE_ROOT for one test (nullptr unsets it) and puts the old value back afterwards.
class ScopedRoot {
public:
    explicit ScopedRoot(const char* root) {
        if (const char* old = std::getenv("CORVANE_ROOT")) {
            old_ = old;
        }
        Set(root);
    }
    ~ScopedRoot() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedRoot(const ScopedRoot&) = delete;
    ScopedRoot& operator=(const ScopedRoot&) = delete;

private:
    static void Set(const char* root) {
        if (root != nullptr) {
            ::setenv("CORVANE_ROOT", root, 1);
        } else {
            ::unsetenv("CORVANE_ROOT");
        }
    }

    std::optional<std::string> old_;
};

}  // namespace scratch
