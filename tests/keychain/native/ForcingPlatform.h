// A platform that hands every operation to the system's and keeps a record of
// the calls that matter to the tests, and that can force what the system
// cannot be made to produce: a signing status, a signature of length 0 or
// longer than its buffer, an event with any number, a registration or
// removal of the event callback held until the test lets it through.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Platform.h"

namespace kcn {

// One recorded call. Only the fields of its operation are set.
struct PlatformCall {
    explicit PlatformCall(std::string name) : op(std::move(name)) {}

    std::string op;
    tarnel::Ref ref = nullptr;    // retain, release, copyPrivateKey's identity
    std::uint32_t keyUsage = 0;   // createIdentitySearch
    std::uint32_t algorithm = 0;  // createSignatureContext
    std::uint32_t digest = 0;     // signData
    std::uint32_t operation = 0;  // keyCredentials
    std::uint32_t credentialType = 0;
    std::uint32_t eventMask = 0;  // addEventCallback
    std::int32_t domain = -1;     // copyDomainSearchList
    std::uint32_t tag = 0;        // copyKeyAttributes
    std::uint32_t format = 0;
    std::size_t signatureCapacity = 0;    // signData: the output buffer handed in
    std::vector<std::size_t> blockSizes;  // signData
    std::string blockBytes;               // signData: the first block's bytes
    // keyCredentials: the credentials returned; createSignatureContext: those passed.
    const tarnel::AccessCredentials* credentials = nullptr;
    bool hasSample = false;
    std::vector<std::int32_t> wordIds;  // per element of the first sample's list
    std::vector<std::uint32_t> elementTypes;
    std::string password;             // the datum elements' bytes
    std::size_t signatureLength = 0;  // signData: the length it left in the output block
    tarnel::Status status = 0;        // what the operation answered
    std::thread::id thread = std::this_thread::get_id();
};

// Where an operation waits while the gate is closed. Open at first; its end lets any waiter go
// and waits for it to leave.
class Gate {
  public:
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    ~Gate();
    void close();
    void open();
    // Whether a caller is waiting at the gate now.
    bool holding() const;
    // Called by the operation: returns once the gate is open.
    void pass();

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    int waiting_ = 0;
};

class ForcingPlatform : public tarnel::Platform {
  public:
    // The next signData calls answer these, in order, instead of signing; once
    // the queue is empty they sign for real.
    void forceSignStatus(tarnel::Status status);
    // The next signData answers 0 with a signature of length 0.
    void forceEmptySignature();
    // The next signData answers `status` and leaves the output length at `length`, nothing signed.
    void forceSignAnswer(tarnel::Status status, std::size_t length);
    // The next signData answers 0 and claims `beyond` bytes more than the buffer it was handed.
    void forceOverlongSignature(std::size_t beyond);
    // Delivered, one per turn, by runLoopOnce on the thread that registered the callback.
    void forceEvent(std::uint32_t event, std::int32_t pid);
    // Drops whatever forced outcome has not been used yet.
    void clearForced();

    std::vector<PlatformCall> calls() const;
    std::vector<PlatformCall> callsOf(const std::string& op) const;
    std::size_t count(const std::string& op) const;
    void clearCalls();
    // Whether a callback is registered now.
    bool callbackRegistered() const;

    // addEventCallback and removeEventCallback wait here before doing anything.
    Gate addGate;
    Gate removeGate;

    tarnel::Status copyDomainSearchList(tarnel::PreferencesDomain domain,
                                        tarnel::Ref* list) override;
    tarnel::Status copyDefaultSearchList(tarnel::Ref* list) override;
    long arrayCount(tarnel::Ref array) override;
    tarnel::Ref arrayElement(tarnel::Ref array, long index) override;
    tarnel::Status keychainPath(tarnel::Ref keychain, std::uint32_t* length, char* path) override;
    tarnel::Ref retain(tarnel::Ref ref) override;
    void release(tarnel::Ref ref) override;
    tarnel::Status createIdentitySearch(tarnel::Ref keychain, std::uint32_t keyUsage,
                                        tarnel::Ref* search) override;
    tarnel::Status copyNextIdentity(tarnel::Ref search, tarnel::Ref* identity) override;
    tarnel::Status addEventCallback(tarnel::EventCallback callback, std::uint32_t eventMask,
                                    void* context) override;
    tarnel::Status removeEventCallback(tarnel::EventCallback callback) override;
    std::int32_t runLoopOnce() override;
    tarnel::Status copyPrivateKey(tarnel::Ref identity, tarnel::Ref* key) override;
    tarnel::Status copyCertificate(tarnel::Ref identity, tarnel::Ref* certificate) override;
    tarnel::Status certificateData(tarnel::Ref certificate, tarnel::CssmData* data) override;
    tarnel::Status copyKeyAttributes(tarnel::Ref key, std::uint32_t tag, std::uint32_t format,
                                     tarnel::KeychainAttributeList** list) override;
    tarnel::Status freeKeyAttributes(tarnel::KeychainAttributeList* list) override;
    tarnel::Status keyCspHandle(tarnel::Ref key, tarnel::CspHandle* csp) override;
    tarnel::Status keyCredentials(tarnel::Ref key, std::uint32_t operation, std::uint32_t type,
                                  const tarnel::AccessCredentials** credentials) override;
    tarnel::Status keyCssmKey(tarnel::Ref key, const tarnel::CssmKey** cssmKey) override;
    tarnel::Status keySignatureSize(tarnel::Ref key, std::size_t* bytes) override;
    tarnel::Status createSignatureContext(tarnel::CspHandle csp, std::uint32_t algorithm,
                                          const tarnel::AccessCredentials* credentials,
                                          const tarnel::CssmKey* key,
                                          tarnel::ContextHandle* context) override;
    tarnel::Status deleteContext(tarnel::ContextHandle context) override;
    tarnel::Status signData(tarnel::ContextHandle context, const tarnel::CssmData* blocks,
                            std::uint32_t blockCount, std::uint32_t digestAlgorithm,
                            tarnel::CssmData* signature) override;

  private:
    struct SignOutcome {
        enum class Length { Kept, Set, PastCapacity };
        tarnel::Status status;
        Length length;
        std::size_t amount;  // the length set, or how far past the capacity
    };
    struct Event {
        std::uint32_t number;
        std::int32_t pid;
    };

    tarnel::Status record(PlatformCall call);

    mutable std::mutex mutex_;
    std::vector<PlatformCall> calls_;
    std::deque<SignOutcome> signOutcomes_;
    std::deque<Event> events_;
    tarnel::EventCallback callback_ = nullptr;
    void* context_ = nullptr;
    std::thread::id callbackThread_;
};

}  // namespace kcn
