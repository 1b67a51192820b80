#pragma once

#include <vector>

#include "common/sys/SharedLibrary.h"

namespace toolbox {

// Keeps the toolbox libraries that the messages handled on this thread went through loaded
// from the end of each message until the object goes. A worker thread holds one while it
// handles messages that follow each other closely and while it looks for the next, so a
// stream of messages loads each toolbox once instead of once per message; the thread lets
// them go when it finds no next message and parks, so the library of a message that came
// alone is freed (and its file read again for the next message) moments after it is done.
// On a thread that holds none, each library is freed as its message is done with it.
class KeptToolboxes final {
public:
    // Becomes the calling thread's keeper until it goes.
    KeptToolboxes();
    KeptToolboxes(const KeptToolboxes&) = delete;
    KeptToolboxes& operator=(const KeptToolboxes&) = delete;
    // Frees what it kept that no one else holds.
    ~KeptToolboxes();

    // Hands a library a message is done with to the calling thread's keeper, which keeps one
    // reference to each library; without a keeper the library is freed here.
    static void Keep(sys::SharedLibrary library);

private:
    KeptToolboxes* outer_;
    std::vector<sys::SharedLibrary> libraries_;
};

}  // namespace toolbox
