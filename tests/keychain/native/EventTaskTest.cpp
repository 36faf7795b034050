// KeyChainLib.loadKeyChainLibrary and Finalize: the event task, its callback's
// printout (standard output captured into a file while the task runs) for a
// real file dropped into a keychain directory and for forced event numbers.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "KeychainJvm.h"
#include "Keychains.h"

namespace kcn {
namespace {

using tarnel::testing::Keychains;

// Standard output (fd 1) goes to a file until stop() or the guard's end.
class StdoutCapture {
  public:
    explicit StdoutCapture(const std::string& file) : file_(file) {
        std::fflush(stdout);
        saved_ = dup(1);
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (saved_ >= 0 && fd >= 0) dup2(fd, 1);
        if (fd >= 0) close(fd);
    }
    ~StdoutCapture() { stop(); }
    void stop() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    std::string text() const {
        std::ifstream in(file_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    std::string file_;
    int saved_ = -1;
};

// Ends the task on every way out of a test.
struct TaskGuard {
    ~TaskGuard() { finalizeLibrary(); }
};

template <class Condition>
bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class EventTaskTest : public KeychainTest {
  protected:
    Keychains keychains;
};

TEST_F(EventTaskTest, FinalizeWithoutATaskReturnsAtOnce) {
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        finalizeLibrary();
        // A Finalize that waited for a task would take its whole stop wait (seconds).
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    }
    EXPECT_TRUE(forcing.calls().empty());
}

TEST_F(EventTaskTest, TaskPrintsRealAndForcedEventsAndFinalizeStopsIt) {
    const std::string first = keychains.dir("dyn-first"), last = keychains.dir("dyn-last");
    const std::string unreadable = keychains.dirOfLength(500);
    keychains.writeConfig(
        {{"dynamic", first}, {"default", first}, {"dynamic", unreadable}, {"dynamic", last}});
    const std::string keychainLines =
        "\nKeychain 0: " + first + "\nKeychain 1: <can't retrieve>\nKeychain 2: " + last;
    struct ForcedEvent {
        std::uint32_t number;
        const char* name;
    };
    const ForcedEvent forced[] = {
        {1, "kSecLockEvent"},
        {2, "kSecUnlockEvent"},
        {4, "kSecDeleteEvent"},
        {6, "kSecPasswordChangedEvent"},
        {9, "kSecDefaultChangedEvent"},
        {10, "kSecDataAccessEvent"},
        {11, "kSecKeychainListChangedEvent"},
        {7, ""},
        {12, "unknown event 12"},
        {42, "unknown event 42"},
        {100000, "unknown event 100000"},
    };
    const std::string addLine =
        "\nCallback called. Event: kSecAddEvent, PID: " + std::to_string(getpid()) + keychainLines;

    bool registered = false, added = false, stopped = false;
    std::vector<bool> printed;
    jint firstStart = -1, secondStart = -1;
    std::string output;
    {
        StdoutCapture capture(keychains.root() + "/stdout.txt");
        TaskGuard guard;
        firstStart = loadKeyChainLibrary();
        registered = waitFor([&] { return forcing.callbackRegistered(); });
        secondStart = loadKeyChainLibrary();
        if (registered) {
            tarnel::testing::writeText(first + "/dropped.p12", "not really a PKCS#12 file");
            added = waitFor([&] { return capture.text().find(addLine) != std::string::npos; });
            for (std::size_t i = 0; i < std::size(forced); ++i) {
                forcing.forceEvent(forced[i].number, static_cast<std::int32_t>(7000 + i));
            }
            for (std::size_t i = 0; i < std::size(forced); ++i) {
                const std::string line = std::string("\nCallback called. Event: ") +
                                         forced[i].name + ", PID: " + std::to_string(7000 + i) +
                                         keychainLines;
                printed.push_back(
                    waitFor([&] { return capture.text().find(line) != std::string::npos; }));
            }
        }
        finalizeLibrary();
        stopped = !forcing.callbackRegistered();
        capture.stop();
        output = capture.text();
    }
    EXPECT_EQ(firstStart, 0);
    EXPECT_EQ(secondStart, 0);
    ASSERT_TRUE(registered) << "the task registered no callback";
    EXPECT_TRUE(added) << "no kSecAddEvent printout; the task printed:" << output;
    for (std::size_t i = 0; i < printed.size(); ++i) {
        EXPECT_TRUE(printed[i]) << "event " << forced[i].number << " not printed as \""
                                << forced[i].name << "\"; the task printed:" << output;
    }
    // Nothing but whole printouts: each an event line and the dynamic domain's keychain lines.
    const std::string head = "\nCallback called. Event: ";
    EXPECT_EQ(output.compare(0, head.size(), head), 0) << output;
    for (std::size_t at = 0; at < output.size();) {
        const std::size_t next = output.find(head, at + 1);
        const std::string block = output.substr(at, next == std::string::npos ? next : next - at);
        const std::size_t pid = block.find(", PID: ");
        ASSERT_NE(pid, std::string::npos) << block;
        std::size_t end = pid + 7;
        while (end < block.size() && std::isdigit(static_cast<unsigned char>(block[end]))) ++end;
        EXPECT_GT(end, pid + 7) << block;
        EXPECT_EQ(block.substr(end), keychainLines) << block;
        at = next == std::string::npos ? output.size() : next;
    }
    EXPECT_TRUE(stopped) << "Finalize returned before the task removed its callback";
    auto adds = forcing.callsOf("addEventCallback");
    ASSERT_EQ(adds.size(), 1u) << "a second task was started";
    EXPECT_EQ(adds[0].eventMask, tarnel::kEveryEventMask);
    EXPECT_NE(adds[0].thread, std::this_thread::get_id());
    auto removes = forcing.callsOf("removeEventCallback");
    ASSERT_EQ(removes.size(), 1u);
    EXPECT_EQ(removes[0].thread, adds[0].thread);
}

TEST_F(EventTaskTest, AStoppedTaskCanBeStartedAgain) {
    keychains.writeConfig({{"dynamic", keychains.dir("k")}});
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        TaskGuard guard;
        EXPECT_EQ(loadKeyChainLibrary(), 0);
        EXPECT_TRUE(waitFor([&] { return forcing.callbackRegistered(); }));
        finalizeLibrary();
        EXPECT_FALSE(forcing.callbackRegistered());
        EXPECT_EQ(forcing.count("addEventCallback"), static_cast<std::size_t>(round));
        EXPECT_EQ(forcing.count("removeEventCallback"), static_cast<std::size_t>(round));
    }
    // Started and stopped at once, before the task has registered anything.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(loadKeyChainLibrary(), 0);
        finalizeLibrary();
    }
    EXPECT_FALSE(forcing.callbackRegistered());
    EXPECT_EQ(forcing.count("addEventCallback"), forcing.count("removeEventCallback"));
}

// Lets whatever a test held at the forcing platform's gates go, before the task guard stops it.
struct GatesOpened {
    ForcingPlatform& forcing;
    ~GatesOpened() {
        forcing.addGate.open();
        forcing.removeGate.open();
    }
};

// The callback operations in the order they were made.
std::string registrations(const ForcingPlatform& forcing) {
    std::string out;
    for (const PlatformCall& call : forcing.calls()) {
        if (call.op == "addEventCallback") out += 'A';
        if (call.op == "removeEventCallback") out += 'R';
    }
    return out;
}

// Whether the thread `tid` of this process is asleep (blocked) now.
bool threadBlocked(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] == 'S';
}

