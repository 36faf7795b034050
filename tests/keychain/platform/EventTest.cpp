// Keychain events: what each file operation in a listed directory delivers,
// changes of the configuration file, and the per-thread registrations.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "PlatformTest.h"

namespace tarnel::testing {
namespace {

struct Seen {
    std::uint32_t event;
    std::string keychain;  // empty: none given
    bool operator==(const Seen& o) const { return event == o.event && keychain == o.keychain; }
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << "{" << s.event << " " << s.keychain << "}";
}

struct Recorder {
    std::vector<Seen> seen;
    int badInfo = 0;
};

Status record(std::uint32_t event, CallbackInfo* info, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    std::string path;
    if (info->keychain != nullptr) {
        char buffer[1024];
        std::uint32_t length = sizeof buffer;
        if (sys().keychainPath(info->keychain, &length, buffer) == kOk) path = buffer;
        if (lp::referenceCount(info->keychain) != 1) ++recorder->badInfo;
    }
    if (info->version != 0 || info->item != nullptr || info->pid != getpid()) ++recorder->badInfo;
    recorder->seen.push_back({event, path});
    return kOk;
}

Status recordAgain(std::uint32_t event, CallbackInfo* info, void* context) {
    return record(event, info, context);
}

// Runs the loop until nothing is pending; every turn before that handled one event.
void pump() {
    for (int turn = 0; turn < 1000; ++turn) {
        std::int32_t result = sys().runLoopOnce();
        if (result == 3) return;
        ASSERT_EQ(result, kRunLoopHandledSource);
    }
    FAIL() << "the run loop never ran dry";
}

void writeFile(const std::string& path, int writes, int flags = O_WRONLY | O_CREAT | O_TRUNC) {
    int fd = ::open(path.c_str(), flags, 0600);
    ASSERT_GE(fd, 0) << path;
    for (int i = 0; i < writes; ++i) ASSERT_EQ(::write(fd, "data", 4), 4);
    ::close(fd);
}

class EventTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        a = kc.dir("a");
        b = kc.dir("b");
        outside = kc.dir("outside");
        kc.writeConfig("user " + a + "\ndefault " + b + "\n# user " + outside + "\n");
    }
    void TearDown() override {
        sys().removeEventCallback(record);
        sys().removeEventCallback(recordAgain);
        PlatformTest::TearDown();
    }
    std::vector<Seen> take() {
        pump();
        std::vector<Seen> seen = std::move(recorder.seen);
        recorder.seen.clear();
        EXPECT_EQ(recorder.badInfo, 0);
        return seen;
    }

    std::string a, b, outside;
    Recorder recorder;
};

struct ActionCase {
    const char* what;
    std::function<void(const std::string& a, const std::string& b, const std::string& out)> prepare;
    std::function<void(const std::string& a, const std::string& b, const std::string& out)> act;
    std::vector<std::pair<std::uint32_t, char>> expected;  // event, directory 'a' or 'b'
};

TEST_F(EventTest, FileOperationsTable) {
    using S = const std::string&;
    auto none = [](S, S, S) {};
    auto existing = [](S a, S, S) { writeFile(a + "/f.p12", 1); };
    const std::vector<ActionCase> cases = {
        {"create, write, close",
         none,
         [](S a, S, S) { writeFile(a + "/f.p12", 5); },
         {{kAddEvent, 'a'}}},
        {"create empty", none, [](S a, S, S) { writeFile(a + "/f.p12", 0); }, {{kAddEvent, 'a'}}},
        {"in the default list's directory",
         none,
         [](S, S b, S) { writeFile(b + "/f.key", 1); },
         {{kAddEvent, 'b'}}},
        {"rewrite", existing, [](S a, S, S) { writeFile(a + "/f.p12", 3); }, {{kUpdateEvent, 'a'}}},
        {"append",
         existing,
         [](S a, S, S) { writeFile(a + "/f.p12", 2, O_WRONLY | O_APPEND); },
         {{kUpdateEvent, 'a'}}},
        {"two rewrites",
         existing,
         [](S a, S, S) {
             writeFile(a + "/f.p12", 1);
             writeFile(a + "/f.p12", 1);
         },
         {{kUpdateEvent, 'a'}, {kUpdateEvent, 'a'}}},
        {"created, then rewritten",
         none,
         [](S a, S, S) {
             writeFile(a + "/f.p12", 1);
             writeFile(a + "/f.p12", 1);
         },
         {{kAddEvent, 'a'}, {kUpdateEvent, 'a'}}},
        {"read only",
         existing,
         [](S a, S, S) { ::close(::open((a + "/f.p12").c_str(), O_RDONLY)); },
         {}},
        {"delete",
         existing,
         [](S a, S, S) { ::unlink((a + "/f.p12").c_str()); },
         {{kDeleteEvent, 'a'}}},
        {"moved in",
         [](S, S, S o) { writeFile(o + "/f.p12", 1); },
         [](S a, S, S o) { std::rename((o + "/f.p12").c_str(), (a + "/f.p12").c_str()); },
         {{kAddEvent, 'a'}}},
        {"moved out",
         existing,
         [](S a, S, S o) { std::rename((a + "/f.p12").c_str(), (o + "/f.p12").c_str()); },
         {{kDeleteEvent, 'a'}}},
        {"moved between keychains",
         existing,
         [](S a, S b, S) { std::rename((a + "/f.p12").c_str(), (b + "/f.p12").c_str()); },
         {{kDeleteEvent, 'a'}, {kAddEvent, 'b'}}},
        {"moved in, then rewritten",
         [](S, S, S o) { writeFile(o + "/f.p12", 1); },
         [](S a, S, S o) {
             std::rename((o + "/f.p12").c_str(), (a + "/f.p12").c_str());
             writeFile(a + "/f.p12", 1);
         },
         {{kAddEvent, 'a'}, {kUpdateEvent, 'a'}}},
        {"subdirectory and its files",
         none,
         [](S a, S, S) {
             fs::create_directory(a + "/sub");
             writeFile(a + "/sub/f.p12", 1);
             fs::remove_all(a + "/sub");
         },
         {}},
        {"unlisted directory", none, [](S, S, S o) { writeFile(o + "/f.p12", 1); }, {}},
    };
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& dir : {a, b, outside}) {
            for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
        }
        c.prepare(a, b, outside);
        take();
        c.act(a, b, outside);
        std::vector<Seen> expected;
        for (const auto& [event, dir] : c.expected) expected.push_back({event, dir == 'a' ? a : b});
        EXPECT_EQ(take(), expected);
    }
}

