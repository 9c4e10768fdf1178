#include "crypto/aes_key_wrap.h"

#include <cstdint>
#include <cstring>

#include <cryptopp/aes.h>
#include <cryptopp/cryptlib.h>

namespace corvane {
namespace {

const char kDefaultIv[] = "A6A6A6A6A6A6A6A6";
const char kAlternativeIvPrefix[] = "A65959A6";
constexpr size_t kSemiBlock = 8;

void checkKek(const CryptoPP::SecByteBlock& kek) {
    if (kek.size() != 16 && kek.size() != 24 && kek.size() != 32) {
        throw CryptoPP::InvalidArgument("KEK must be 128, 192 or 256 bits (16, 24 or 32 bytes)");
    }
}

// RFC 3394 XORs t as a 64-bit number; below 2^32 that touches only the last 4 bytes.
void xorCounter(CryptoPP::byte* a, uint64_t t) {
    for (int i = 7; i >= 0; --i, t >>= 8) {
        a[i] ^= static_cast<CryptoPP::byte>(t);
    }
}

uint32_t readBigEndian32(const CryptoPP::byte* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

CryptoPP::SecByteBlock firstBytes(const CryptoPP::byte* p, size_t size) {
    return CryptoPP::SecByteBlock(p, size);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

CryptoPP::Exception integrityFailure(const char* message) {
    return CryptoPP::Exception(CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED, message);
}

}  // namespace

void aesKeyWrap(CryptoPP::SecByteBlock key, CryptoPP::SecByteBlock kek, CryptoPP::SecByteBlock& output, bool padding) {
    const size_t keySize = key.size();
    if (!padding && keySize % kSemiBlock != 0) {
        throw CryptoPP::InvalidArgument("key must be a multiple of 64-bit (8 byte) blocks");
    }
    CryptoPP::SecByteBlock plain(key);
    if (padding && keySize % kSemiBlock != 0) {
        plain.CleanGrow(keySize + kSemiBlock - keySize % kSemiBlock);
    }
    if (plain.size() % kSemiBlock != 0) {
        throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR,
                                  "plain text input with padding should be multiple of 8");
    }
    checkKek(kek);

    CryptoPP::SecByteBlock a;
    if (padding) {
        a = hex2sbb(kAlternativeIvPrefix);
        a.Grow(kSemiBlock);
        const uint32_t mli = static_cast<uint32_t>(keySize);
        a[4] = static_cast<CryptoPP::byte>(mli >> 24);
        a[5] = static_cast<CryptoPP::byte>(mli >> 16);
        a[6] = static_cast<CryptoPP::byte>(mli >> 8);
        a[7] = static_cast<CryptoPP::byte>(mli);
    } else {
        a = hex2sbb(kDefaultIv);
    }

    const size_t n = plain.size() / kSemiBlock;
    CryptoPP::AES::Encryption aes(kek, kek.size());
    CryptoPP::SecByteBlock block(CryptoPP::AES::BLOCKSIZE);
    CryptoPP::SecByteBlock result(kSemiBlock * (n + 1));

    if (padding && n == 1) {
        std::memcpy(block, a, kSemiBlock);
        std::memcpy(block + kSemiBlock, plain, kSemiBlock);
        aes.ProcessBlock(block, result);
        output.swap(result);
        return;
    }

    std::memcpy(result + kSemiBlock, plain, plain.size());
    CryptoPP::byte* r = result + kSemiBlock;
    for (uint64_t j = 0; j <= 5; ++j) {
        for (uint64_t i = 1; i <= n; ++i) {
            std::memcpy(block, a, kSemiBlock);
            std::memcpy(block + kSemiBlock, r + (i - 1) * kSemiBlock, kSemiBlock);
            aes.ProcessBlock(block);
            std::memcpy(a, block, kSemiBlock);
            xorCounter(a, n * j + i);
            std::memcpy(r + (i - 1) * kSemiBlock, block + kSemiBlock, kSemiBlock);
        }
    }
    std::memcpy(result, a, kSemiBlock);
    output.swap(result);
}

void aesKeyUnwrap(CryptoPP::SecByteBlock wrapped, CryptoPP::SecByteBlock kek, CryptoPP::SecByteBlock& output,
                  bool padding) {
    if (wrapped.size() % kSemiBlock != 0) {
        throw CryptoPP::InvalidArgument("wrapped key must be a multiple of 64-bit (8 byte) blocks");
    }
    checkKek(kek);
    // Shorter inputs hold no wrapped block at all.
    if (wrapped.size() < 2 * kSemiBlock) {
        throw integrityFailure("key unwrap failed");
    }

    const size_t n = wrapped.size() / kSemiBlock - 1;
    CryptoPP::AES::Decryption aes(kek, kek.size());
    CryptoPP::SecByteBlock block(CryptoPP::AES::BLOCKSIZE);
    CryptoPP::SecByteBlock a(kSemiBlock);
    CryptoPP::SecByteBlock r(kSemiBlock * n);

    if (padding && n == 1) {
        aes.ProcessBlock(wrapped, block);
        std::memcpy(a, block, kSemiBlock);
        std::memcpy(r, block + kSemiBlock, kSemiBlock);
    } else {
        std::memcpy(a, wrapped, kSemiBlock);
        std::memcpy(r, wrapped + kSemiBlock, r.size());
        for (uint64_t j = 6; j-- > 0;) {
            for (uint64_t i = n; i >= 1; --i) {
                xorCounter(a, n * j + i);
                std::memcpy(block, a, kSemiBlock);
                std::memcpy(block + kSemiBlock, r + (i - 1) * kSemiBlock, kSemiBlock);
                aes.ProcessBlock(block);
                std::memcpy(a, block, kSemiBlock);
                std::memcpy(r + (i - 1) * kSemiBlock, block + kSemiBlock, kSemiBlock);
            }
        }
    }

    if (!padding) {
        if (sbb2hex(a) != kDefaultIv) {
            throw integrityFailure("key unwrap failed");
        }
        output.swap(r);
        return;
    }

    if (sbb2hex(firstBytes(a, 4)) != kAlternativeIvPrefix) {
        throw integrityFailure("key unwrap failed");
    }
    const uint64_t mli = readBigEndian32(a + 4);
    if (mli > kSemiBlock * n) {
        throw integrityFailure("message too long");
    }
    // The length must fall in the last semiblock and the padding must be zero; anything
    // else is a forged or damaged input.
    if (mli <= kSemiBlock * (n - 1)) {
        throw integrityFailure("key unwrap failed");
    }
    for (size_t i = mli; i < r.size(); ++i) {
        if (r[i] != 0) {
            throw integrityFailure("key unwrap failed");
        }
    }
    r.resize(mli);
    output.swap(r);
}

int hexdigit2int(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    throw CryptoPP::InvalidArgument("hexdigit2int: bad hex digit");
}

CryptoPP::SecByteBlock hex2sbb(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        throw CryptoPP::InvalidArgument("hex2sbb: odd number of hex digits");
    }
    CryptoPP::SecByteBlock bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char high = hex[2 * i];
        const char low = hex[2 * i + 1];
        if (!isHexDigit(high) || !isHexDigit(low)) {
            throw CryptoPP::InvalidArgument(std::string("hex2sbb: non-hexdigit '") + high + low + "' in input");
        }
        bytes[i] = static_cast<CryptoPP::byte>(hexdigit2int(high) * 16 + hexdigit2int(low));
    }
    return bytes;
}

std::string sbb2hex(const CryptoPP::SecByteBlock& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (CryptoPP::byte b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
    }
    return hex;
}

}  // namespace corvane
