// Identities of a directory keychain: NAME.p12 (PKCS#12, empty password) and
// NAME.key + NAME.crt (PEM). The search lists the NAMEs in byte order when it
// is created and loads each identity when it is asked for the next one; a
// NAME whose files do not make an identity is passed over.
#include <dirent.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "Internal.h"

namespace tarnel::linux_platform {

namespace {

constexpr std::size_t kLargestFile = 1 << 20;  // identity files are a few kilobytes

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

struct Loaded {
    Pkey key;
    std::shared_ptr<const Bytes> der;
};

bool readFile(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && contents.size() <= kLargestFile;
}

// A password callback that has no password: an encrypted PEM key fails to load
// instead of prompting on the terminal.
int noPassword(char*, int, int, void*) {
    return -1;
}

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bio memoryBio(const std::string& contents) {
    return Bio(BIO_new_mem_buf(contents.data(), static_cast<int>(contents.size())));
}

// The certificate's DER when `key` is its private key.
bool finish(Pkey key, Certificate cert, Loaded& out) {
    if (!key || !cert) return false;
    EVP_PKEY* pub = X509_get0_pubkey(cert.get());
    if (pub == nullptr || EVP_PKEY_eq(pub, key.get()) != 1) return false;
    int size = i2d_X509(cert.get(), nullptr);
    if (size <= 0) return false;
    auto der = std::make_shared<Bytes>(static_cast<std::size_t>(size));
    unsigned char* cursor = der->data();
    if (i2d_X509(cert.get(), &cursor) != size) return false;
    out.key = std::move(key);
    out.der = std::move(der);
    return true;
}

bool loadP12(const std::string& path, Loaded& out) {
    std::string contents;
    if (!readFile(path, contents)) return false;
    auto bytes = reinterpret_cast<const unsigned char*>(contents.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &bytes, static_cast<long>(contents.size()));
    if (p12 == nullptr) return false;
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    int parsed = PKCS12_parse(p12, "", &key, &cert, &chain);
    PKCS12_free(p12);
    sk_X509_pop_free(chain, X509_free);
    Pkey ownedKey(key);
    Certificate ownedCert(cert);
    return parsed == 1 && finish(std::move(ownedKey), std::move(ownedCert), out);
}

bool loadPair(const std::string& keyPath, const std::string& certPath, Loaded& out) {
    std::string keyText, certText;
    if (!readFile(keyPath, keyText) || !readFile(certPath, certText)) return false;
    Bio keyBio = memoryBio(keyText), certBio = memoryBio(certText);
    if (!keyBio || !certBio) return false;
    Pkey key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassword, nullptr));
    Certificate cert(PEM_read_bio_X509(certBio.get(), nullptr, noPassword, nullptr));
    return finish(std::move(key), std::move(cert), out);
}

// A .p12 that does not load leaves the NAME to its pair, if it has one.
bool load(const std::string& directory, const Candidate& candidate, Loaded& out) {
    std::string stem = directory + "/" + candidate.name;
    bool loaded = candidate.p12 && loadP12(stem + ".p12", out);
    if (!loaded && candidate.key && candidate.crt)
        loaded = loadPair(stem + ".key", stem + ".crt", out);
    ERR_clear_error();  // failures are answered by skipping, not kept for the next caller
    return loaded;
}

bool endsWith(const std::string& text, const char* suffix, std::string& stem) {
    std::size_t n = std::strlen(suffix);
    if (text.size() <= n || text.compare(text.size() - n, n, suffix) != 0) return false;
    stem = text.substr(0, text.size() - n);
    return true;
}

