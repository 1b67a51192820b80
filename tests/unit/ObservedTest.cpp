#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "common/util/Observed.h"

namespace {

class Recorder : public util::IObserver {
public:
    Recorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void Update(util::CObserved*, std::uint32_t argument) override {
        log_.push_back(name_ + ":" + std::to_string(argument));
    }
    void ObservedDestroyed(util::CObserved*) override { log_.push_back(name_ + ":end"); }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

using Log = std::vector<std::string>;

TEST(Observed, NotifiesTheLastAttachedFirstAndEndsInAttachOrder) {
    Log log;
    Recorder first("first", log), second("second", log), third("third", log);
    {
        util::CObserved observed;
        observed.Attach(&first);
        observed.Attach(&second);
        observed.Attach(&third);
        observed.Notify(0);
        EXPECT_EQ(log, (Log{"third:0", "second:0", "first:0"}));
        log.clear();
    }
    EXPECT_EQ(log, (Log{"first:end", "second:end", "third:end"}));
}

TEST(Observed, DetachRemovesOneEntryOfADuplicate) {
    Log log;
    Recorder twice("twice", log);
    util::CObserved observed;
    observed.Attach(&twice);
    observed.Attach(&twice);
    observed.Notify(7);
    EXPECT_EQ(log, (Log{"twice:7", "twice:7"}));
    log.clear();
    observed.Detach(&twice);
    observed.Notify(8);
    EXPECT_EQ(log, (Log{"twice:8"}));
    observed.Detach(&twice);
    observed.Detach(&twice);
    log.clear();
    observed.Notify(9);
    EXPECT_TRUE(log.empty());
}

}  // namespace
