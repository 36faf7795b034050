// KeyChain.GetIdentityList and ReleaseIdentityList, KeyChainIdentity.Lock and
// Release: which identities come back, and every reference dropped exactly as
// often as it was taken, from one thread or several.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "KeychainJvm.h"
#include "Keychains.h"
#include "linux/LinuxPlatform.h"

namespace kcn {
namespace {

using tarnel::testing::Keychains;

tarnel::Ref refOf(jlong handle) {
    return reinterpret_cast<tarnel::Ref>(static_cast<std::intptr_t>(handle));
}

long countOf(jlong handle) {
    return tarnel::linux_platform::referenceCount(refOf(handle));
}

class IdentityReferencesTest : public KeychainTest {
  protected:
    // A keychain object for `dir`, which the default search list holds.
    jobject keyChainFor(const std::string& dir) { return newKeyChain(str(dir)); }

    jobject element(jobjectArray array, jsize i) { return env->GetObjectArrayElement(array, i); }

    Keychains keychains;
};

TEST_F(IdentityReferencesTest, KeychainsWithoutSigningIdentitiesGiveNull) {
    const std::string empty = keychains.dir("empty"), skipped = keychains.dir("skipped");
    const std::string unlisted = keychains.dir("unlisted");
    keychains.addMismatchedPair(skipped, "mismatched");
    keychains.addEncryptedPair(skipped, "encrypted");
    keychains.addPair(unlisted, "signer");
    keychains.writeConfig(
        {{"default", empty}, {"default", skipped}, {"user", unlisted}, {"dynamic", unlisted}});
    for (const std::string& dir : {empty, skipped, unlisted, keychains.root() + "/missing"}) {
        SCOPED_TRACE(dir);
        EXPECT_EQ(getIdentityList(keyChainFor(dir)), nullptr);
        expectNoException();
    }
    // A keychain object without a path, and a list that is no list.
    EXPECT_EQ(getIdentityList(newKeyChain(nullptr)), nullptr);
    releaseIdentityList(keyChainFor(empty), nullptr);
    expectNoException();
    // The one keychain that is listed and holds nothing to sign with was searched for signing keys.
    forcing.clearCalls();
    EXPECT_EQ(getIdentityList(keyChainFor(skipped)), nullptr);
    auto searches = forcing.callsOf("createIdentitySearch");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].keyUsage, tarnel::kKeyUseSign);
}

TEST_F(IdentityReferencesTest, EveryIdentityComesBackOnceInNameOrderHoldingOneReference) {
    for (std::size_t count : {1u, 2u, 99u, 100u, 101u, 150u}) {
        SCOPED_TRACE(count);
        const std::string dir = keychains.dir("many-" + std::to_string(count));
        auto made = keychains.addMany(dir, "id", count);
        keychains.writeConfig({{"default", dir}});
        jobject keyChain = keyChainFor(dir);
        jobjectArray list = getIdentityList(keyChain);
        expectNoException();
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(static_cast<std::size_t>(env->GetArrayLength(list)), count);
        std::vector<jlong> handles;
        jclass identityClass = env->FindClass("zentrel/keychain/KeyChainIdentity");
        const jfieldID ownerField =
            env->GetFieldID(identityClass, "m_pKeyChain", "Lzentrel/keychain/KeyChain;");
        env->DeleteLocalRef(identityClass);
        for (jsize i = 0; i < static_cast<jsize>(count); ++i) {
            jobject identity = element(list, i);
            const jlong handle = handleOf(identity);
            ASSERT_NE(handle, 0) << i;
            EXPECT_EQ(countOf(handle), 1) << i;
            for (jlong seen : handles) ASSERT_NE(seen, handle) << "handle repeated at " << i;
            handles.push_back(handle);
            jobject owner = env->GetObjectField(identity, ownerField);
            EXPECT_TRUE(env->IsSameObject(owner, keyChain)) << i;
            if (i == 0 || i + 1 == static_cast<jsize>(count) || i == 100) {
                jstring alias = getAlias(identity);
                EXPECT_EQ(text(alias), made[static_cast<std::size_t>(i)].name);
                env->DeleteLocalRef(alias);
            }
            env->DeleteLocalRef(owner);
            env->DeleteLocalRef(identity);
        }
        // The search and the keychain are gone; only the identities the array holds live on.
        EXPECT_EQ(tarnel::linux_platform::liveObjects(), count);
        releaseAll(keyChain, list);
        for (jlong handle : handles) EXPECT_EQ(countOf(handle), 0);
        EXPECT_EQ(tarnel::linux_platform::liveObjects(), 0u);
        env->DeleteLocalRef(list);
        env->DeleteLocalRef(keyChain);
    }
}

