// The signed-catalogue check over any bytes: it refuses them with its own error and never crashes. The trusted
// key is made afresh for each process, so no seed or mutation can carry a signature it made.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "signing/signing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> keys{GenerateKeyPair().Public};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        VerifyCatalogueSignature(text, keys);
        __builtin_trap();  // bytes that no trusted key signed verified
    } catch (const ESignatureError&) {
    }
    // The stamp is read from what the XML reader makes of the same bytes.
    try {
        TRef<TXmlDDocument> document(new TXmlDDocument());
        LoadXml(document.get(), text);
        ReadReleaseStamp(document.get());
    } catch (const Exception&) {
    }
    return 0;
}
