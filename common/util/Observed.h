#pragma once

#include <cstdint>
#include <vector>

namespace util {

class CObserved;

// Told of every change of the objects it is attached to, and of their end.
class IObserver {
public:
    virtual ~IObserver() = default;
    virtual void Update(CObserved* observed, std::uint32_t argument) = 0;
    virtual void ObservedDestroyed(CObserved* observed) = 0;
};

// Keeps a list of observers (not owned) and tells them of changes: the most recently
// attached first. When it ends it tells them in the order they were attached.
class CObserved {
public:
    CObserved() = default;
    CObserved(const CObserved&) = delete;
    CObserved& operator=(const CObserved&) = delete;
    virtual ~CObserved();

    // The same observer may be attached more than once and is then told once per entry.
    virtual void Attach(IObserver* observer);
    // Removes the first entry of the observer, if any.
    virtual void Detach(IObserver* observer);
    void Notify(std::uint32_t argument);

private:
    std::vector<IObserver*> observers_;
};

}  // namespace util
