// What a toolbox built elsewhere has of a message: a pointer to an object whose first word
// is its table of operations. The C side (MessageSlotsTest.c) calls the operations by
// their slot index; this side only hands it messages and the std::string objects that some
// operations take, since C cannot make those.

#include <gtest/gtest.h>
#include <string>

#include "common/msg/QXMessage.h"

extern "C" {

void* slots_new_message(void) {
    return static_cast<msg::IQXMessage*>(new msg::CQXMessage);
}

void* slots_new_string(const char* text) {
    return new std::string(text);
}

const char* slots_string_text(const void* text) {
    return static_cast<const std::string*>(text)->c_str();
}

void slots_free_string(void* text) {
    delete static_cast<std::string*>(text);
}

unsigned long slots_map_size(const void* fields) {
    return static_cast<const msg::FieldMap*>(fields)->size();
}

// The C side's checks; returns the number that failed, having printed each.
int slots_run_checks(void);
}

TEST(MessageSlots, EveryOperationSitsAtItsSlotForCallersWithoutTheHeader) {
    EXPECT_EQ(slots_run_checks(), 0);
}