// Lock and Release on one object: 'L' locks, 'R' releases. The object holds
// one reference from its making and one per Lock; a Release beyond them does
// nothing, and the last one clears m_hIdentity (after which Lock does nothing).
TEST_F(IdentityReferencesTest, LockAndReleaseBalanceAndOverReleaseDoesNothing) {
    const std::string dir = keychains.dir("k");
    keychains.addPair(dir, "signer");
    keychains.writeConfig({{"default", dir}});
    for (const std::string sequence :
         {"R", "RR", "RRR", "LR", "LRR", "LLRRR", "LLLRRRRR", "RL", "RLR", "LRLRLRR", "LLRLRRR"}) {
        SCOPED_TRACE(sequence);
        jobject keyChain = keyChainFor(dir);
        jobjectArray list = getIdentityList(keyChain);
        ASSERT_NE(list, nullptr);
        jobject identity = element(list, 0);
        const jlong handle = handleOf(identity);
        long held = 1;
        for (char op : sequence) {
            forcing.clearCalls();
            const std::size_t taken = op == 'L' && held > 0 ? 1 : 0;
            const std::size_t dropped = op == 'R' && held > 0 ? 1 : 0;
            if (op == 'L') {
                lock(identity);
                if (held > 0) ++held;
            } else {
                release(identity);
                if (held > 0) --held;
            }
            expectNoException();
            EXPECT_EQ(forcing.count("retain"), taken) << "after " << op;
            EXPECT_EQ(forcing.count("release"), dropped) << "after " << op;
            EXPECT_EQ(countOf(handle), held) << "after " << op;
            EXPECT_EQ(handleOf(identity), held > 0 ? handle : 0) << "after " << op;
        }
        // Whatever is left goes with the list.
        releaseAll(keyChain, list);
        EXPECT_EQ(countOf(handle), 0);
        env->DeleteLocalRef(identity);
        env->DeleteLocalRef(list);
        env->DeleteLocalRef(keyChain);
    }
}

TEST_F(IdentityReferencesTest, TwoObjectsHoldingOneIdentityKeepTheirOwnReferences) {
    const std::string dir = keychains.dir("k");
    keychains.addPair(dir, "shared");
    keychains.writeConfig({{"default", dir}});
    jobject keyChain = keyChainFor(dir);
    jobjectArray list = getIdentityList(keyChain);
    ASSERT_NE(list, nullptr);
    jobject first = element(list, 0);
    const jlong handle = handleOf(first);
    jobject copy = newIdentity(handle, keyChain);  // made by Java: holds nothing yet

    release(copy);  // holds nothing: drops nothing
    EXPECT_EQ(countOf(handle), 1);
    lock(copy);
    EXPECT_EQ(countOf(handle), 2);
    release(first);  // the first object's only reference
    EXPECT_EQ(handleOf(first), 0);
    EXPECT_EQ(countOf(handle), 1);
    release(first);
    EXPECT_EQ(countOf(handle), 1) << "the first object dropped the copy's reference";
    EXPECT_EQ(text(getAlias(copy)), "shared");
    EXPECT_EQ(getAlias(first), nullptr);
    release(copy);
    EXPECT_EQ(handleOf(copy), 0);
    EXPECT_EQ(countOf(handle), 0);
    releaseIdentityList(keyChain, list);  // both already gave theirs back
    expectNoException();

    // An address no object holds is not taken for an identity.
    jobject forged = newIdentity(handle, keyChain);
    lock(forged);
    release(forged);
    EXPECT_EQ(getAlias(forged), nullptr);
    EXPECT_EQ(getAttribute(forged, 256), nullptr);
    expectNoException();
}

