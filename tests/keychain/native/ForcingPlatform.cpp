#include "ForcingPlatform.h"

#include <utility>

namespace kcn {

using tarnel::Ref;
using tarnel::Status;
using tarnel::systemPlatform;

namespace {

// What the credentials carry: their first sample's list, element by element.
// The walk is bounded so that a broken list shows as a wrong record, not a hang.
void describeCredentials(const tarnel::AccessCredentials* credentials, PlatformCall& call) {
    call.credentials = credentials;
    if (credentials == nullptr || credentials->samples.numberOfSamples == 0 ||
        credentials->samples.samples == nullptr) {
        return;
    }
    call.hasSample = true;
    const tarnel::CssmListElement* element = credentials->samples.samples[0].typedSample.head;
    for (int i = 0; element != nullptr && i < 16; ++i, element = element->nextElement) {
        call.wordIds.push_back(element->wordId);
        call.elementTypes.push_back(element->elementType);
        if (element->elementType == tarnel::kListElementDatum &&
            element->element.word.data != nullptr) {
            call.password.append(reinterpret_cast<const char*>(element->element.word.data),
                                 element->element.word.length);
        }
    }
}

}  // namespace

Gate::~Gate() {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return waiting_ == 0; });
}

void Gate::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
}

void Gate::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
    changed_.notify_all();
}

bool Gate::holding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_ > 0;
}

void Gate::pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.wait(lock, [this] { return !closed_; });
    --waiting_;
    changed_.notify_all();
}

void ForcingPlatform::forceSignStatus(Status status) {
    std::lock_guard<std::mutex> lock(mutex_);
    signOutcomes_.push_back({status, SignOutcome::Length::Kept, 0});
}

void ForcingPlatform::forceEmptySignature() {
    forceSignAnswer(tarnel::kOk, 0);
}

void ForcingPlatform::forceSignAnswer(Status status, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    signOutcomes_.push_back({status, SignOutcome::Length::Set, length});
}

void ForcingPlatform::forceOverlongSignature(std::size_t beyond) {
    std::lock_guard<std::mutex> lock(mutex_);
    signOutcomes_.push_back({tarnel::kOk, SignOutcome::Length::PastCapacity, beyond});
}

void ForcingPlatform::forceEvent(std::uint32_t event, std::int32_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({event, pid});
}

void ForcingPlatform::clearForced() {
    std::lock_guard<std::mutex> lock(mutex_);
    signOutcomes_.clear();
    events_.clear();
}

std::vector<PlatformCall> ForcingPlatform::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<PlatformCall> ForcingPlatform::callsOf(const std::string& op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PlatformCall> out;
    for (const PlatformCall& call : calls_) {
        if (call.op == op) out.push_back(call);
    }
    return out;
}

std::size_t ForcingPlatform::count(const std::string& op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const PlatformCall& call : calls_) n += call.op == op ? 1 : 0;
    return n;
}

void ForcingPlatform::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

bool ForcingPlatform::callbackRegistered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callback_ != nullptr;
}

Status ForcingPlatform::record(PlatformCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Status status = call.status;
    calls_.push_back(std::move(call));
    return status;
}

Status ForcingPlatform::copyDomainSearchList(tarnel::PreferencesDomain domain, Ref* list) {
    PlatformCall call{"copyDomainSearchList"};
    call.domain = static_cast<std::int32_t>(domain);
    call.status = systemPlatform().copyDomainSearchList(domain, list);
    return record(std::move(call));
}

Status ForcingPlatform::copyDefaultSearchList(Ref* list) {
    PlatformCall call{"copyDefaultSearchList"};
    call.status = systemPlatform().copyDefaultSearchList(list);
    return record(std::move(call));
}

long ForcingPlatform::arrayCount(Ref array) {
    return systemPlatform().arrayCount(array);
}

Ref ForcingPlatform::arrayElement(Ref array, long index) {
    return systemPlatform().arrayElement(array, index);
}

Status ForcingPlatform::keychainPath(Ref keychain, std::uint32_t* length, char* path) {
    return systemPlatform().keychainPath(keychain, length, path);
}

Ref ForcingPlatform::retain(Ref ref) {
    PlatformCall call{"retain"};
    call.ref = ref;
    record(std::move(call));
    return systemPlatform().retain(ref);
}

void ForcingPlatform::release(Ref ref) {
    PlatformCall call{"release"};
    call.ref = ref;
    record(std::move(call));
    systemPlatform().release(ref);
}

Status ForcingPlatform::createIdentitySearch(Ref keychain, std::uint32_t keyUsage, Ref* search) {
    PlatformCall call{"createIdentitySearch"};
    call.keyUsage = keyUsage;
    call.status = systemPlatform().createIdentitySearch(keychain, keyUsage, search);
    return record(std::move(call));
}

Status ForcingPlatform::copyNextIdentity(Ref search, Ref* identity) {
    return systemPlatform().copyNextIdentity(search, identity);
}

Status ForcingPlatform::addEventCallback(tarnel::EventCallback callback, std::uint32_t eventMask,
                                         void* context) {
    addGate.pass();
    PlatformCall call{"addEventCallback"};
    call.eventMask = eventMask;
    call.status = systemPlatform().addEventCallback(callback, eventMask, context);
    if (call.status == tarnel::kOk) {
        std::lock_guard<std::mutex> lock(mutex_);
        callback_ = callback;
        context_ = context;
        callbackThread_ = std::this_thread::get_id();
    }
    return record(std::move(call));
}

