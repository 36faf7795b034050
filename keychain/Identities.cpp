#include "Identities.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "Java.h"
#include "tarnel.h"

namespace tarnel::identities {

namespace {

// One Java object's references to its identity.
struct Holder {
    jweak object;
    Ref identity;
    long count;
};

std::mutex g_mutex;
std::vector<Holder> g_holders;

jfieldID handleField(JNIEnv* env) {
    Local<jclass> cls(env, findClass(env, kIdentityClass));
    return fieldId(env, cls.get(), "m_hIdentity", "J");
}

std::vector<Holder>::iterator holderOf(JNIEnv* env, jobject object) {
    return std::find_if(g_holders.begin(), g_holders.end(), [&](const Holder& holder) {
        return env->IsSameObject(holder.object, object) == JNI_TRUE;
    });
}

bool heldByAnyObject(Ref identity) {
    return std::any_of(g_holders.begin(), g_holders.end(),
                       [&](const Holder& holder) { return holder.identity == identity; });
}

void dropHolder(JNIEnv* env, std::vector<Holder>::iterator holder) {
    for (long i = 0; i < holder->count; ++i) platform().release(holder->identity);
    env->DeleteWeakGlobalRef(holder->object);
    g_holders.erase(holder);
}

// A new holder of one reference, already taken.
void addHolder(JNIEnv* env, jobject object, Ref identity) {
    try {
        jweak weak = env->NewWeakGlobalRef(object);
        if (weak == nullptr) throw JavaPending{};
        try {
            g_holders.push_back({weak, identity, 1});
        } catch (...) {
            env->DeleteWeakGlobalRef(weak);
            throw;
        }
    } catch (...) {
        platform().release(identity);
        throw;
    }
}

}  // namespace

void adopt(JNIEnv* env, jobject object, Ref identity) {
    std::lock_guard<std::mutex> guard(g_mutex);
    addHolder(env, object, identity);
}

void lock(JNIEnv* env, jobject object) {
    const jfieldID field = handleField(env);
    const Ref named = refOfHandle(env->GetLongField(object, field));
    if (named == nullptr) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    auto holder = holderOf(env, object);
    if (holder != g_holders.end()) {
        platform().retain(holder->identity);
        ++holder->count;
    } else if (heldByAnyObject(named)) {  // else not an identity of ours: nothing to lock
        addHolder(env, object, platform().retain(named));
    }
}

void release(JNIEnv* env, jobject object) {
    const jfieldID field = handleField(env);
    if (env->GetLongField(object, field) == 0) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    auto holder = holderOf(env, object);
    if (holder == g_holders.end()) return;
    if (holder->count > 1) {
        platform().release(holder->identity);
        --holder->count;
        return;
    }
    dropHolder(env, holder);
    env->SetLongField(object, field, 0);
}

void dropCollected(JNIEnv* env) {
    std::lock_guard<std::mutex> guard(g_mutex);
    for (auto it = g_holders.begin(); it != g_holders.end();) {
        if (env->IsSameObject(it->object, nullptr)) {
            const auto index = it - g_holders.begin();
            dropHolder(env, it);
            it = g_holders.begin() + index;
        } else {
            ++it;
        }
    }
}

Ref borrow(JNIEnv* env, jobject object) {
    const jfieldID field = handleField(env);
    const Ref named = refOfHandle(env->GetLongField(object, field));
    if (named == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(g_mutex);
    return heldByAnyObject(named) ? platform().retain(named) : nullptr;
}

}  // namespace tarnel::identities