TEST_F(IdentityReferencesTest, ReleaseIdentityListSkipsZeroAndNullAndNeverOverReleases) {
    const std::string dir = keychains.dir("k");
    keychains.addMany(dir, "id", 4);
    keychains.writeConfig({{"default", dir}});
    jobject keyChain = keyChainFor(dir);
    jobjectArray list = getIdentityList(keyChain);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(env->GetArrayLength(list), 4);
    jobject id[4];
    jlong handle[4];
    for (jsize i = 0; i < 4; ++i) {
        id[i] = element(list, i);
        handle[i] = handleOf(id[i]);
    }
    lock(id[0]);                                   // holds two
    release(id[1]);                                // already gave its one back
    setHandle(id[2], 0);                           // Java cleared the field: skipped
    env->SetObjectArrayElement(list, 3, nullptr);  // a null element: skipped

    releaseIdentityList(keyChain, list);
    expectNoException();
    EXPECT_EQ(countOf(handle[0]), 1);  // one of its two
    EXPECT_EQ(handleOf(id[0]), handle[0]);
    EXPECT_EQ(countOf(handle[1]), 0);
    EXPECT_EQ(countOf(handle[2]), 1);
    EXPECT_EQ(countOf(handle[3]), 1);

    releaseIdentityList(keyChain, list);  // id[0]'s last one
    EXPECT_EQ(countOf(handle[0]), 0);
    EXPECT_EQ(handleOf(id[0]), 0);
    releaseIdentityList(keyChain, list);  // nothing left to drop
    expectNoException();
    EXPECT_EQ(countOf(handle[2]), 1);

    setHandle(id[2], handle[2]);
    env->SetObjectArrayElement(list, 3, id[3]);
    releaseAll(keyChain, list);
    for (jlong h : handle) EXPECT_EQ(countOf(h), 0);
}

