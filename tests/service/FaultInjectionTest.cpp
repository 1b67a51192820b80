// The service on a bad day: servers that stall, reset, restart or speak nonsense, a stop in
// every state, a kill in the middle of a write, files that cannot grow. The real program runs
// as the service with the engine tests' session toolbox, against servers written on sockets,
// with its reconnect waits divided where a test waits for a reconnect.

#include <signal.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/store/AgentStore.h"
#include "tests/service/StopStates.h"

namespace {

using servicetest::AcceptSession;
using servicetest::Echo;
using servicetest::FaultWorld;
using servicetest::kStalledReplies;
using servicetest::kStalledReplyBytes;
using servicetest::ServiceProcess;
using servicetest::StallWithReplies;
using servicetest::WaitForLog;
using testsupport::Peer;
using testsupport::Request;

const std::string kLoad = servicetest::LoadEchoToolbox();
const std::string kFastWaits = "CORVANE_WAIT_DIVISOR=1000";

// The tags of the "Tag=" lines in the text, each as often as it occurs.
std::multiset<int> Tags(const std::string& text) {
    std::multiset<int> tags;
    const std::regex tag("Tag=([0-9]+)\n");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), tag);
         it != std::sregex_iterator(); ++it) {
        tags.insert(std::stoi((*it)[1]));
    }
    return tags;
}

void ExpectEchoed(Peer& server, int tag) {
    server.Send(Echo(tag));
    EXPECT_EQ(Tags(server.Next()), std::multiset<int>{tag});
}

void ExpectStopsWithExitZero(ServiceProcess& service, const std::string& state) {
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(), 0) << "stopped while " << state << "\n"
                                        << service.Errors() << service.Output();
}

TEST(FaultInjection, ASigtermEndsTheServiceFromEveryState) {
    for (const servicetest::StopState& state : servicetest::StopStates()) {
        FaultWorld world;
        std::optional<ServiceProcess> service;
        const std::shared_ptr<void> held = state.reach(world, [&] {
            service.emplace(world, world.notify.Path(), std::vector<std::string>{kLoad});
        });
        ExpectStopsWithExitZero(*service, state.name);
    }
}

// Every reply reaches the server once or stays in the state file; none is lost or doubled.
TEST(FaultInjection, RepliesNotWrittenWhenTheServiceStopsAreSavedWithTheOutputQueue) {
    FaultWorld world;
    ServiceProcess service(world, world.notify.Path(), {kLoad});
    std::unique_ptr<Peer> server = AcceptSession(world);
    const int count = kStalledReplies;
    StallWithReplies(world, *server, count, kStalledReplyBytes);
    ExpectStopsWithExitZero(service, "writing");

    std::multiset<int> tags = Tags(scratch::ReadFile(world.ProgramFolder() + "/wardex.dat"));
    EXPECT_FALSE(tags.empty()) << "the stalled replies are in the state file";
    while (const std::optional<std::string> reply = server->NextOrEnd()) {
        tags.merge(Tags(*reply));
    }
    std::multiset<int> every;
    for (int tag = 0; tag < count; ++tag) {
        every.insert(tag);
    }
    EXPECT_EQ(tags, every);
}

TEST(FaultInjection, AResetInTheMiddleOfAReplyEndsTheSessionAndTheServiceReconnects) {
    FaultWorld world;
    ServiceProcess service(world, world.notify.Path(), {kLoad}, {kFastWaits});
    std::unique_ptr<Peer> server = AcceptSession(world);
    // Larger than the socket buffers of both sides, so the agent is still writing it.
    server->Send(Echo(1, 8 << 20));
    EXPECT_NE(testsupport::ReceiveSome(server->Socket(), 1000), "");
    server->Reset();
    server = AcceptSession(world);
    ExpectEchoed(*server, 2);
    EXPECT_EQ(world.LogCount("The connection is closed, 1 message(s) stay in the output queue"), 1u)
        << "the reply cut short is kept for the state file";
    // The input thread sees the reset as one or the other, by the moment it comes.
    EXPECT_EQ(world.LogCount("Socket exception cannot be recovered") +
                  world.LogCount("Socket appears to be closed"),
              1u);
    ExpectStopsWithExitZero(service, "reading");
}

