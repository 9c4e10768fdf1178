// Writes the seed corpora of the fuzz targets from the real code: client messages as the
// request classes build them, batch answers as the stand-in gives them, and the header lines
// and pin text of a running stand-in. Run it again whenever a format changes:
//   seed_corpora <directory>   (fuzz/corpus in the source tree)
#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "batch_dispatcher.h"
#include "batch_framing.h"
#include "cloud/encrypted_node_data.h"
#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "message_verifier.h"
#include "request/node_tables.h"
#include "request/request.h"
#include "request/utils_request.h"
#include "stand_in_service.h"
#include "test_handler.h"

namespace {

using corvane::service::BatchDispatcher;

bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

class Corpus {
public:
    Corpus(const std::string& root, const std::string& target) : directory_(root + "/" + target) {
        ::mkdir(root.c_str(), 0755);
        ::mkdir(directory_.c_str(), 0755);
    }
    void add(const std::string& name, const std::string& bytes) {
        if (!writeFile(directory_ + "/" + name, bytes)) {
            std::fprintf(stderr, "seed_corpora: cannot write %s/%s\n", directory_.c_str(), name.c_str());
            failed = true;
        }
    }
    static inline bool failed = false;

private:
    std::string directory_;
};

// What a TestRequest sends: its whole size-prefixed message.
std::string testMessage() {
    auto request = std::make_shared<corvane::TestRequest>(nullptr);
    std::unique_ptr<corvane::ByteArray> message = request->takeMessage();
    return std::string(reinterpret_cast<const char*>(message->data()), message->size());
}

// A node-listing message as a client builds it: the children of a folder, two levels deep.
std::string nodeListingMessage() {
    flatbuffers::FlatBufferBuilder builder = corvane::NetworkRequest::makeBuilder();
    corvane::GetNodesMessageBuilder message(builder);
    message.add_parent(0x0102030405060708ULL);
    message.add_levels(2);
    message.add_mode(1);
    builder.FinishSizePrefixed(message.Finish(), "GENM");
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// A node-listing response carrying nodes and a filesystem, written by the shared node-table code.
std::string nodeListingResponse() {
    flatbuffers::FlatBufferBuilder builder = corvane::NetworkRequest::makeBuilder();
    std::vector<flatbuffers::Offset<corvane::NodeMessage>> nodes;
    for (uint64_t id : {0x1111222233334444ULL, 0x5555666677778888ULL}) {
        corvane::EncryptedNodeData node;
        node.setId(id);
        node.setParent(0x0102030405060708ULL);
        node.setType(id & 1 ? 1 : 0);
        node.setSize(4096 * id % 100000);
        const std::string attributes(48, static_cast<char>(id & 0x7F));
        node.setEncryptedAttributes(reinterpret_cast<const uint8_t*>(attributes.data()), attributes.size());
        const std::string key(32, 'k');
        node.setEncryptedNodeKey(reinterpret_cast<const uint8_t*>(key.data()), key.size());
        nodes.push_back(corvane::buildNodeMessage(builder, node));
    }
    const auto nodeVector = builder.CreateVector(nodes);
    const auto filesystemKey = builder.CreateVector(std::vector<uint8_t>(32, 0x5A));
    corvane::FilesystemMessageBuilder filesystem(builder);
    filesystem.add_handle(0x0102030405060708ULL);
    filesystem.add_type(0);
    filesystem.add_filesystemKey(filesystemKey);
    const auto filesystemOffset = filesystem.Finish();
    const auto filesystems =
        builder.CreateVector(std::vector<flatbuffers::Offset<corvane::FilesystemMessage>>{filesystemOffset});
    corvane::GetNodesResponseBuilder response(builder);
    response.add_nodes(nodeVector);
    response.add_filesystems(filesystems);
    response.add_accountStatus(3);
    builder.Finish(response.Finish(), "GENR");
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// The stand-in's answer to a batch, with a node-listing handler that answers nodeListingResponse.
std::string answerOf(const std::string& body) {
    BatchDispatcher dispatcher;
    dispatcher.setHandler("TESM", &corvane::service::answerTestMessage);
    dispatcher.setHandler("GENM", [](const std::string&) { return nodeListingResponse(); });
    std::string answer;
    dispatcher.answer(body, answer);
    return answer;
}

std::string errorAnswer(const char* identifier, int32_t code) {
    const auto* kind = corvane::service::findMessageKind(identifier);
    return kind ? corvane::service::joinResponses({corvane::service::errorResponse(*kind, code)}) : std::string();
}

size_t collectHeader(char* data, size_t size, size_t count, void* user) {
    // Whole lines with their line end, as the transport's header callback gets them.
    static_cast<std::vector<std::string>*>(user)->emplace_back(data, size * count);
    return size * count;
}

size_t dropBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

// The header lines of a running stand-in's answers: plain, gzip with the announced length.
std::vector<std::string> standInHeaderLines(corvane::service::StandInService& service) {
    std::vector<std::string> lines;
    corvane::service::Fault gzip;
    gzip.pathPrefix = "/data/";
    gzip.gzip = true;
    service.addFault(gzip);
    for (const char* path : {"/data/1000", "/data/70000"}) {
        CURL* curl = curl_easy_init();
        const std::string url = service.baseUrl() + path;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, service.certificatePath().c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &collectHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &lines);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &dropBody);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : "fuzz/corpus";
    const std::string test = testMessage();
    const std::string listing = nodeListingMessage();

    // Client messages, as batches.
    Corpus batch(root, "batch");
    batch.add("test_message", test);
    batch.add("three_test_messages", test + test + test);
    batch.add("test_and_node_listing", test + listing);

    // Batch answers; the first byte is the target's arrival step and ring size.
    Corpus answers(root, "response_reader");
    answers.add("test_answer_whole", std::string(1, '\x0F') + answerOf(test));
    answers.add("test_answer_bytewise_in_a_ring", std::string(1, '\x10') + answerOf(test + test));
    answers.add("node_listing_answer", std::string(1, '\x03') + answerOf(listing));
    answers.add("test_unknown_test", std::string(1, '\x25') + answerOf(test + std::string("\x04\0\0\0zzzz", 8) + test));
    answers.add("node_listing_error", std::string(1, '\x07') + errorAnswer("GENM", 9));
    answers.add("mixed_answer", std::string(1, '\x31') + answerOf(listing + test) + errorAnswer("GENM", 2));

    curl_global_init(CURL_GLOBAL_ALL);
    corvane::service::StandInService service;
    if (!service.start()) {
        std::fprintf(stderr, "seed_corpora: the stand-in did not start\n");
        return 1;
    }
    Corpus headers(root, "http_headers");
    int index = 0;
    for (const std::string& line : standInHeaderLines(service)) {
        headers.add("standin_line_" + std::to_string(index++), line);
    }
    Corpus base64(root, "base64");
    const std::string pin = service.pin();
    base64.add("standin_pin", pin.substr(pin.find("//") + 2));
    service.stop();
    curl_global_cleanup();
    return Corpus::failed ? 1 : 0;
}
