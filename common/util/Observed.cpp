#include "common/util/Observed.h"

#include <algorithm>

namespace util {

CObserved::~CObserved() {
    for (IObserver* observer : observers_) {
        observer->ObservedDestroyed(this);
    }
}

void CObserved::Attach(IObserver* observer) {
    observers_.push_back(observer);
}

void CObserved::Detach(IObserver* observer) {
    const auto found = std::find(observers_.begin(), observers_.end(), observer);
    if (found != observers_.end()) {
        observers_.erase(found);
    }
}

void CObserved::Notify(std::uint32_t argument) {
    for (auto it = observers_.rbegin(); it != observers_.rend(); ++it) {
        (*it)->Update(this, argument);
    }
}

}  // namespace util