// Identity objects the JVM has collected can no longer give their references back: the next
// listing, of whatever keychain, drops them (Lock's too), with no Release from anyone.
TEST_F(IdentityReferencesTest, ReferencesOfCollectedObjectsAreDroppedAtTheNextListing) {
    const std::string dir = keychains.dir("k"), other = keychains.dir("other");
    const std::string empty = keychains.dir("empty");
    keychains.addMany(dir, "id", 3);
    keychains.addPair(other, "other");
    keychains.writeConfig({{"default", dir}, {"default", other}, {"default", empty}});
    jclass systemClass = env->FindClass("java/lang/System");
    const jmethodID gc = env->GetStaticMethodID(systemClass, "gc", "()V");
    ASSERT_NE(gc, nullptr);
    struct Row {
        const char* name;
        std::string path;  // the keychain listed next; empty: one without a path
        std::size_t listed;
    };
    const Row rows[] = {{"the same keychain", dir, 3},
                        {"another keychain", other, 1},
                        {"a keychain without identities", empty, 0},
                        {"a keychain object without a path", "", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobject keyChain = keyChainFor(dir);
        jobjectArray list = getIdentityList(keyChain);
        ASSERT_NE(list, nullptr);
        std::vector<jlong> handles;
        std::vector<jweak> watched;
        for (jsize i = 0; i < env->GetArrayLength(list); ++i) {
            jobject identity = element(list, i);
            handles.push_back(handleOf(identity));
            if (i == 0) lock(identity);  // one object holding two
            watched.push_back(env->NewWeakGlobalRef(identity));
            env->DeleteLocalRef(identity);
        }
        env->DeleteLocalRef(list);
        ASSERT_EQ(handles.size(), 3u);
        EXPECT_EQ(countOf(handles[0]), 2);

        const auto collected = [&] {
            for (jweak weak : watched) {
                if (!env->IsSameObject(weak, nullptr)) return false;
            }
            return true;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!collected() && std::chrono::steady_clock::now() < deadline) {
            env->CallStaticVoidMethod(systemClass, gc);
            ASSERT_FALSE(env->ExceptionCheck());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const bool gone = collected();
        for (jweak weak : watched) env->DeleteWeakGlobalRef(weak);
        ASSERT_TRUE(gone) << "the JVM did not collect the identity objects";
        // Collected, but nothing has looked yet.
        EXPECT_EQ(countOf(handles[0]), 2);
        EXPECT_EQ(countOf(handles[1]), 1);
        EXPECT_EQ(tarnel::linux_platform::liveObjects(), 3u);

        forcing.clearCalls();
        jobject next = row.path.empty() ? newKeyChain(nullptr) : keyChainFor(row.path);
        jobjectArray nextList = getIdentityList(next);
        expectNoException();
        EXPECT_EQ(
            nextList != nullptr ? static_cast<std::size_t>(env->GetArrayLength(nextList)) : 0u,
            row.listed);
        // The listing drops them before it makes anything (whose addresses may be theirs again).
        auto releases = forcing.callsOf("release");
        ASSERT_GE(releases.size(), 4u);
        std::vector<tarnel::Ref> dropped;
        for (std::size_t i = 0; i < 4; ++i) dropped.push_back(releases[i].ref);
        std::sort(dropped.begin(), dropped.end());
        std::vector<tarnel::Ref> held = {refOf(handles[0]), refOf(handles[0]), refOf(handles[1]),
                                         refOf(handles[2])};
        std::sort(held.begin(), held.end());
        EXPECT_EQ(dropped, held);
        EXPECT_EQ(tarnel::linux_platform::liveObjects(), row.listed);
        if (nextList != nullptr) releaseAll(next, nextList);
        EXPECT_EQ(tarnel::linux_platform::liveObjects(), 0u);
        env->DeleteLocalRef(nextList);
        env->DeleteLocalRef(next);
        env->DeleteLocalRef(keyChain);
    }
    env->DeleteLocalRef(systemClass);
}

TEST_F(IdentityReferencesTest, ThreadsLockingSigningAndReleasingKeepCountsRight) {
    const std::string dir = keychains.dir("k");
    keychains.addMany(dir, "id", 2);
    keychains.writeConfig({{"default", dir}});
    jobject keyChain = keyChainFor(dir);
    jobjectArray list = getIdentityList(keyChain);
    ASSERT_NE(list, nullptr);
    jobject shared = env->NewGlobalRef(element(list, 0));
    jobject other = env->NewGlobalRef(element(list, 1));
    const jlong sharedHandle = handleOf(shared), otherHandle = handleOf(other);

    constexpr int kThreads = 4, kRounds = 40;
    std::atomic<int> failures{0}, signatures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            JNIEnv* e = nullptr;
            if (vm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK) {
                ++failures;
                return;
            }
            // Half the threads hold their locks across rounds, half lock and release each round.
            jobject target = t % 2 == 0 ? shared : other;
            for (int round = 0; round < kRounds; ++round) {
                e->PushLocalFrame(16);
                lock(target, e);
                jbyteArray signature = sign(target, byteArray("round " + std::to_string(round), e),
                                            str("", e), str("SHA1withRSA", e), e);
                if (takeException(e).has_value() || signature == nullptr ||
                    e->GetArrayLength(signature) != 256) {
                    ++failures;
                } else {
                    ++signatures;
                }
                if (t < 2) release(target, e);
                e->PopLocalFrame(nullptr);
            }
            if (t >= 2) {
                for (int round = 0; round < kRounds; ++round) release(target, e);
            }
            vm()->DetachCurrentThread();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(signatures, kThreads * kRounds);
    EXPECT_EQ(countOf(sharedHandle), 1);
    EXPECT_EQ(countOf(otherHandle), 1);
    EXPECT_EQ(forcing.count("createSignatureContext"), forcing.count("deleteContext"));
    releaseAll(keyChain, list);
    EXPECT_EQ(countOf(sharedHandle), 0);
    EXPECT_EQ(countOf(otherHandle), 0);
    env->DeleteGlobalRef(shared);
    env->DeleteGlobalRef(other);
}

}  // namespace
}  // namespace kcn
