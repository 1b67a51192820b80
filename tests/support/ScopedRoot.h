#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/Environment.h"

namespace scratch {

// Sets CORVANE_ROOT for one test (nullptr unsets it) and puts the old value back afterwards.
class ScopedRoot {
public:
    explicit ScopedRoot(const char* root) {
        if (const char* old = std::getenv("CORVANE_ROOT")) {
            old_ = old;
        }
        testsupport::SetVariable("CORVANE_ROOT", root);
    }
    ~ScopedRoot() { testsupport::SetVariable("CORVANE_ROOT", old_ ? old_->c_str() : nullptr); }
    ScopedRoot(const ScopedRoot&) = delete;
    ScopedRoot& operator=(const ScopedRoot&) = delete;

private:
    std::optional<std::string> old_;
};

}  // namespace scratch