TEST(FaultInjection, TheServiceReconnectsToAServerThatRestartsFiftyTimes) {
    FaultWorld world;
    ServiceProcess service(world, world.notify.Path(), {kLoad}, {kFastWaits});
    for (int restart = 0; restart < 50; ++restart) {
        std::unique_ptr<Peer> server = AcceptSession(world);
        if (restart % 2 == 0) {
            server->Close();
        } else {
            server->Reset();
        }
    }
    std::unique_ptr<Peer> server = AcceptSession(world);
    ExpectEchoed(*server, 51);
    ExpectStopsWithExitZero(service, "reading");
}

TEST(FaultInjection, GarbageInsteadOfATlsHandshakeEndsTheSessionWithItsReason) {
    FaultWorld world;
    ServiceProcess service(world, world.notify.Path(), {kLoad}, {kFastWaits});
    std::unique_ptr<Peer> server = AcceptSession(world);
    server->Send("Reply=CreateSession\nResult=Success");
    EXPECT_NE(testsupport::ReceiveSome(server->Socket(), 4096), "") << "the client's hello";
    server->SendRaw("HTTP/1.1 400 Bad Request\r\n\r\n");
    EXPECT_EQ(server->NextOrEnd(), std::nullopt) << "nothing in plain text after a failed switch";
    server = AcceptSession(world);
    EXPECT_GE(world.LogCount("the TLS handshake failed: "), 1u);
    ExpectStopsWithExitZero(service, "reading");
}

TEST(FaultInjection, AMessageWithoutEndIsDiscardedAtItsCapAndTheSessionGoesOn) {
    FaultWorld world;
    ServiceProcess service(world, world.notify.Path(), {kLoad});
    std::unique_ptr<Peer> server = AcceptSession(world);
    const std::string megabyte(1 << 20, 'x');
    for (int sent = 0; sent < 17; ++sent) {
        server->SendRaw(megabyte);
    }
    server->SendRaw(std::string(1, '\0'));
    ExpectEchoed(*server, 1);
    EXPECT_EQ(world.LogCount("Message over 16777216 bytes, discarding it up to its end"), 1u);
    EXPECT_EQ(world.LogCount("Discarded 1 message(s) over 16777216 bytes"), 1u);
    ExpectStopsWithExitZero(service, "reading");
}

TEST(FaultInjection, ADamagedStateFileIsSetAsideAndTheServiceServes) {
    FaultWorld world;
    scratch::WriteFile(world.ProgramFolder() + "/wardex.dat", "22 serialization::archive 99 0 0");
    ServiceProcess service(world, world.notify.Path(), {kLoad});
    std::unique_ptr<Peer> server = AcceptSession(world);
    ExpectEchoed(*server, 1);
    EXPECT_EQ(world.LogCount("could not be read (unsupported version); it was moved to"), 1u)
        << world.Log();
    EXPECT_EQ(scratch::ReadFile(world.ProgramFolder() + "/wardex.dat.damaged"),
              "22 serialization::archive 99 0 0");
    ExpectStopsWithExitZero(service, "reading");
    CAgentState state;
    EXPECT_EQ(LoadAgentState(world.ProgramFolder() + "/wardex.dat", state), "")
        << "the stop wrote a good file";
}

