// A plain libcurl client for the stand-in's own tests, independent of the SDK's transport.
#pragma once

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

namespace corvane::service::test {

struct Call {
    std::string url;
    std::string method = "POST";
    std::string body;
    std::string caFile;  // verify the peer against this file; no verification when empty
    std::string pin;     // "sha256//..." when set
    bool decode = true;  // let libcurl decode Content-Encoding
    long httpVersion = CURL_HTTP_VERSION_1_1;
    std::string resolve;  // "host:port:address" entry, when set
    std::map<std::string, std::string> headers;
    long timeoutMs = 20000;
};

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    long httpVersion = 0;
    std::string body;
    std::map<std::string, std::string> headers;  // names lower-cased
};

inline size_t appendBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

inline size_t storeHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
            value.pop_back();
        (*static_cast<std::map<std::string, std::string>*>(user))[name] = value;
    }
    return size * count;
}

// One exchange on a fresh handle, so a fresh connection unless `handle` is given (to reuse one).
inline Reply perform(const Call& call, CURL* handle = nullptr) {
    Reply reply;
    CURL* curl = handle ? handle : curl_easy_init();
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, call.httpVersion);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, call.timeoutMs);
    if (call.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    if (call.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CAINFO, call.caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    if (!call.pin.empty()) curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, call.pin.c_str());
    if (call.decode) curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
    headers = curl_slist_append(headers, "Expect:");
    for (const auto& [name, value] : call.headers)
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_slist* resolve = call.resolve.empty() ? nullptr : curl_slist_append(nullptr, call.resolve.c_str());
    if (resolve) curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &storeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_HTTP_VERSION, &reply.httpVersion);
    curl_slist_free_all(headers);
    curl_slist_free_all(resolve);
    if (!handle) curl_easy_cleanup(curl);
    return reply;
}

}  // namespace corvane::service::test
