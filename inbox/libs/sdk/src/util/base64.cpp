#include "util/base64.h"

#include <array>

namespace corvane {

namespace {

const char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr uint8_t kNotInAlphabet = 0xFF;

using DecodeTable = std::array<uint8_t, 256>;

DecodeTable makeDecodeTable(const char* alphabet) {
    DecodeTable table;
    table.fill(kNotInAlphabet);
    for (uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i;
    }
    return table;
}

const DecodeTable& standardTable() {
    static const DecodeTable table = makeDecodeTable(kStandardAlphabet);
    return table;
}

const DecodeTable& urlTable() {
    static const DecodeTable table = makeDecodeTable(kUrlAlphabet);
    return table;
}

size_t encodeWith(const char* alphabet, bool pad, const uint8_t* data, size_t size, char* output, size_t capacity) {
    if (data == nullptr || output == nullptr) {
        return 0;
    }
    size_t written = 0;
    auto put = [&](char c) {
        if (written < capacity) {
            output[written++] = c;
        }
    };
    size_t i = 0;
    for (; i + 3 <= size && written < capacity; i += 3) {
        uint32_t group = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        put(alphabet[(group >> 18) & 0x3F]);
        put(alphabet[(group >> 12) & 0x3F]);
        put(alphabet[(group >> 6) & 0x3F]);
        put(alphabet[group & 0x3F]);
    }
    size_t rest = size - i;
    if (rest > 0 && rest < 3 && written < capacity) {
        uint32_t group = uint32_t(data[i]) << 16;
        if (rest == 2) {
            group |= uint32_t(data[i + 1]) << 8;
        }
        put(alphabet[(group >> 18) & 0x3F]);
        put(alphabet[(group >> 12) & 0x3F]);
        if (rest == 2) {
            put(alphabet[(group >> 6) & 0x3F]);
        } else if (pad) {
            put('=');
        }
        if (pad) {
            put('=');
        }
    }
    return written;
}

size_t decodeWith(const DecodeTable& table, const char* text, uint8_t* output, size_t capacity) {
    if (text == nullptr || output == nullptr) {
        return 0;
    }
    size_t written = 0;
    uint32_t bits = 0;
    int bitCount = 0;
    for (const char* p = text; *p != '\0' && written < capacity; ++p) {
        uint8_t value = table[static_cast<unsigned char>(*p)];
        if (value == kNotInAlphabet) {
            continue;
        }
        bits = (bits << 6) | value;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            output[written++] = static_cast<uint8_t>(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    return written;
}

}  // namespace

size_t Base64::encode(const uint8_t* data, size_t size, char* output, size_t capacity) {
    return encodeWith(kStandardAlphabet, true, data, size, output, capacity);
}

size_t Base64::decode(const char* text, uint8_t* output, size_t capacity) {
    return decodeWith(standardTable(), text, output, capacity);
}

size_t Base64::encodeUrl(const uint8_t* data, size_t size, char* output, size_t capacity) {
    return encodeWith(kUrlAlphabet, false, data, size, output, capacity);
}

size_t Base64::decodeUrl(const char* text, uint8_t* output, size_t capacity) {
    return decodeWith(urlTable(), text, output, capacity);
}

size_t Base64::encodedSize(size_t size) {
    return (size + 2) / 3 * 4;
}

size_t Base64::encodedUrlSize(size_t size) {
    return (size * 4 + 2) / 3;
}

}  // namespace corvane