bool isRegularFile(int dirFd, const char* name) {
    struct stat st;
    return fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Status LinuxPlatform::createIdentitySearch(Ref keychain, std::uint32_t, Ref* search) {
    auto* kc = find<KeychainObject>(keychain);
    if (kc == nullptr || search == nullptr) return kParam;
    DIR* dir = opendir(kc->path.c_str());
    if (dir == nullptr) return kNoSuchKeychain;
    std::map<std::string, Candidate> byName;  // std::string orders by unsigned bytes
    while (dirent* entry = readdir(dir)) {
        std::string file = entry->d_name, stem;
        Candidate probe;
        if (endsWith(file, ".p12", stem)) {
            probe.p12 = true;
        } else if (endsWith(file, ".key", stem)) {
            probe.key = true;
        } else if (endsWith(file, ".crt", stem)) {
            probe.crt = true;
        } else {
            continue;
        }
        if (!isRegularFile(dirfd(dir), entry->d_name)) continue;
        Candidate& candidate = byName[stem];
        candidate.name = stem;
        candidate.p12 |= probe.p12;
        candidate.key |= probe.key;
        candidate.crt |= probe.crt;
    }
    closedir(dir);
    auto object = std::make_unique<SearchObject>();
    object->directory = kc->path;
    object->candidates.reserve(byName.size());
    for (auto& entry : byName) object->candidates.push_back(std::move(entry.second));
    *search = publish(std::move(object));
    return kOk;
}

Status LinuxPlatform::copyNextIdentity(Ref search, Ref* identity) {
    auto* object = find<SearchObject>(search);
    if (object == nullptr || identity == nullptr) return kParam;
    while (object->next < object->candidates.size()) {
        const Candidate& candidate = object->candidates[object->next++];
        Loaded loaded;
        if (!load(object->directory, candidate, loaded)) continue;
        auto made = std::make_unique<IdentityObject>();
        made->name = candidate.name;
        made->key = std::move(loaded.key);
        made->der = std::move(loaded.der);
        *identity = publish(std::move(made));
        return kOk;
    }
    return kItemNotFound;
}

Status LinuxPlatform::copyPrivateKey(Ref identity, Ref* key) {
    auto* object = find<IdentityObject>(identity);
    if (object == nullptr || key == nullptr) return kParam;
    if (EVP_PKEY_up_ref(object->key.get()) != 1) return kInternalComponent;
    auto made = std::make_unique<KeyObject>();
    made->name = object->name;
    made->key.reset(object->key.get());
    *key = publish(std::move(made));
    return kOk;
}

Status LinuxPlatform::copyCertificate(Ref identity, Ref* certificate) {
    auto* object = find<IdentityObject>(identity);
    if (object == nullptr || certificate == nullptr) return kParam;
    auto made = std::make_unique<CertificateObject>();
    made->der = object->der;
    *certificate = publish(std::move(made));
    return kOk;
}

Status LinuxPlatform::certificateData(Ref certificate, CssmData* data) {
    auto* object = find<CertificateObject>(certificate);
    if (object == nullptr || data == nullptr) return kParam;
    data->length = object->der->size();
    data->data = const_cast<std::uint8_t*>(object->der->data());
    return kOk;
}

Status LinuxPlatform::copyKeyAttributes(Ref key, std::uint32_t tag, std::uint32_t,
                                        KeychainAttributeList** list) {
    auto* object = find<KeyObject>(key);
    if (object == nullptr || list == nullptr) return kParam;
    if (tag != 1) return kNoSuchAttribute;  // only the print name is kept
    auto made = std::make_unique<AttributeListObject>();
    made->bytes = object->name;
    made->attribute.tag = tag;
    made->attribute.length = static_cast<std::uint32_t>(made->bytes.size());
    made->attribute.data = made->bytes.data();
    made->list.count = 1;
    made->list.attr = &made->attribute;
    KeychainAttributeList* handed = &made->list;
    publish(std::move(made), handed);
    *list = handed;
    return kOk;
}

Status LinuxPlatform::freeKeyAttributes(KeychainAttributeList* list) {
    if (list == nullptr) return kParam;
    return destroy(list, Kind::AttributeList) ? kOk : kParam;
}

Status LinuxPlatform::keyCspHandle(Ref key, CspHandle* csp) {
    if (find<KeyObject>(key) == nullptr || csp == nullptr) return kParam;
    *csp = 1;  // one provider: this library
    return kOk;
}

Status LinuxPlatform::keyCredentials(Ref key, std::uint32_t, std::uint32_t,
                                     const AccessCredentials** credentials) {
    static const AccessCredentials kNone{};  // keys here carry no access control
    if (find<KeyObject>(key) == nullptr || credentials == nullptr) return kParam;
    *credentials = &kNone;
    return kOk;
}

Status LinuxPlatform::keyCssmKey(Ref key, const CssmKey** cssmKey) {
    if (find<KeyObject>(key) == nullptr || cssmKey == nullptr) return kParam;
    *cssmKey = static_cast<const CssmKey*>(key);
    return kOk;
}

Status LinuxPlatform::keySignatureSize(Ref key, std::size_t* bytes) {
    auto* object = find<KeyObject>(key);
    if (object == nullptr || bytes == nullptr) return kParam;
    int size = EVP_PKEY_get_size(object->key.get());
    if (size <= 0) return kInternalComponent;
    *bytes = static_cast<std::size_t>(size);
    return kOk;
}

}  // namespace tarnel::linux_platform
