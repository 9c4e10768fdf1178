#pragma once

#include <vector>

namespace corvane {

// One API operation as it appears on the wire. The two local requests carry no message, so
// every field after the command word is null for them.
struct RequestCatalogueEntry {
    const char* className;           // "AccountInfoRequest"
    const char* commandWord;         // what getName returns: "AccountInfo"
    const char* messageTable;        // "AccountInfoMessage"
    const char* messageIdentifier;   // "ACIM"
    const char* responseTable;       // "AccountInfoResponse"
    const char* responseIdentifier;  // "ACIR"
    const char* messageSchema;       // stem of the schema file, for getSchemaText
    const char* responseSchema;
};

// Every request class, sorted by class name; the transport's events and status requests
// included.
const std::vector<RequestCatalogueEntry>& getRequestCatalogue();

// The entry of a command word, or null when no request class sends it.
const RequestCatalogueEntry* findRequestByCommandWord(const char* commandWord);

}  // namespace corvane