TEST_F(EventTaskTest, AStopAskedBeforeTheTaskRegisteredEndsItOnceItHas) {
    keychains.writeConfig({{"dynamic", keychains.dir("k")}});
    TaskGuard task;
    GatesOpened gates{forcing};
    forcing.addGate.close();
    ASSERT_EQ(loadKeyChainLibrary(), 0);
    ASSERT_TRUE(waitFor([&] { return forcing.addGate.holding(); }));
    finalizeLibrary();  // gives up waiting: the task is still on its way to registering
    EXPECT_EQ(registrations(forcing), "");
    forcing.addGate.open();
    EXPECT_TRUE(waitFor([&] { return registrations(forcing) == "AR"; }))
        << "the task did not end after registering: " << registrations(forcing);
    EXPECT_FALSE(forcing.callbackRegistered());
    // Ended for good: the next start is a new task with a callback of its own.
    EXPECT_EQ(loadKeyChainLibrary(), 0);
    EXPECT_TRUE(waitFor([&] { return forcing.callbackRegistered(); }));
    finalizeLibrary();
    EXPECT_EQ(registrations(forcing), "ARAR");
    EXPECT_FALSE(forcing.callbackRegistered());
}

TEST_F(EventTaskTest, AStartWhileTheTaskIsEndingStartsANewOneAfterIt) {
    keychains.writeConfig({{"dynamic", keychains.dir("k")}});
    TaskGuard task;
    GatesOpened gates{forcing};
    ASSERT_EQ(loadKeyChainLibrary(), 0);
    ASSERT_TRUE(waitFor([&] { return forcing.callbackRegistered(); }));
    forcing.removeGate.close();
    finalizeLibrary();  // gives up waiting: the task is held removing its callback
    ASSERT_TRUE(waitFor([&] { return forcing.removeGate.holding(); }));
    EXPECT_EQ(registrations(forcing), "A");

    std::atomic<pid_t> starter{0};
    std::atomic<bool> started{false}, attached{false};
    std::atomic<jint> result{-1};
    std::thread other([&] {
        JNIEnv* e = nullptr;
        if (vm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK) {
            started = true;
            return;
        }
        attached = true;
        starter = gettid();
        result = loadKeyChainLibrary(e);
        started = true;
        vm()->DetachCurrentThread();
    });
    // Let the task end once the start is waiting for it (or has returned).
    waitFor([&] { return started || (starter != 0 && threadBlocked(starter)); });
    forcing.removeGate.open();
    other.join();
    EXPECT_TRUE(attached);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(waitFor([&] { return registrations(forcing) == "ARA"; }))
        << "no new task after the start: " << registrations(forcing);
    EXPECT_TRUE(forcing.callbackRegistered());
    finalizeLibrary();
    EXPECT_EQ(registrations(forcing), "ARAR");
    EXPECT_FALSE(forcing.callbackRegistered());
}

}  // namespace
}  // namespace kcn
