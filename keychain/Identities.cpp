#include "Identities.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "Java.h"
#include "tarnel.h"

namespace tarnel::identities {

namespace {

struct Holder {
    jweak object;
    Ref identity;
    long count;
};

std::mutex g_mutex;
std::vector<Holder> g_holders;
std::unordered_map<Ref, long> g_held;  // references held, per identity, by all objects together

jfieldID handleField(JNIEnv* env) {
    Local<jclass> cls(env, findClass(env, kIdentityClass));
    return fieldId(env, cls.get(), "m_hIdentity", "J");
}

std::vector<Holder>::iterator holderOf(JNIEnv* env, jobject object) {
    for (auto it = g_holders.begin(); it != g_holders.end(); ++it) {
        if (env->IsSameObject(it->object, object)) return it;
    }
    return g_holders.end();
}

void take(Ref identity, long count) {
    g_held[identity] += count;
}

void drop(Ref identity, long count) {
    for (long i = 0; i < count; ++i) platform().release(identity);
    auto held = g_held.find(identity);
    if (held != g_held.end() && (held->second -= count) <= 0) g_held.erase(held);
}

// Objects the JVM has collected can no longer give their references back: drop them here.
void dropCollected(JNIEnv* env) {
    for (auto it = g_holders.begin(); it != g_holders.end();) {
        if (env->IsSameObject(it->object, nullptr)) {
            drop(it->identity, it->count);
            env->DeleteWeakGlobalRef(it->object);
            it = g_holders.erase(it);
        } else {
            ++it;
        }
    }
}

void addHolder(JNIEnv* env, jobject object, Ref identity) {
    jweak weak = env->NewWeakGlobalRef(object);
    if (weak == nullptr) throw JavaPending{};
    try {
        g_holders.push_back({weak, identity, 1});
    } catch (...) {
        env->DeleteWeakGlobalRef(weak);
        throw;
    }
    take(identity, 1);
}

}  // namespace

void adopt(JNIEnv* env, jobject object, Ref identity) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_holders.size() % 64 == 0) dropCollected(env);
    try {
        addHolder(env, object, identity);
    } catch (...) {
        platform().release(identity);
        throw;
    }
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
        take(holder->identity, 1);
        return;
    }
    if (g_held.count(named) == 0) return;  // nobody holds it: not an identity of ours
    platform().retain(named);
    try {
        addHolder(env, object, named);
    } catch (...) {
        platform().release(named);
        throw;
    }
}

void release(JNIEnv* env, jobject object) {
    const jfieldID field = handleField(env);
    if (env->GetLongField(object, field) == 0) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    auto holder = holderOf(env, object);
    if (holder == g_holders.end()) return;
    drop(holder->identity, 1);
    if (--holder->count > 0) return;
    env->DeleteWeakGlobalRef(holder->object);
    g_holders.erase(holder);
    env->SetLongField(object, field, 0);
}

void forget(JNIEnv* env, jobject object) {
    std::lock_guard<std::mutex> guard(g_mutex);
    auto holder = holderOf(env, object);
    if (holder == g_holders.end()) return;
    drop(holder->identity, holder->count);
    env->DeleteWeakGlobalRef(holder->object);
    g_holders.erase(holder);
}

Ref borrow(JNIEnv* env, jobject object) {
    const jfieldID field = handleField(env);
    const Ref named = refOfHandle(env->GetLongField(object, field));
    if (named == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_held.count(named) == 0) return nullptr;
    return platform().retain(named);
}

}  // namespace tarnel::identities
