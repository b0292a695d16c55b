// Any byte sequence either loads or fails with the subsystem's exception; what loads is written back, and a
// deep copy of it writes the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TRef<TXmlDDocument> document(new TXmlDDocument);
    try {
        LoadXml(document.get(), std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Exception&) {
        return 0;
    }
    std::string written = document->GetXml();
    TRef<TXmlDNode> copy(CloneNode(document.get(), true));
    if (copy->GetXml() != written) {
        std::abort();
    }
    return 0;
}
