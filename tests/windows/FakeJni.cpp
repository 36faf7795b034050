#include "FakeJni.h"

#include <cstdarg>
#include <cstring>

namespace {

// Every table entry the fake does not implement points here. On x64 every
// call cleans up after itself, so an entry called with other arguments
// still returns here safely; the call is counted and answers zero.
int* g_unexpected = nullptr;

void* JNICALL unexpectedEntry() {
    if (g_unexpected != nullptr) ++*g_unexpected;
    return nullptr;
}

// The descriptor letters of a method's arguments: "(ILjava/lang/String;[B)V"
// gives "IL[".
std::string argumentKinds(const std::string& signature) {
    std::string kinds;
    std::size_t i = 1;
    while (i < signature.size() && signature[i] != ')') {
        char c = signature[i];
        if (c == '[') {
            while (signature[i] == '[') ++i;
            if (signature[i] == 'L') i = signature.find(';', i);
            kinds += '[';
        } else if (c == 'L') {
            i = signature.find(';', i);
            kinds += 'L';
        } else {
            kinds += c;
        }
        ++i;
    }
    return kinds;
}

}  // namespace

FakeJni::FakeJni() {
    static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0, "table of pointers");
    void** slots = reinterpret_cast<void**>(&table_);
    for (std::size_t i = 0; i < sizeof table_ / sizeof(void*); ++i) {
        slots[i] = reinterpret_cast<void*>(&unexpectedEntry);
    }
    table_.reserved0 = this;
    table_.FindClass = &findClass;
    table_.GetMethodID = &getMethodId;
    table_.GetFieldID = &getFieldId;
    table_.GetIntField = &getIntField;
    table_.NewObjectV = &newObjectV;
    table_.NewByteArray = &newByteArray;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    table_.NewStringUTF = &newStringUtf;
    table_.Throw = &throwObject;
    table_.ExceptionCheck = &exceptionCheck;
    table_.ExceptionClear = &exceptionClear;
    table_.ExceptionOccurred = &exceptionOccurred;
    table_.DeleteLocalRef = &deleteLocalRef;
    env_.functions = &table_;
    table_.GetStringUTFChars = &getStringUtfChars;
    table_.ReleaseStringUTFChars = &releaseStringUtfChars;
    g_unexpected = &unexpectedCalls_;
    lookupError_.className = "java/lang/NoClassDefFoundError";
}

FakeJni::~FakeJni() {
    if (g_unexpected == &unexpectedCalls_) g_unexpected = nullptr;
}

jstring FakeJni::newString(const std::string& text) {
    Object o;
    o.className = "java/lang/String";
    o.text = text;
    return reinterpret_cast<jstring>(&make(std::move(o)));
}

FakeJni& FakeJni::self(JNIEnv* env) {
    return *static_cast<FakeJni*>(env->functions->reserved0);
}

FakeJni::Object& FakeJni::make(Object object) {
    objects_.push_back(std::move(object));
    return objects_.back();
}

jobject FakeJni::newObject(const std::string& className,
                           const std::map<std::string, long long>& intFields) {
    Object o;
    o.className = className;
    o.intFields = intFields;
    return reinterpret_cast<jobject>(&make(std::move(o)));
}

FakeJni::Thrown FakeJni::thrown() const {
    Thrown t{"", 0, ""};
    if (pending_ == nullptr || pending_->arguments.size() != 3) return t;
    t.function = of(pending_->arguments[0].object).text;
    t.code = static_cast<long>(pending_->arguments[1].number);
    t.message = of(pending_->arguments[2].object).text;
    return t;
}

jclass JNICALL FakeJni::findClass(JNIEnv* env, const char* name) {
    FakeJni& f = self(env);
    f.entered();
    if (f.missingClasses.count(name) != 0) {
        f.pending_ = &f.lookupError_;
        return nullptr;
    }
    Object o;
    o.className = name;
    o.isClass = true;
    return reinterpret_cast<jclass>(&f.make(std::move(o)));
}

jmethodID JNICALL FakeJni::getMethodId(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    FakeJni& f = self(env);
    f.entered();
    f.members_.push_back({of(cls).className, name, sig});
    return reinterpret_cast<jmethodID>(&f.members_.back());
}

