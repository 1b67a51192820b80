#include "agent/toolbox/KeptToolboxes.h"

#include <algorithm>
#include <utility>

namespace toolbox {

namespace {

thread_local KeptToolboxes* threadKeeper = nullptr;

}  // namespace

KeptToolboxes::KeptToolboxes() : outer_(std::exchange(threadKeeper, this)) {}

KeptToolboxes::~KeptToolboxes() {
    threadKeeper = outer_;
}

void KeptToolboxes::Keep(sys::SharedLibrary library) {
    KeptToolboxes* keeper = threadKeeper;
    if (keeper == nullptr) {
        return;
    }
    auto& kept = keeper->libraries_;
    if (std::none_of(kept.begin(), kept.end(),
                     [&library](const sys::SharedLibrary& held) { return held.SameAs(library); })) {
        kept.push_back(std::move(library));
    }
}

}  // namespace toolbox