TEST_F(EventTest, ConfigurationChangesAndWatchesFollowTheLists) {
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    // Rewritten in place: the lists now hold only the formerly unlisted directory.
    kc.writeConfig("common " + outside + "\n");
    EXPECT_EQ(take(), (std::vector<Seen>{{kKeychainListChangedEvent, ""}}));
    writeFile(outside + "/x.p12", 1);
    writeFile(a + "/x.p12", 1);
    EXPECT_EQ(take(), (std::vector<Seen>{{kAddEvent, outside}}));
    // Replaced by rename.
    std::string next = kc.root() + "/next.conf";
    writeText(next, "dynamic " + a + "\n");
    take();
    ASSERT_EQ(std::rename(next.c_str(), kc.configPath().c_str()), 0);
    EXPECT_EQ(take(), (std::vector<Seen>{{kKeychainListChangedEvent, ""}}));
    writeFile(outside + "/y.p12", 1);
    writeFile(a + "/y.p12", 1);
    EXPECT_EQ(take(), (std::vector<Seen>{{kAddEvent, a}}));
    // Removed: no lists, no keychain events.
    fs::remove(kc.configPath());
    EXPECT_EQ(take(), (std::vector<Seen>{{kKeychainListChangedEvent, ""}}));
    writeFile(a + "/z.p12", 1);
    EXPECT_TRUE(take().empty());
}

TEST_F(EventTest, RegistrationRules) {
    EXPECT_EQ(sys().runLoopOnce(), 1);
    EXPECT_EQ(sys().removeEventCallback(record), -25298);
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    EXPECT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), -25297);
    EXPECT_EQ(sys().runLoopOnce(), 3);
    EXPECT_EQ(sys().removeEventCallback(record), kOk);
    EXPECT_EQ(sys().removeEventCallback(record), -25298);
    writeFile(a + "/lost.p12", 1);  // nobody watches: never delivered
    EXPECT_EQ(sys().runLoopOnce(), 1);
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    EXPECT_TRUE(take().empty());
}

// Each callback gets the events its mask selects.
TEST_F(EventTest, TwoCallbacksAndMasks) {
    Recorder deletions;
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    ASSERT_EQ(sys().addEventCallback(recordAgain, 1u << kDeleteEvent, &deletions), kOk);
    writeFile(a + "/f.p12", 1);
    ::unlink((a + "/f.p12").c_str());
    EXPECT_EQ(take(), (std::vector<Seen>{{kAddEvent, a}, {kDeleteEvent, a}}));
    EXPECT_EQ(deletions.seen, (std::vector<Seen>{{kDeleteEvent, a}}));
    EXPECT_EQ(sys().removeEventCallback(record), kOk);
    writeFile(a + "/g.p12", 1);
    ::unlink((a + "/g.p12").c_str());
    pump();
    EXPECT_EQ(deletions.seen.size(), 2u);
    EXPECT_TRUE(recorder.seen.empty());
}

// A registration belongs to its thread: another thread's loop neither sees it nor runs it.
TEST_F(EventTest, RegistrationsArePerThread) {
    ASSERT_EQ(sys().addEventCallback(record, kEveryEventMask, &recorder), kOk);
    Recorder other;
    std::int32_t otherBefore = 0, otherAfter = 0;
    Status otherAdd = -1;
    std::thread([&] {
        otherBefore = sys().runLoopOnce();
        otherAdd = sys().addEventCallback(record, kEveryEventMask, &other);
        writeFile(b + "/t.p12", 1);
        pump();
        otherAfter = sys().runLoopOnce();
        sys().removeEventCallback(record);
    }).join();
    EXPECT_EQ(otherBefore, 1);
    EXPECT_EQ(otherAdd, kOk);  // the same callback, registered on another thread
    EXPECT_EQ(otherAfter, 3);
    EXPECT_EQ(other.seen, (std::vector<Seen>{{kAddEvent, b}}));
    EXPECT_EQ(take(), (std::vector<Seen>{{kAddEvent, b}}));
}

}  // namespace
}  // namespace tarnel::testing
