// Finding objects by template: C_FindObjectsInit, batches of 50, C_FindObjectsFinal.
#include <algorithm>
#include <vector>

#include "../convert/AttributeTemplate.h"
#include "../core/JavaContract.h"
#include "../core/JniGuards.h"
#include "../jni_methods.h"

namespace {

constexpr CK_ULONG kBatch = 50;
constexpr std::size_t kInlineHandles = 1000;
// A module that never ends a search must not grow the process forever.
constexpr CK_ULONG kMaxMatches = 16777216;

// The handles found: the call's own 1000-entry buffer serves the usual
// search; a larger result moves to the heap, so every match comes back.
class FoundHandles {
  public:
    // Room for one batch behind the handles found so far.
    CK_OBJECT_HANDLE* batchSpace() {
        if (heap_.empty() && count_ + kBatch <= kInlineHandles) return inline_ + count_;
        if (heap_.empty()) heap_.assign(inline_, inline_ + count_);
        heap_.resize(count_ + kBatch);
        return heap_.data() + count_;
    }
    void add(CK_ULONG n) { count_ += n; }
    CK_ULONG count() const { return count_; }
    const CK_OBJECT_HANDLE* data() const { return heap_.empty() ? inline_ : heap_.data(); }

  private:
    CK_OBJECT_HANDLE inline_[kInlineHandles] = {};
    std::vector<CK_OBJECT_HANDLE> heap_;
    CK_ULONG count_ = 0;
};

// Runs the whole search. A module failure leaves the search as it is (no
// C_FindObjectsFinal after a failed C_FindObjects); when the bridge itself
// gives up (a module claiming more handles than asked for), the search is
// finished first.
void search(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session, const AttributeTemplate& tmpl,
            FoundHandles& found) {
    CK_RV rv = module->C_FindObjectsInit(session, tmpl.entries(), tmpl.count());
    if (rv != CKR_OK) fail(rv);
    CK_ULONG got = 0;
    do {
        got = 0;
        CK_OBJECT_HANDLE* space;
        try {
            space = found.batchSpace();
        } catch (...) {
            module->C_FindObjectsFinal(session);
            throw;
        }
        rv = module->C_FindObjects(session, space, kBatch, &got);
        if (rv != CKR_OK) fail(rv);
        if (got > kBatch) {
            module->C_FindObjectsFinal(session);
            fail(kLengthLargerThanBuffer);
        }
        found.add(got);
        if (found.count() > kMaxMatches) {
            module->C_FindObjectsFinal(session);
            fail(kSearchTooLarge);
        }
    } while (got == kBatch);
    rv = module->C_FindObjectsFinal(session);
    if (rv != CKR_OK) fail(rv);
}

}  // namespace

extern "C" {

JNIEXPORT jlongArray JNICALL Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
    JNIEnv* env, jobject self, jobjectArray jTemplate) {
    LogFunction("J_1FindObjects (3pars): entering...", 0);
    jlongArray result = guarded(env, "J_FindObjects", jlongArray{nullptr}, [&]() -> jlongArray {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        FoundHandles found;
        search(module, session, tmpl, found);
        if (found.count() == 0) return nullptr;

        LogFunction("J_1FindObjects (3pars): NewIntArray FindObjectCount: %d", 0,
                    static_cast<int>(found.count()));
        const jint count = RANGE_CHECKED(env, found.count(), 2);
        LocalRef<jlongArray> handles(env,
                                     require(env, env->NewLongArray(count), "jhObject is NULL"));
        std::vector<jlong> values(found.data(), found.data() + count);
        env->SetLongArrayRegion(handles.get(), 0, count, values.data());
        return handles.release();
    });
    LogFunction("J_1FindObjects (3pars): ...finished.", 0);
    return result;
}

