#include "crypto/blake2b.h"

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <cryptopp/blake2.h>
#include <gtest/gtest.h>

#include "crypto_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::fromHex;
using test::textBytes;
using test::toHex;

Bytes counting(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

Bytes oneShot(const Bytes& input, size_t outputSize, const Bytes& key) {
    Bytes digest(outputSize);
    if (!Blake2b::hash(input.data(), input.size(), digest.data(), outputSize, key.data(), key.size())) {
        return {};
    }
    return digest;
}

// RFC 7693 Appendix A, the keyed vectors of the BLAKE2 reference (blake2b-kat.txt, key 00..3f)
// and the sizes this system hashes with (Python's hashlib.blake2b): each back end is reached.
TEST(Blake2bTest, KnownAnswers) {
    struct Case {
        const char* name;
        Bytes input;
        size_t outputSize;
        Bytes key;
        const char* expected;
    };
    Bytes kilobyte;
    for (int round = 0; round < 5; ++round) {
        const Bytes block = counting(256);
        kilobyte.insert(kilobyte.end(), block.begin(), block.end());
    }
    const std::vector<Case> cases = {
        {"rfc7693_abc",
         textBytes("abc"),
         64,
         {},
         "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
         "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923"},
        {"unkeyed_empty",
         Bytes(),
         64,
         {},
         "786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419"
         "d25e1031afee585313896444934eb04b903a685b1448b755d56f701afe9be2ce"},
        {"kat_keyed_empty", Bytes(), 64, counting(64),
         "10ebb67700b1868efb4417987acf4690ae9d972fb7a590c2f02871799aaa4786"
         "b5e996e8f0f4eb981fc214b005f42d2ff4233499391653df7aefcbc13fc51568"},
        {"kat_keyed_one_byte", Bytes(1, 0), 64, counting(64),
         "961f6dd1e4dd30f63901690c512e78e4b45e4742ed197c3c5e45c549fd25f2e4"
         "187b0bc9fe30492b16b0d0bc4ef9b0f34c7003fac09a5ef1532e69430234cebd"},
        {"kat_keyed_255_bytes", counting(255), 64, counting(64),
         "142709d62e28fcccd0af97fad0f8465b971e82201dc51070faa0372aa43e9248"
         "4be1c1e73ba10906d5d1853db6a4106e0a7bf9800d373d6dee2d46d62ef2a461"},
        {"fingerprint_abc", textBytes("abc"), 20, counting(32), "9a44793314a8cd80c4d8dbf3ea3a8ab62c65ea6a"},
        {"fingerprint_empty", Bytes(), 20, counting(32), "6fc1ea081256429020c89c3df5eac0b2a384d570"},
        {"fingerprint_several_blocks", kilobyte, 20, counting(32), "77a8c8445e6ce9f938b63057360fb203f49c82a6"},
        {"strong_sum_abc",
         textBytes("abc"),
         32,
         {},
         "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319"},
        {"strong_sum_empty", Bytes(), 32, {}, "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8"},
        {"strong_sum_256_bytes",
         counting(256),
         32,
         {},
         "39a7eb9fedc19aabc83425c6755dd90e6f9d0c804964a1f4aaeea3b9fb599835"},
        {"unkeyed_one_byte_digest", textBytes("abc"), 1, {}, "6b"},
        {"one_byte_key_and_digest", textBytes("abc"), 1, Bytes(1, 1), "c4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(oneShot(c.input, c.outputSize, c.key)), c.expected);
        // The same bytes a byte at a time.
        Blake2b hash(c.outputSize, c.key.data(), c.key.size());
        ASSERT_TRUE(hash.isValid());
        for (uint8_t b : c.input) {
            ASSERT_TRUE(hash.update(&b, 1));
        }
        Bytes digest(hash.outputSize());
        ASSERT_TRUE(hash.final(digest.data()));
        EXPECT_EQ(toHex(digest), c.expected);
    }
}

TEST(Blake2bTest, RefusesWhatBlake2bCannotDo) {
    const Bytes key(65, 7);
    struct Case {
        const char* name;
        size_t outputSize;
        const uint8_t* key;
        size_t keySize;
    };
    const std::vector<Case> cases = {
        {"no_output", 0, nullptr, 0},
        {"output_above_64", 65, nullptr, 0},
        {"keyed_output_above_64", 65, key.data(), 32},
        {"key_above_64", 32, key.data(), 65},
        {"key_size_without_key", 32, nullptr, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Blake2b hash(c.outputSize, c.key, c.keySize);
        EXPECT_FALSE(hash.isValid());
        const uint8_t byte = 1;
        EXPECT_FALSE(hash.update(&byte, 1));
        Bytes out(80);
        EXPECT_FALSE(hash.final(out.data()));
        EXPECT_FALSE(Blake2b::hash(&byte, 1, out.data(), c.outputSize, c.key, c.keySize));
    }
}

TEST(Blake2bTest, NothingFollowsTheFinalDigest) {
    for (size_t keySize : {0, 32}) {
        for (size_t outputSize : {20, 32, 64}) {
            SCOPED_TRACE(std::to_string(keySize) + " byte key, " + std::to_string(outputSize) + " byte digest");
            const Bytes key = counting(keySize);
            Blake2b hash(outputSize, key.data(), key.size());
            const uint8_t byte = 1;
            ASSERT_TRUE(hash.update(&byte, 1));
            Bytes out(outputSize);
            ASSERT_TRUE(hash.final(out.data()));
            EXPECT_FALSE(hash.update(&byte, 1));
            EXPECT_FALSE(hash.final(out.data()));
            EXPECT_FALSE(hash.update(nullptr, 5));
        }
    }
}

// The crypto loop and the filesystem loops hash at the same time: objects on different
// threads share nothing that changes their digests.
TEST(Blake2bTest, ThreadsHashingAtOnceAgree) {
    const Bytes data = test::pattern(300000, 3);
    const Bytes key = counting(32);
    const Bytes keyed = oneShot(data, 20, key);
    const Bytes strongSum = oneShot(data, 32, {});
    const Bytes wide = oneShot(data, 64, {});
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                mismatches[t] += oneShot(data, 20, key) != keyed;
                mismatches[t] += oneShot(data, 32, {}) != strongSum;
                mismatches[t] += oneShot(data, 64, {}) != wide;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(mismatches.size(), 0));
}

// Crypto++'s BLAKE2b, an implementation independent of both back ends, over random keys,
// digest sizes and lengths around the 128-byte block, each fed in random pieces.
TEST(Blake2bTest, MatchesCryptoppOverRandomKeysLengthsAndSplits) {
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto below = [&](size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(random); };

    struct Shape {
        size_t keySize;
        size_t outputSize;
    };
    for (size_t length : {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{129}, size_t{(1 << 20) + 1}}) {
        Bytes input(length);
        for (uint8_t& b : input) {
            b = static_cast<uint8_t>(random());
        }
        // The fingerprint's and the strong sums' shapes, the 64-byte extremes, then random ones.
        std::vector<Shape> shapes = {{32, 20}, {0, 32}, {0, 64}, {64, 64}, {1, 1}};
        for (int i = 0; i < 4; ++i) {
            shapes.push_back({below(65), 1 + below(64)});
        }
        for (const Shape& shape : shapes) {
            Bytes key(shape.keySize);
            for (uint8_t& b : key) {
                b = static_cast<uint8_t>(random());
            }
            std::vector<size_t> cuts;
            const size_t pieces = below(6);
            for (size_t i = 0; i < pieces; ++i) {
                cuts.push_back(below(length + 1));
            }
            std::sort(cuts.begin(), cuts.end());
            cuts.push_back(length);
            SCOPED_TRACE("length " + std::to_string(length) + ", key " + std::to_string(shape.keySize) + ", digest " +
                         std::to_string(shape.outputSize) + ", pieces " + std::to_string(cuts.size()));

            CryptoPP::BLAKE2b reference(key.empty() ? nullptr : key.data(), key.size(), nullptr, 0, nullptr, 0, false,
                                        static_cast<unsigned int>(shape.outputSize));
            reference.Update(input.data(), input.size());
            Bytes expected(shape.outputSize);
            reference.Final(expected.data());

            Blake2b hash(shape.outputSize, key.data(), key.size());
            ASSERT_TRUE(hash.isValid());
            size_t start = 0;
            for (size_t cut : cuts) {
                ASSERT_TRUE(hash.update(input.data() + start, cut - start));
                start = cut;
            }
            Bytes digest(shape.outputSize);
            ASSERT_TRUE(hash.final(digest.data()));
            EXPECT_EQ(toHex(digest), toHex(expected));
            EXPECT_EQ(toHex(oneShot(input, shape.outputSize, key)), toHex(expected));
        }
    }
}

}  // namespace
}  // namespace corvane
