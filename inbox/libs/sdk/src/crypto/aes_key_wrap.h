#pragma once

// AES key wrap (RFC 3394) and its padded variant (RFC 5649). Every failure raises
// CryptoPP::Exception with a fixed message; callers at the crypto edge turn it into a null
// result.

#include <string>

#include <cryptopp/secblock.h>

namespace corvane {

// Wraps key under kek into output: 8 bytes longer than the key (padded to a multiple of 8
// first when padding is on). Inputs are taken by value so that the copies are wiped on return.
void aesKeyWrap(CryptoPP::SecByteBlock key, CryptoPP::SecByteBlock kek, CryptoPP::SecByteBlock& output, bool padding);

// Unwraps wrapped under kek into output, checking the integrity value. output is left as it
// was on failure.
void aesKeyUnwrap(CryptoPP::SecByteBlock wrapped, CryptoPP::SecByteBlock kek, CryptoPP::SecByteBlock& output,
                  bool padding);

// Hexadecimal text (either case) to bytes.
CryptoPP::SecByteBlock hex2sbb(const std::string& hex);

// One hexadecimal digit to 0..15.
int hexdigit2int(char digit);

// Bytes to upper-case hexadecimal text.
std::string sbb2hex(const CryptoPP::SecByteBlock& bytes);

}  // namespace corvane