JNIEXPORT jobjectArray JNICALL
Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(JNIEnv* env, jobject self,
                                                                       jobjectArray jTemplate,
                                                                       jintArray types) {
    LogFunction("J_1FindObjects (4pars): entering...", 0);
    CK_RV rv = CKR_OK;
    jobjectArray result =
        guarded(env, "J_FindObjects", jobjectArray{nullptr}, [&]() -> jobjectArray {
            CK_FUNCTION_LIST_PTR module = requireModule();
            AttributeTemplate tmpl(env, jTemplate);
            LocalRef<jclass> objectClass(env, findClass(env, "qorvik/CryptokiObject",
                                                        "Class 'qorvik/CryptokiObject' not found"));
            jmethodID objectCtor =
                findMethod(env, objectClass.get(), "<init>", "(I[Lqorvik/Attribute;)V",
                           "CryptokiObject constructor' not found");
            LocalRef<jclass> attributeClass(
                env, findClass(env, "qorvik/Attribute", "Class 'qorvik/Attribute' not found"));
            jmethodID attributeCtor =
                findMethod(env, attributeClass.get(), "<init>", "(ILjava/lang/Object;)V",
                           "Attribute constructor' not found");
            const CK_SESSION_HANDLE session = Session2CKSession(env, self);
            FoundHandles found;
            search(module, session, tmpl, found);
            if (found.count() == 0) return nullptr;

            const jint count = RANGE_CHECKED(env, found.count(), 2);
            LogFunction("J_1FindObjects (4pars): NewObjectArray FindObjectCount: %d", 0, count);
            LocalRef<jobjectArray> objects(
                env, require(env, env->NewObjectArray(count, objectClass.get(), nullptr),
                             "jObject is NULL"));
            // A null types array reads nothing, like an empty one.
            ReadTemplate reads(env, types);
            const jint typeCount = RANGE_CHECKED(env, reads.count(), 3);
            for (jint n = 0; n < count; ++n) {
                const CK_OBJECT_HANDLE handle = found.data()[n];
                LogFunction("Object %d of %d", 0, n + 1, count);
                if (typeCount > 0) {
                    LogFunction("J_1FindObjects (4pars): NewObjectArray GetTemplateLen: %d", 0,
                                typeCount);
                }
                // With no types asked for, the object carries null instead of an array.
                LocalRef<jobjectArray> attributes(
                    env, typeCount > 0 ? require(env,
                                                 env->NewObjectArray(typeCount,
                                                                     attributeClass.get(), nullptr),
                                                 "jTemplate is NULL")
                                       : nullptr);
                for (jint i = 0; i < typeCount; ++i) {
                    LogFunction("#%d attribute %d of %d ", 0, n + 1, i + 1, typeCount);
                    CK_ATTRIBUTE& entry = reads[static_cast<CK_ULONG>(i)];
                    jobject value = nullptr;
                    // A failed read, or a module claiming more than it was given,
                    // leaves that value null; the search result still comes back.
                    if (readAttribute(env, module, session, handle, entry, rv, value, 4) !=
                        ReadOutcome::kRead) {
                        LogFunction("C_GetAttributeValue error", rv);
                    }
                    LocalRef<jobject> valueRef(env, value);
                    LocalRef<jobject> attribute(
                        env, require(env,
                                     env->NewObject(attributeClass.get(), attributeCtor,
                                                    lowJint(entry.type), value),
                                     "Pkcs11Attribute object is NULL"));
                    env->SetObjectArrayElement(attributes.get(), i, attribute.get());
                }
                LocalRef<jobject> object(
                    env, require(env,
                                 env->NewObject(objectClass.get(), objectCtor, lowJint(handle),
                                                attributes.get()),
                                 "Cryptokiobj object is NULL"));
                env->SetObjectArrayElement(objects.get(), n, object.get());
            }
            rv = CKR_OK;
            return objects.release();
        });
    LogFunction("J_1FindObjects (4pars): ...finished.", rv);
    return result;
}

}  // extern "C"