jfieldID JNICALL FakeJni::getFieldId(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    FakeJni& f = self(env);
    f.entered();
    f.members_.push_back({of(cls).className, name, sig});
    return reinterpret_cast<jfieldID>(&f.members_.back());
}

jint JNICALL FakeJni::getIntField(JNIEnv* env, jobject obj, jfieldID field) {
    FakeJni& f = self(env);
    f.entered();
    const Member& m = *reinterpret_cast<const Member*>(field);
    const auto& fields = of(obj).intFields;
    auto it = fields.find(m.name);
    if (it == fields.end()) {
        ++f.unexpectedCalls_;
        return 0;
    }
    return static_cast<jint>(it->second);
}

jobject JNICALL FakeJni::newObjectV(JNIEnv* env, jclass cls, jmethodID ctor, va_list args) {
    FakeJni& f = self(env);
    f.entered();
    const Member& m = *reinterpret_cast<const Member*>(ctor);
    Object o;
    o.className = of(cls).className;
    for (char kind : argumentKinds(m.signature)) {
        Argument a{kind, 0, nullptr};
        switch (kind) {
            case 'J':
                a.number = va_arg(args, jlong);
                break;
            case 'L':
            case '[':
                a.object = va_arg(args, jobject);
                break;
            case 'F':
            case 'D':
                a.number = static_cast<long long>(va_arg(args, double));
                break;
            default:  // I, Z, B, C, S: promoted to int
                a.number = va_arg(args, int);
        }
        o.arguments.push_back(a);
    }
    // new String(byte[]): the text is the array's bytes.
    if (o.className == "java/lang/String" && o.arguments.size() == 1) {
        o.text = of(o.arguments[0].object).text;
    }
    return reinterpret_cast<jobject>(&f.make(std::move(o)));
}

jbyteArray JNICALL FakeJni::newByteArray(JNIEnv* env, jsize length) {
    FakeJni& f = self(env);
    f.entered();
    Object o;
    o.className = "[B";
    o.text.assign(static_cast<std::size_t>(length), '\0');
    return reinterpret_cast<jbyteArray>(&f.make(std::move(o)));
}

void JNICALL FakeJni::setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                         const jbyte* bytes) {
    FakeJni& f = self(env);
    f.entered();
    Object& o = *reinterpret_cast<Object*>(array);
    if (start < 0 || length < 0 || static_cast<std::size_t>(start + length) > o.text.size()) {
        ++f.unexpectedCalls_;
        return;
    }
    std::memcpy(&o.text[static_cast<std::size_t>(start)], bytes, static_cast<std::size_t>(length));
}

jstring JNICALL FakeJni::newStringUtf(JNIEnv* env, const char* text) {
    FakeJni& f = self(env);
    f.entered();
    Object o;
    o.className = "java/lang/String";
    o.text = text;
    return reinterpret_cast<jstring>(&f.make(std::move(o)));
}

jint JNICALL FakeJni::throwObject(JNIEnv* env, jthrowable obj) {
    FakeJni& f = self(env);
    f.entered();
    f.pending_ = reinterpret_cast<Object*>(obj);
    return 0;
}

jboolean JNICALL FakeJni::exceptionCheck(JNIEnv* env) {
    return self(env).pending_ != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FakeJni::exceptionClear(JNIEnv* env) {
    self(env).pending_ = nullptr;
}

jthrowable JNICALL FakeJni::exceptionOccurred(JNIEnv* env) {
    return reinterpret_cast<jthrowable>(self(env).pending_);
}

void JNICALL FakeJni::deleteLocalRef(JNIEnv* env, jobject) {
    ++self(env).localRefsDeleted_;
}

const char* JNICALL FakeJni::getStringUtfChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    FakeJni& f = self(env);
    f.entered();
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    ++f.stringCharsHeld_;
    return of(str).text.c_str();
}

void JNICALL FakeJni::releaseStringUtfChars(JNIEnv* env, jstring, const char*) {
    --self(env).stringCharsHeld_;
}
