// Test keychains made with the openssl program: a temporary directory tree
// (removed when the fixture goes), a configuration file that TARNEL_KEYCHAINS
// names, and identities in the forms the Linux keychains hold (NAME.key +
// NAME.crt, NAME.p12) plus the forms they must skip. Signatures are checked
// with openssl against the certificate's public key.
//
// The program is the one TARNEL_TEST_OPENSSL names, else `openssl` on PATH.
// Keys are generated once per process and size and copied where needed, so a
// keychain of a few hundred identities costs file copies, not key generation.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace tarnel::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline void writeText(const std::string& path, const std::string& text) {
    writeBytes(path, text.data(), text.size());
}

inline std::string opensslProgram() {
    const char* program = std::getenv("TARNEL_TEST_OPENSSL");
    return program != nullptr && *program != '\0' ? program : "openssl";
}

// Runs openssl with `args`; its standard output goes to `output` when given,
// its standard error is discarded. True when it exits with status 0.
inline bool runOpenssl(const std::vector<std::string>& args, const std::string& output = "") {
    std::vector<std::string> words{opensslProgram()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.empty() ? "/dev/null" : output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + words[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline void mustRunOpenssl(const std::vector<std::string>& args, const std::string& output = "") {
    if (!runOpenssl(args, output)) {
        std::string line = "openssl";
        for (const auto& arg : args) line += " " + arg;
        throw std::runtime_error("failed: " + line);
    }
}

// Keys generated once per process, by kind, in a directory removed at exit.
class KeyCache {
  public:
    static KeyCache& instance() {
        static KeyCache cache;
        return cache;
    }

    // An RSA key of `bits`; different `variant`s are different keys.
    std::string rsa(int bits, int variant = 0) {
        return key("rsa-" + std::to_string(bits) + "-" + std::to_string(variant),
                   {"-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:" + std::to_string(bits)});
    }
    std::string ec(int variant = 0) {
        return key("ec-" + std::to_string(variant),
                   {"-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"});
    }

    ~KeyCache() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

  private:
    KeyCache() {
        std::string pattern = (fs::temp_directory_path() / "tarnel-keys-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
    }

    std::string key(const std::string& name, std::vector<std::string> options) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = keys_.find(name);
        if (found != keys_.end()) return found->second;
        std::string path = dir_ + "/" + name + ".pem";
        std::vector<std::string> args{"genpkey"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"-out", path});
        mustRunOpenssl(args);
        keys_[name] = path;
        return path;
    }

    std::mutex mutex_;
    std::string dir_;
    std::map<std::string, std::string> keys_;
};

struct Identity {
    std::string name;       // the file stem
    std::string key;        // NAME.key, empty for a .p12
    std::string cert;       // the certificate (NAME.crt, or a copy kept beside the tree for a .p12)
    std::string p12;        // NAME.p12, empty for a pair
    std::string keySource;  // the unencrypted PEM key the identity was made from
};

class Keychains {
  public:
    Keychains() {
        std::string pattern = (fs::temp_directory_path() / "tarnel-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directory(root_ + "/.work");
        const char* previous = std::getenv("TARNEL_KEYCHAINS");
        hadPrevious_ = previous != nullptr;
        if (hadPrevious_) previous_ = previous;
        config_ = root_ + "/keychains.conf";
        setenv("TARNEL_KEYCHAINS", config_.c_str(), 1);
    }
    ~Keychains() {
        if (hadPrevious_) {
            setenv("TARNEL_KEYCHAINS", previous_.c_str(), 1);
        } else {
            unsetenv("TARNEL_KEYCHAINS");
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Keychains(const Keychains&) = delete;
    Keychains& operator=(const Keychains&) = delete;

    const std::string& root() const { return root_; }
    // The configuration file TARNEL_KEYCHAINS names (it does not exist until written).
    const std::string& configPath() const { return config_; }

    // Writes the configuration file verbatim.
    void writeConfig(const std::string& text) const { writeText(config_, text); }
    // Writes one "DOMAIN PATH" line per entry.
    void writeConfig(const std::vector<std::pair<std::string, std::string>>& lines) const {
        std::string text;
        for (const auto& [domain, path] : lines) text += domain + " " + path + "\n";
        writeConfig(text);
    }
    // Points TARNEL_KEYCHAINS elsewhere (a missing file, say) for the fixture's lifetime.
    void useConfig(const std::string& path) {
        config_ = path;
        setenv("TARNEL_KEYCHAINS", config_.c_str(), 1);
    }

    // A directory (a keychain) under the root; made if missing. Its absolute path.
    std::string dir(const std::string& name) const {
        std::string path = root_ + "/" + name;
        fs::create_directories(path);
        return path;
    }

    // A directory whose absolute path is exactly `length` bytes long, made of
    // nested components under the root.
    std::string dirOfLength(std::size_t length) const {
        std::string path = root_ + "/L";
        if (length < path.size()) throw std::runtime_error("path length below the root's");
        while (path.size() < length) {
            std::size_t left = length - path.size();
            if (left == 1) {
                path += "x";  // lengthens the last component; a bare "/" would add nothing
            } else if (left <= 201) {
                path += "/" + std::string(left - 1, 'd');
            } else {
                path += "/" + std::string(199, 'd');
            }
        }
        fs::create_directories(path);
        return path;
    }

    // NAME.key + NAME.crt: an RSA key of `bits` and a self-signed certificate for it.
    Identity addPair(const std::string& dir, const std::string& name, int bits = 2048,
                     int variant = 0) const {
        Identity id = base(dir, name, KeyCache::instance().rsa(bits, variant));
        id.key = dir + "/" + name + ".key";
        id.cert = dir + "/" + name + ".crt";
        fs::copy_file(id.keySource, id.key, fs::copy_options::overwrite_existing);
        selfSign(id.keySource, id.cert);
        return id;
    }

    // NAME.p12 (empty password) holding an RSA key of `bits` and its certificate; the
    // certificate is also kept outside the keychain for verification.
    Identity addP12(const std::string& dir, const std::string& name, int bits = 2048,
                    int variant = 0, const std::string& password = "") const {
        Identity id = base(dir, name, KeyCache::instance().rsa(bits, variant));
        id.cert = workFile("crt");
        id.p12 = dir + "/" + name + ".p12";
        selfSign(id.keySource, id.cert);
        mustRunOpenssl({"pkcs12", "-export", "-inkey", id.keySource, "-in", id.cert, "-name", "id",
                        "-out", id.p12, "-passout", "pass:" + password});
        // The file must load with the library's defaults and the same password.
        mustRunOpenssl({"pkcs12", "-in", id.p12, "-passin", "pass:" + password, "-nodes", "-out",
                        workFile("pem")});
        return id;
    }

    // NAME.key + NAME.crt where the certificate belongs to another key.
    Identity addMismatchedPair(const std::string& dir, const std::string& name) const {
        Identity id = base(dir, name, KeyCache::instance().rsa(2048, 0));
        id.key = dir + "/" + name + ".key";
        id.cert = dir + "/" + name + ".crt";
        fs::copy_file(id.keySource, id.key, fs::copy_options::overwrite_existing);
        selfSign(KeyCache::instance().rsa(2048, 1), id.cert);
        return id;
    }

    // NAME.key (encrypted with a password) + NAME.crt.
    Identity addEncryptedPair(const std::string& dir, const std::string& name) const {
        Identity id = base(dir, name, KeyCache::instance().rsa(2048, 0));
        id.key = dir + "/" + name + ".key";
        id.cert = dir + "/" + name + ".crt";
        mustRunOpenssl(
            {"pkey", "-in", id.keySource, "-aes256", "-passout", "pass:secret", "-out", id.key});
        selfSign(id.keySource, id.cert);
        return id;
    }

    // NAME.key + NAME.crt with an EC P-256 key.
    Identity addEcPair(const std::string& dir, const std::string& name) const {
        Identity id = base(dir, name, KeyCache::instance().ec());
        id.key = dir + "/" + name + ".key";
        id.cert = dir + "/" + name + ".crt";
        fs::copy_file(id.keySource, id.key, fs::copy_options::overwrite_existing);
        selfSign(id.keySource, id.cert);
        return id;
    }

    // `count` pairs named prefix + zero-padded index (so byte order is index order),
    // all with the same key and certificate.
    std::vector<Identity> addMany(const std::string& dir, const std::string& prefix,
                                  std::size_t count) const {
        std::vector<Identity> ids;
        if (count == 0) return ids;
        Identity first = addPair(dir, prefix + pad(0));
        ids.push_back(first);
        for (std::size_t i = 1; i < count; ++i) {
            Identity id = base(dir, prefix + pad(i), first.keySource);
            id.key = dir + "/" + id.name + ".key";
            id.cert = dir + "/" + id.name + ".crt";
            fs::copy_file(first.key, id.key, fs::copy_options::overwrite_existing);
            fs::copy_file(first.cert, id.cert, fs::copy_options::overwrite_existing);
            ids.push_back(id);
        }
        return ids;
    }

    // A certificate's DER bytes as openssl writes them.
    Bytes certificateDer(const std::string& cert) const {
        std::string out = workFile("der");
        mustRunOpenssl({"x509", "-in", cert, "-outform", "DER", "-out", out});
        return readBytes(out);
    }

    // SHA1withRSA: the signature over `data` (hashed by openssl).
    bool verifySha1WithRsa(const std::string& cert, const Bytes& data,
                           const Bytes& signature) const {
        std::string pub = publicKey(cert);
        std::string in = workFile("data"), sig = workFile("sig");
        writeBytes(in, data.data(), data.size());
        writeBytes(sig, signature.data(), signature.size());
        return runOpenssl({"dgst", "-sha1", "-verify", pub, "-signature", sig, in});
    }

    // A PKCS#1 v1.5 signature of an already computed SHA-1 digest (DigestInfo inside).
    bool verifySha1Digest(const std::string& cert, const Bytes& digest,
                          const Bytes& signature) const {
        return pkeyutlVerify(cert, digest, signature, {"-pkeyopt", "digest:sha1"});
    }

    // A PKCS#1 v1.5 signature of `data` as given (no DigestInfo): openssl recovers the
    // signed block with the public key, which must be `data` exactly (its verify
    // operation takes at most a digest's length).
    bool verifyRaw(const std::string& cert, const Bytes& data, const Bytes& signature) const {
        std::string pub = publicKey(cert);
        std::string sig = workFile("sig"), recovered = workFile("recovered");
        writeBytes(sig, signature.data(), signature.size());
        if (!runOpenssl({"pkeyutl", "-verifyrecover", "-pubin", "-inkey", pub, "-in", sig, "-out",
                         recovered}))
            return false;
        return readBytes(recovered) == data;
    }

    // SHA-1 of `data`, computed by openssl.
    Bytes sha1(const Bytes& data) const {
        std::string in = workFile("data"), out = workFile("digest");
        writeBytes(in, data.data(), data.size());
        mustRunOpenssl({"dgst", "-sha1", "-binary", "-out", out, in});
        return readBytes(out);
    }

  private:
    static std::string pad(std::size_t i) {
        std::string digits = std::to_string(i);
        return std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
    }

    static Identity base(const std::string& dir, const std::string& name, std::string keySource) {
        (void)dir;
        Identity id;
        id.name = name;
        id.keySource = std::move(keySource);
        return id;
    }

    std::string workFile(const std::string& suffix) const {
        return root_ + "/.work/" + std::to_string(++serial_) + "." + suffix;
    }

    void selfSign(const std::string& key, const std::string& cert) const {
        mustRunOpenssl({"req", "-new", "-x509", "-key", key, "-subj",
                        "/CN=Tarnel Test " + std::to_string(serial_ + 1), "-days", "30", "-sha256",
                        "-out", cert});
        ++serial_;
    }

    std::string publicKey(const std::string& cert) const {
        std::string pub = workFile("pub");
        mustRunOpenssl({"x509", "-in", cert, "-pubkey", "-noout", "-out", pub});
        return pub;
    }

    bool pkeyutlVerify(const std::string& cert, const Bytes& data, const Bytes& signature,
                       const std::vector<std::string>& options) const {
        std::string pub = publicKey(cert);
        std::string in = workFile("data"), sig = workFile("sig");
        writeBytes(in, data.data(), data.size());
        writeBytes(sig, signature.data(), signature.size());
        std::vector<std::string> args{"pkeyutl", "-verify", "-pubin",   "-inkey", pub,
                                      "-in",     in,        "-sigfile", sig};
        args.insert(args.end(), options.begin(), options.end());
        return runOpenssl(args);
    }

    std::string root_;
    std::string config_;
    std::string previous_;
    bool hadPrevious_ = false;
    mutable unsigned serial_ = 0;
};

}  // namespace tarnel::testing