// Killed at any moment of a settings write or a state save, the file is the old one or the
// new one, never a mix.
TEST(FaultInjection, AKillDuringASettingsWriteOrAStateSaveLeavesAWholeFile) {
    for (int killAfter = 1; killAfter <= 16; killAfter *= 2) {
        FaultWorld world;
        ServiceProcess service(world, world.notify.Path(), {kLoad});
        std::unique_ptr<Peer> server = AcceptSession(world);
        for (int value = 0; value < 40; ++value) {
            server->Send(Request("Command", "Command=SetAgentSettings\nConsoleName=name-" +
                                                std::to_string(value) +
                                                "\nTag=" + std::to_string(value)));
        }
        for (int reply = 0; reply < killAfter; ++reply) {
            server->Next();
        }
        service.Signal(SIGKILL);
        service.WaitForExit();
        const std::string stored = world.Stored("ConsoleName");
        EXPECT_TRUE(std::regex_match(stored, std::regex("name-[0-9]+"))) << stored;
    }
    for (const int killAfterMs : {0, 5, 10, 20, 40, 80}) {
        FaultWorld world;
        const std::string stateFile = world.ProgramFolder() + "/wardex.dat";
        CAgentState earlier;
        earlier.RestorePersisted({"", "old", "", "", "", ""});
        SaveAgentState(stateFile, earlier, MsgFifoQueue());
        ServiceProcess service(world, world.notify.Path(), {kLoad});
        std::unique_ptr<Peer> server = AcceptSession(world);
        StallWithReplies(world, *server, kStalledReplies, kStalledReplyBytes);
        service.Signal(SIGTERM);
        ASSERT_TRUE(WaitForLog(world, "Signaled Agent to exit"));
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
        service.Signal(SIGKILL);
        service.WaitForExit();
        // The old file and the new one both hold the value loaded at the start.
        CAgentState state;
        EXPECT_EQ(LoadAgentState(stateFile, state), "") << "killed " << killAfterMs << " ms in";
        EXPECT_EQ(state.TakePersisted()[1], "old") << "killed " << killAfterMs << " ms in";
    }
}

// A full disk, played by a file-size limit: a write that cannot be made is reported, what was
// stored stays, and the service goes on serving.
TEST(FaultInjection, WritesThatFailForLackOfSpaceAreReportedAndLoseNothingStored) {
    const std::vector<std::string> limit = {"/usr/bin/prlimit", "--fsize=1048576"};
    FaultWorld world;
    world.Store({{"ConsoleName", "before"}});
    const std::string stateFile = world.ProgramFolder() + "/wardex.dat";
    CAgentState earlier;
    earlier.RestorePersisted({"", "7", "", "", "", ""});
    SaveAgentState(stateFile, earlier, MsgFifoQueue());
    {
        ServiceProcess service(world, world.notify.Path(), {kLoad}, {}, limit);
        std::unique_ptr<Peer> server = AcceptSession(world);
        server->Send(Request("Command",
                             "Command=SetAgentSettings\nConsoleName=" + std::string(2 << 20, 'n')));
        server->Next();
        EXPECT_EQ(world.Stored("ConsoleName"), "before");
        ExpectEchoed(*server, 1);
        StallWithReplies(world, *server, kStalledReplies, kStalledReplyBytes);
        ExpectStopsWithExitZero(service, "saving more than fits");
        EXPECT_EQ(world.LogCount("SaveState - cannot write the state file"), 1u) << world.Log();
        CAgentState kept;
        EXPECT_EQ(LoadAgentState(stateFile, kept), "");
        EXPECT_EQ(kept.TakePersisted()[1], "7") << "the earlier state file is whole";
    }
    world.Store({{"LogDebug", "1"}});
    // The first run's status reports fill the first listener, which nobody reads.
    servicetest::NotifyListener notify(world.Scratch() / "second-notify");
    ServiceProcess service(world, notify.Path(), {kLoad}, {}, limit);
    std::unique_ptr<Peer> server = AcceptSession(world);
    for (int tag = 0; tag < 20; ++tag) {
        server->Send(Echo(tag, 60000));
        server->Next();
    }
    ExpectEchoed(*server, 20);
    ExpectStopsWithExitZero(service, "with a full log");
    EXPECT_NE(service.Errors().find("cannot be written, lines are lost"), std::string::npos)
        << service.Errors();
}

}  // namespace