Status ForcingPlatform::removeEventCallback(tarnel::EventCallback callback) {
    removeGate.pass();
    PlatformCall call{"removeEventCallback"};
    call.status = systemPlatform().removeEventCallback(callback);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (callback == callback_) callback_ = nullptr;
    }
    return record(std::move(call));
}

std::int32_t ForcingPlatform::runLoopOnce() {
    tarnel::EventCallback callback = nullptr;
    void* context = nullptr;
    Event event{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (callback_ != nullptr && callbackThread_ == std::this_thread::get_id() &&
            !events_.empty()) {
            callback = callback_;
            context = context_;
            event = events_.front();
            events_.pop_front();
        }
    }
    if (callback == nullptr) return systemPlatform().runLoopOnce();
    tarnel::CallbackInfo info{};
    info.pid = event.pid;
    callback(event.number, &info, context);
    return tarnel::kRunLoopHandledSource;
}

Status ForcingPlatform::copyPrivateKey(Ref identity, Ref* key) {
    PlatformCall call{"copyPrivateKey"};
    call.ref = identity;
    call.status = systemPlatform().copyPrivateKey(identity, key);
    return record(std::move(call));
}

Status ForcingPlatform::copyCertificate(Ref identity, Ref* certificate) {
    PlatformCall call{"copyCertificate"};
    call.ref = identity;
    call.status = systemPlatform().copyCertificate(identity, certificate);
    return record(std::move(call));
}

Status ForcingPlatform::certificateData(Ref certificate, tarnel::CssmData* data) {
    return systemPlatform().certificateData(certificate, data);
}

Status ForcingPlatform::copyKeyAttributes(Ref key, std::uint32_t tag, std::uint32_t format,
                                          tarnel::KeychainAttributeList** list) {
    PlatformCall call{"copyKeyAttributes"};
    call.tag = tag;
    call.format = format;
    call.status = systemPlatform().copyKeyAttributes(key, tag, format, list);
    return record(std::move(call));
}

Status ForcingPlatform::freeKeyAttributes(tarnel::KeychainAttributeList* list) {
    return systemPlatform().freeKeyAttributes(list);
}

Status ForcingPlatform::keyCspHandle(Ref key, tarnel::CspHandle* csp) {
    return systemPlatform().keyCspHandle(key, csp);
}

Status ForcingPlatform::keyCredentials(Ref key, std::uint32_t operation, std::uint32_t type,
                                       const tarnel::AccessCredentials** credentials) {
    PlatformCall call{"keyCredentials"};
    call.operation = operation;
    call.credentialType = type;
    call.status = systemPlatform().keyCredentials(key, operation, type, credentials);
    if (call.status == tarnel::kOk && credentials != nullptr) {
        describeCredentials(*credentials, call);
    }
    return record(std::move(call));
}

Status ForcingPlatform::keyCssmKey(Ref key, const tarnel::CssmKey** cssmKey) {
    return systemPlatform().keyCssmKey(key, cssmKey);
}

Status ForcingPlatform::keySignatureSize(Ref key, std::size_t* bytes) {
    PlatformCall call{"keySignatureSize"};
    call.status = systemPlatform().keySignatureSize(key, bytes);
    if (call.status == tarnel::kOk && bytes != nullptr) call.signatureCapacity = *bytes;
    return record(std::move(call));
}

Status ForcingPlatform::createSignatureContext(tarnel::CspHandle csp, std::uint32_t algorithm,
                                               const tarnel::AccessCredentials* credentials,
                                               const tarnel::CssmKey* key,
                                               tarnel::ContextHandle* context) {
    PlatformCall call{"createSignatureContext"};
    call.algorithm = algorithm;
    describeCredentials(credentials, call);
    call.status =
        systemPlatform().createSignatureContext(csp, algorithm, credentials, key, context);
    return record(std::move(call));
}

Status ForcingPlatform::deleteContext(tarnel::ContextHandle context) {
    PlatformCall call{"deleteContext"};
    call.status = systemPlatform().deleteContext(context);
    return record(std::move(call));
}

Status ForcingPlatform::signData(tarnel::ContextHandle context, const tarnel::CssmData* blocks,
                                 std::uint32_t blockCount, std::uint32_t digestAlgorithm,
                                 tarnel::CssmData* signature) {
    PlatformCall call{"signData"};
    call.digest = digestAlgorithm;
    call.signatureCapacity = signature != nullptr ? signature->length : 0;
    for (std::uint32_t i = 0; blocks != nullptr && i < blockCount; ++i) {
        call.blockSizes.push_back(blocks[i].length);
    }
    if (blocks != nullptr && blockCount > 0 && blocks[0].data != nullptr) {
        call.blockBytes.assign(reinterpret_cast<const char*>(blocks[0].data), blocks[0].length);
    }
    bool forced = false;
    SignOutcome outcome{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!signOutcomes_.empty()) {
            forced = true;
            outcome = signOutcomes_.front();
            signOutcomes_.pop_front();
        }
    }
    if (!forced) {
        call.status =
            systemPlatform().signData(context, blocks, blockCount, digestAlgorithm, signature);
    } else {
        call.status = outcome.status;
        if (signature != nullptr && outcome.length == SignOutcome::Length::Set) {
            signature->length = outcome.amount;
        } else if (signature != nullptr && outcome.length == SignOutcome::Length::PastCapacity) {
            signature->length += outcome.amount;
        }
    }
    call.signatureLength = signature != nullptr ? signature->length : 0;
    return record(std::move(call));
}

}  // namespace kcn
