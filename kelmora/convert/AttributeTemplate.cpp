// Attribute templates: Java Attribute arrays to CK_ATTRIBUTE arrays and back.
#include "AttributeTemplate.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "../core/JniGuards.h"
#include "ValueGroups.h"

namespace {

void* allocate(std::size_t size) {
    void* p = std::malloc(size > 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* allocateZeroed(std::size_t count, std::size_t size) {
    void* p = std::calloc(count > 0 ? count : 1, size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

// Labels and other texts go to the module as standard UTF-8 (a character
// outside the BMP as one 4-byte sequence); an unpaired surrogate becomes
// U+FFFD.
std::vector<unsigned char> standardUtf8(JNIEnv* env, jstring text) {
    const jsize length = env->GetStringLength(text);
    std::vector<jchar> units(static_cast<std::size_t>(length));
    env->GetStringRegion(text, 0, length, units.data());
    std::vector<unsigned char> out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<unsigned char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<unsigned char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<unsigned char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<unsigned char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// A Java method the bridge called threw: the bridge's failure replaces it.
void failOnJavaException(JNIEnv* env) {
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        fail(static_cast<CK_RV>(CKR_GENERAL_ERROR));
    }
}

// The classes a write template accepts, looked up once per conversion.
struct ValueClasses {
    LocalRef<jclass> integer;
    LocalRef<jclass> boolean;
    LocalRef<jclass> string;
    LocalRef<jclass> bytes;
    jmethodID intValue = nullptr;
    jmethodID booleanValue = nullptr;
};

void fillEntry(JNIEnv* env, ValueClasses& classes, jobject value, CK_ATTRIBUTE& entry) {
    if (value == nullptr) return;  // null pointer, length 0
    if (env->IsInstanceOf(value, classes.integer.get())) {
        if (classes.intValue == nullptr) {
            classes.intValue = findMethod(env, classes.integer.get(), "intValue", "()I",
                                          "Attribute2CKAttribute - intValue method not found");
        }
        const CK_ULONG number = ulongFromJint(env->CallIntMethod(value, classes.intValue));
        failOnJavaException(env);
        entry.pValue = allocate(sizeof number);
        std::memcpy(entry.pValue, &number, sizeof number);
        entry.ulValueLen = sizeof number;
    } else if (env->IsInstanceOf(value, classes.boolean.get())) {
        if (classes.booleanValue == nullptr) {
            classes.booleanValue = findMethod(env, classes.boolean.get(), "booleanValue", "()Z",
                                              "Attribute2CKAttribute - boolValue method not found");
        }
        const CK_BBOOL flag =
            env->CallBooleanMethod(value, classes.booleanValue) ? CK_TRUE : CK_FALSE;
        failOnJavaException(env);
        entry.pValue = allocate(1);
        *static_cast<CK_BBOOL*>(entry.pValue) = flag;
        entry.ulValueLen = 1;
    } else if (env->IsInstanceOf(value, classes.string.get())) {
        const std::vector<unsigned char> text = standardUtf8(env, static_cast<jstring>(value));
        const jint length = RANGE_CHECKED(env, text.size(), 1);
        entry.pValue = allocate(text.size() + 1);
        // An empty text has no characters to copy (and a vector with none may hold no pointer).
        if (!text.empty()) std::memcpy(entry.pValue, text.data(), text.size());
        static_cast<unsigned char*>(entry.pValue)[text.size()] = '\0';
        entry.ulValueLen = static_cast<CK_ULONG>(length);
    } else if (env->IsInstanceOf(value, classes.bytes.get())) {
        jbyteArray array = static_cast<jbyteArray>(value);
        const jsize length = env->GetArrayLength(array);
        entry.pValue = allocate(static_cast<std::size_t>(length));
        env->GetByteArrayRegion(array, 0, length, static_cast<jbyte*>(entry.pValue));
        entry.ulValueLen = static_cast<CK_ULONG>(length);
    } else {
        // A Long or an int[] would otherwise be misread as bytes.
        fail("Attribute2CKAttribute - unsupported value class");
    }
}

// What a module answered fits what it was given; otherwise it lied.
bool fits(const CK_ATTRIBUTE& entry, CK_ULONG capacity) {
    return entry.ulValueLen <= capacity;
}

}  // namespace

extern "C" {

void Attribute2CKAttribute(JNIEnv* env, jobjectArray jAttributes, CK_ATTRIBUTE_PTR* ppTemplate,
                           CK_ULONG* pCount) {
    *ppTemplate = nullptr;
    *pCount = 0;
    if (jAttributes == nullptr) return;

    LocalRef<jclass> attributeClass(
        env, findClass(env, "qorvik/Attribute", "Class 'qorvik/Attribute' not found"));
    jfieldID typeField = findField(env, attributeClass.get(), "type", "I", "Field type not found");
    jfieldID valueField = findField(env, attributeClass.get(), "value", "Ljava/lang/Object;",
                                    "Field value not found");
    ValueClasses classes{
        LocalRef<jclass>(env,
                         findClass(env, "java/lang/Integer",
                                   "Attribute2CKAttribute - Class 'java/lang/Integer' not found")),
        LocalRef<jclass>(env,
                         findClass(env, "java/lang/Boolean",
                                   "Attribute2CKAttribute - Class 'java/lang/Boolean' not found")),
        LocalRef<jclass>(env,
                         findClass(env, "java/lang/String",
                                   "Attribute2CKAttribute - Class 'java/lang/String' not found")),
        LocalRef<jclass>(env, require(env, env->FindClass("[B"),
                                      "Attribute2CKAttribute - Class '[B' not found")),
    };

    const jsize count = env->GetArrayLength(jAttributes);
    *ppTemplate = static_cast<CK_ATTRIBUTE_PTR>(
        allocateZeroed(static_cast<std::size_t>(count), sizeof(CK_ATTRIBUTE)));
    *pCount = static_cast<CK_ULONG>(count);
    for (jsize i = 0; i < count; ++i) {
        LocalRef<jobject> attribute(env, env->GetObjectArrayElement(jAttributes, i));
        CK_ATTRIBUTE& entry = (*ppTemplate)[i];
        // Read as type 0 (CKA_CLASS) with no value, a hole would turn a search
        // into "no match" and give a new object a bogus class.
        if (!attribute) fail("Attribute2CKAttribute - attribute is NULL");
        entry.type = ulongFromJint(env->GetIntField(attribute.get(), typeField));
        LocalRef<jobject> value(env, env->GetObjectField(attribute.get(), valueField));
        fillEntry(env, classes, value.get(), entry);
    }
}

void resetAttributeLen(CK_ATTRIBUTE_PTR pAttribute) {
    switch (groupOf(pAttribute->type)) {
        case ValueGroup::kInteger:
            pAttribute->ulValueLen = sizeof(CK_ULONG);
            break;
        case ValueGroup::kBoolean:
            pAttribute->ulValueLen =
                pAttribute->type == CKA_ALWAYS_AUTHENTICATE ? kAttributeReadBufferSize : 1;
            break;
        default:
            pAttribute->ulValueLen = kAttributeReadBufferSize;
    }
}

jobject attributeValueToJava(JNIEnv* env, const CK_ATTRIBUTE& attribute, int site) {
    LogFunction("Elem type :%d", 0, static_cast<int>(attribute.type));
    const bool empty = attribute.pValue == nullptr || attribute.ulValueLen == 0;
    switch (groupOf(attribute.type)) {
        case ValueGroup::kInteger: {
            if (empty) return nullptr;
            LocalRef<jclass> integerClass(
                env,
                findClass(env, "java/lang/Integer",
                          "CkAttribute2Pkcs11Attribute - Class 'java/lang/Integer' not found"));
            jmethodID ctor =
                findMethod(env, integerClass.get(), "<init>", "(I)V",
                           "CkAttribute2Pkcs11Attribute - Integer constructor not found");
            // A module that writes fewer bytes than a CK_ULONG is never read past.
            CK_ULONG number = 0;
            std::memcpy(
                &number, attribute.pValue,
                attribute.ulValueLen < sizeof number ? attribute.ulValueLen : sizeof number);
            const jint low = static_cast<jint>(static_cast<uint32_t>(number));
            LogFunction("Integer value :%d", 0, low);
            return require(env, env->NewObject(integerClass.get(), ctor, low),
                           "objElemTemplate value is NULL");
        }
        case ValueGroup::kBoolean: {
            if (empty) return nullptr;
            LocalRef<jclass> booleanClass(
                env,
                findClass(env, "java/lang/Boolean",
                          "CkAttribute2Pkcs11Attribute - Class 'java/lang/Boolean' not found"));
            jmethodID ctor =
                findMethod(env, booleanClass.get(), "<init>", "(Z)V",
                           "CkAttribute2Pkcs11Attribute - Boolean constructor not found");
            const jboolean flag = *static_cast<CK_BBOOL*>(attribute.pValue) ? JNI_TRUE : JNI_FALSE;
            LogFunction("Boolean value :%d", 0, static_cast<int>(flag));
            return require(env, env->NewObject(booleanClass.get(), ctor, flag),
                           "CkAttribute2Pkcs11Attribute - objElemTemplate value is NULL");
        }
        case ValueGroup::kBytes: {
            const jint length = RANGE_CHECKED(env, attribute.ulValueLen, site);
            jbyteArray array = require(env, env->NewByteArray(length),
                                       "CkAttribute2Pkcs11Attribute - byteArrayValue is NULL");
            if (length > 0) {
                env->SetByteArrayRegion(array, 0, length,
                                        static_cast<const jbyte*>(attribute.pValue));
            }
            return array;
        }
        case ValueGroup::kNone:
            break;
    }
    return nullptr;
}

}  // extern "C"

jobject CkAttribute2Pkcs11Attribute(JNIEnv* env, CK_ATTRIBUTE attribute) {
    return attributeValueToJava(env, attribute, 1);
}

void Attribute2CKAttribute_Get(JNIEnv*, jint type, CK_ATTRIBUTE_PTR pAttribute) {
    *pAttribute = CK_ATTRIBUTE{};
    pAttribute->type = ulongFromJint(type);
    pAttribute->pValue = allocateZeroed(kAttributeReadBufferSize, 1);
    pAttribute->ulValueLen = kAttributeReadBufferSize;
}

void Attribute2CKAttribute_Get(JNIEnv* env, jintArray jTypes, CK_ATTRIBUTE_PTR* ppTemplate,
                               CK_ULONG* pCount) {
    const jsize count = env->GetArrayLength(jTypes);
    *pCount = static_cast<CK_ULONG>(count);
    if (count == 0) return;
    std::vector<jint> types(static_cast<std::size_t>(count));
    env->GetIntArrayRegion(jTypes, 0, count, types.data());
    // The shared buffer is owned through the first entry, so it is made first
    // and published with the array.
    void* buffer = allocateZeroed(kAttributeReadBufferSize, 1);
    CK_ATTRIBUTE_PTR entries = static_cast<CK_ATTRIBUTE_PTR>(
        std::calloc(static_cast<std::size_t>(count), sizeof(CK_ATTRIBUTE)));
    if (entries == nullptr) {
        std::free(buffer);
        throw std::bad_alloc();
    }
    for (jsize i = 0; i < count; ++i) {
        entries[i].type = ulongFromJint(types[i]);
        entries[i].pValue = buffer;
        entries[i].ulValueLen = kAttributeReadBufferSize;
    }
    *ppTemplate = entries;
}

ReadOutcome readAttribute(JNIEnv* env, CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session,
                          CK_OBJECT_HANDLE object, CK_ATTRIBUTE& entry, CK_RV& rv, jobject& value,
                          int site) {
    value = nullptr;
    resetAttributeLen(&entry);
    const CK_ULONG primed = entry.ulValueLen;
    // The buffer may hold the previous read (another type, another object): a
    // module that claims more bytes than it wrote must hand Java zeros, never
    // those bytes.
    if (entry.pValue != nullptr) std::memset(entry.pValue, 0, primed);
    rv = module->C_GetAttributeValue(session, object, &entry, 1);
    if (rv == CKR_OK) {
        if (!fits(entry, primed)) return ReadOutcome::kLengthBeyondBuffer;
        value = attributeValueToJava(env, entry, site);
        return ReadOutcome::kRead;
    }
    if (rv != CKR_BUFFER_TOO_SMALL) return ReadOutcome::kModuleFailed;

    // Longer than the read buffer: ask the length, then read exactly that much.
    CK_ATTRIBUTE sized{entry.type, nullptr, 0};
    rv = module->C_GetAttributeValue(session, object, &sized, 1);
    if (rv != CKR_OK) return ReadOutcome::kModuleFailed;
    // No Java array holds more than the int range (nor the unavailable-information
    // value): refused before a buffer of that length exists.
    if (sized.ulValueLen > static_cast<CK_ULONG>(INT32_MAX)) {
        return ReadOutcome::kLengthBeyondJavaArray;
    }
    const CK_ULONG length = sized.ulValueLen;
    std::vector<unsigned char> exact(length > 0 ? length : 1);
    sized.pValue = exact.data();
    sized.ulValueLen = length;
    rv = module->C_GetAttributeValue(session, object, &sized, 1);
    if (rv != CKR_OK) return ReadOutcome::kModuleFailed;
    if (!fits(sized, length)) return ReadOutcome::kLengthBeyondBuffer;
    value = attributeValueToJava(env, sized, site);
    return ReadOutcome::kRead;
}
