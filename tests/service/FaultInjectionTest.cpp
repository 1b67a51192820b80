// The service on a bad day: a server that sends no end, a log that cannot grow. The
// real program runs as the service with the engine tests' session toolbox, against servers
// written on sockets. (A kill in the middle of a settings write is the store's own test,
// where readers watch every write.)

#include <signal.h>

#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/service/ServiceTestSupport.h"

namespace {

using servicetest::AcceptSession;
using servicetest::Echo;
using servicetest::ServiceWorld;
using testsupport::ChildProcess;
using testsupport::Peer;

void ExpectEchoed(Peer& server, int tag) {
    server.Send(Echo(tag));
    EXPECT_EQ(servicetest::Tags(server.Next()), std::multiset<int>{tag});
}

void ExpectStopsWithExitZero(ChildProcess& service, const std::string& state) {
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(), 0) << "stopped while " << state << "\n"
                                        << service.Errors() << service.Output();
}

TEST(FaultInjection, AMessageWithoutEndIsDiscardedAtItsCapAndTheSessionGoesOn) {
    ServiceWorld world;
    const auto service = world.StartService();
    std::unique_ptr<Peer> server = AcceptSession(world);
    const std::string megabyte(1 << 20, 'x');
    for (int sent = 0; sent < 17; ++sent) {
        server->SendRaw(megabyte);
    }
    server->SendRaw(std::string(1, '\0'));
    ExpectEchoed(*server, 1);
    EXPECT_EQ(world.LogCount("Message over 16777216 bytes, discarding it up to its end"), 1u);
    EXPECT_EQ(world.LogCount("Discarded 1 message(s) over 16777216 bytes"), 1u);
    ExpectStopsWithExitZero(*service, "reading");
}

// A full disk, played by a file-size limit, under a log that copies every message: the log
// that cannot grow says so once on standard error, and the service goes on serving. (A store
// or state file that cannot be written is checked beside them.)
TEST(FaultInjection, ALogThatCannotGrowIsReportedAndTheServiceGoesOn) {
    ServiceWorld world;
    world.Store({{"LogDebug", "1"}});
    const auto service =
        world.StartService(world.notify.Path(), {"/usr/bin/prlimit", "--fsize=1048576"});
    std::unique_ptr<Peer> server = AcceptSession(world);
    for (int tag = 0; tag < 20; ++tag) {
        server->Send(Echo(tag, 60000));
        server->Next();
    }
    ExpectEchoed(*server, 20);
    ExpectStopsWithExitZero(*service, "with a full log");
    EXPECT_NE(service->Errors().find("cannot be written, lines are lost"), std::string::npos)
        << service->Errors();
}

}  // namespace
