// Keychain events from inotify, delivered by the run-loop turn of the thread
// that registered for them.
//
// Each registering thread has its own inotify descriptor watching every
// directory of every search list and the directory of the configuration file
// (a file replaced by rename is seen there). A new file is one addition: its
// writes up to its first close belong to it. A later close after writing is one
// update; a removal or a move away is a deletion; any change of the
// configuration file is a change of the lists, after which the watches follow
// the new lists.
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <map>
#include <set>

#include "Internal.h"

namespace tarnel::linux_platform {

namespace {

// IN_OPEN is watched only to separate closes: the kernel merges an event into an
// identical unread one before it, so two rewrites would otherwise be one update.
constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_OPEN | IN_ONLYDIR;

struct Registration {
    EventCallback callback;
    std::uint32_t mask;
    void* context;
};

struct Watch {
    std::string path;
    bool keychain = false;  // a directory of a search list
    bool config = false;    // the configuration file's directory
};

struct Pending {
    std::uint32_t event;
    std::string keychain;  // empty: no keychain
};

class ThreadEvents {
  public:
    ~ThreadEvents() { close(); }

    std::vector<Registration> registrations;
    std::deque<Pending> queue;

    bool open() {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return false;
        follow(readConfiguration());
        return true;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        watches_.clear();
        fresh_.clear();
        queue.clear();
    }

    // Reads every event inotify holds into the queue, without waiting.
    void drain() {
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                handle(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

  private:
    // Watches the configuration file's directory and every listed directory,
    // dropping watches of directories no longer listed.
    void follow(const Configuration& config) {
        std::set<std::string> listed;
        for (const auto& list : config.lists) listed.insert(list.begin(), list.end());
        configName_.clear();
        std::string configDir;
        if (!config.file.empty()) {
            std::size_t slash = config.file.rfind('/');
            configDir = slash == std::string::npos ? "." : config.file.substr(0, slash);
            if (configDir.empty()) configDir = "/";
            configName_ = slash == std::string::npos ? config.file : config.file.substr(slash + 1);
        }
        for (auto& [wd, w] : watches_) w.keychain = w.config = false;
        auto watch = [&](const std::string& path, bool keychain) {
            int wd = inotify_add_watch(fd_, path.c_str(), kWatchMask);
            if (wd < 0) return;
            Watch& w = watches_[wd];
            w.path = path;
            w.keychain |= keychain;
            w.config |= !keychain;
        };
        if (!configDir.empty()) watch(configDir, false);
        for (const auto& path : listed) watch(path, true);
        for (auto it = watches_.begin(); it != watches_.end();) {
            if (!it->second.keychain && !it->second.config) {
                inotify_rm_watch(fd_, it->first);
                forget(it->first);
                it = watches_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void forget(int wd) {
        for (auto it = fresh_.begin(); it != fresh_.end();) {
            it = it->first == wd ? fresh_.erase(it) : std::next(it);
        }
    }

    void handle(const inotify_event& event) {
        if (event.mask & IN_IGNORED) {
            forget(event.wd);
            watches_.erase(event.wd);
            return;
        }
        auto found = watches_.find(event.wd);
        if (found == watches_.end() || event.len == 0 || (event.mask & IN_ISDIR)) return;
        const Watch& watch = found->second;
        std::string name = event.name;
        if (watch.config && name == configName_) {
            // Whole writes and renames change the lists; a creation is followed by its close.
            if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) {
                queue.push_back({kKeychainListChangedEvent, std::string()});
                follow(readConfiguration());
            }
            return;
        }
        if (!watch.keychain) return;
        auto key = std::make_pair(event.wd, name);
        if (event.mask & IN_CREATE) {
            fresh_.insert(key);
            queue.push_back({kAddEvent, watch.path});
        } else if (event.mask & IN_MOVED_TO) {
            fresh_.erase(key);
            queue.push_back({kAddEvent, watch.path});
        } else if (event.mask & IN_CLOSE_WRITE) {
            if (fresh_.erase(key) == 0) queue.push_back({kUpdateEvent, watch.path});
        } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            fresh_.erase(key);
            queue.push_back({kDeleteEvent, watch.path});
        }
    }

    int fd_ = -1;
    std::map<int, Watch> watches_;
    std::set<std::pair<int, std::string>> fresh_;  // created, not yet closed
    std::string configName_;
};

thread_local ThreadEvents t_events;

}  // namespace

Status LinuxPlatform::addEventCallback(EventCallback callback, std::uint32_t eventMask,
                                       void* context) {
    if (callback == nullptr) return kParam;
    for (const auto& r : t_events.registrations) {
        if (r.callback == callback) return kDuplicateCallback;
    }
    if (t_events.registrations.empty() && !t_events.open()) return kInternalComponent;
    t_events.registrations.push_back({callback, eventMask, context});
    return kOk;
}

Status LinuxPlatform::removeEventCallback(EventCallback callback) {
    auto& list = t_events.registrations;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->callback != callback) continue;
        list.erase(it);
        if (list.empty()) t_events.close();
        return kOk;
    }
    return kInvalidCallback;
}

std::int32_t LinuxPlatform::runLoopOnce() {
    if (t_events.registrations.empty()) return kRunLoopFinished;
    t_events.drain();
    if (t_events.queue.empty()) return kRunLoopTimedOut;
    Pending pending = std::move(t_events.queue.front());
    t_events.queue.pop_front();
    // A callback may register or remove callbacks: call the ones registered now.
    std::vector<Registration> targets = t_events.registrations;
    for (const auto& r : targets) {
        if (pending.event < 32 && (r.mask & (1u << pending.event)) == 0) continue;
        Ref keychain = pending.keychain.empty() ? nullptr : makeKeychain(pending.keychain);
        CallbackInfo info{0, nullptr, keychain, static_cast<std::int32_t>(getpid())};
        r.callback(pending.event, &info, r.context);
        if (keychain != nullptr) releaseRef(keychain);
    }
    return kRunLoopHandledSource;
}

}  // namespace tarnel::linux_platform
