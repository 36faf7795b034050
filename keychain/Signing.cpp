// Signing with an identity's private key through the CSSM signature calls.
#include <strings.h>

#include <cstring>

#include "Java.h"
#include "tarnel.h"

namespace tarnel {

std::uint32_t GetAlgID(JNIEnv* env, jstring name) {
    const std::string text = utf8Of(env, name);
    // The whole name: a Java string may hold a NUL, where a C comparison would stop.
    const auto is = [&text](const char* known) {
        return text.size() == std::strlen(known) && strcasecmp(text.c_str(), known) == 0;
    };
    if (is("RSA")) return kAlgRsa;
    if (is("SHA1withRSA")) return kAlgSha1WithRsa;
    if (is("SHA")) return kAlgSha1;
    return kAlgNone;
}

namespace {

// Creates the signature context, signs (once more after a status of -1) and deletes the context.
Status signWith(CspHandle csp, Ref key, std::uint32_t signatureAlgorithm,
                const AccessCredentials* credentials, const CssmData* input, CssmData* output,
                std::uint32_t digestAlgorithm) {
    const CssmKey* cssmKey = nullptr;
    Status status = platform().keyCssmKey(key, &cssmKey);
    if (status != kOk) return status;
    ContextHandle context = 0;
    status =
        platform().createSignatureContext(csp, signatureAlgorithm, credentials, cssmKey, &context);
    if (status != kOk) return status;
    const std::size_t capacity = output->length;
    status = platform().signData(context, input, 1, digestAlgorithm, output);
    if (status == kSignRetryStatus) {
        output->length = capacity;  // the same output block as the first time
        status = platform().signData(context, input, 1, digestAlgorithm, output);
    }
    platform().deleteContext(context);
    return status;
}

}  // namespace

Status cdsaSign(CspHandle csp, Ref key, std::uint32_t signatureAlgorithm, const CssmData* input,
                CssmData* output, std::uint32_t digestAlgorithm) {
    const AccessCredentials* credentials = nullptr;
    const Status status =
        platform().keyCredentials(key, kAclAuthorizationSign, kCredentialTypeWithUi, &credentials);
    if (status != kOk) return status;
    return signWith(csp, key, signatureAlgorithm, credentials, input, output, digestAlgorithm);
}

Status cdsaSignPin(CspHandle csp, Ref key, std::uint32_t signatureAlgorithm, const CssmData* input,
                   CssmData* output, std::uint32_t digestAlgorithm, const char* pin) {
    // A password credential: one sample whose list is the word PASSWORD and the PIN's bytes.
    CssmListElement elements[2];
    std::memset(elements, 0, sizeof elements);
    elements[0].nextElement = &elements[1];
    elements[0].wordId = kWordIdPassword;
    elements[0].elementType = kListElementWordId;
    elements[1].elementType = kListElementDatum;
    elements[1].element.word.length = std::strlen(pin);
    elements[1].element.word.data = reinterpret_cast<std::uint8_t*>(const_cast<char*>(pin));
    CssmSample sample;
    std::memset(&sample, 0, sizeof sample);
    sample.typedSample.head = &elements[0];
    sample.typedSample.tail = &elements[1];
    AccessCredentials credentials;
    std::memset(&credentials, 0, sizeof credentials);
    credentials.samples.numberOfSamples = 1;
    credentials.samples.samples = &sample;

    const Status status =
        signWith(csp, key, signatureAlgorithm, &credentials, input, output, digestAlgorithm);
    // Nothing that pointed at the PIN outlives the call.
    std::memset(elements, 0, sizeof elements);
    return status;
}

Status SignBuffer(Ref identity, const char* pin, const std::uint8_t* data, std::size_t dataLength,
                  std::uint8_t* out, std::size_t* outLength, std::uint32_t digestAlgorithm,
                  std::uint32_t signatureAlgorithm) {
    if (identity == nullptr) {
        *outLength = 0;
        return kOk;
    }
    Owned key;
    Status status = platform().copyPrivateKey(identity, key.out());
    if (status != kOk) return status;
    if (key.get() == nullptr) {
        *outLength = 0;
        return kOk;
    }
    CspHandle csp = 0;
    status = platform().keyCspHandle(key.get(), &csp);
    if (status != kOk) return status;

    const CssmData input{dataLength, const_cast<std::uint8_t*>(data)};
    CssmData output{*outLength, out};
    if (pin != nullptr) {
        status =
            cdsaSignPin(csp, key.get(), signatureAlgorithm, &input, &output, digestAlgorithm, pin);
    } else {
        status = cdsaSign(csp, key.get(), signatureAlgorithm, &input, &output, digestAlgorithm);
    }
    // Never more than the buffer holds, whatever the signing call says.
    *outLength = output.length <= *outLength ? output.length : 0;
    return status;
}

}  // namespace tarnel
