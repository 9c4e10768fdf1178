#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/cloud.h"
#include "cloud/node_order.h"
#include "database/mutable_node_data.h"

namespace corvane {
namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

int natural(const std::string& left, const std::string& right) {
    return sign(naturalCompare(left.data(), left.data() + left.size(), right.data(), right.data() + right.size()));
}

struct CompareCase {
    const char* name;
    std::string left;
    std::string right;
    int expected;
};

class NaturalCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(NaturalCompareTest, ComparesBothWays) {
    const CompareCase& c = GetParam();
    EXPECT_EQ(natural(c.left, c.right), c.expected);
    EXPECT_EQ(natural(c.right, c.left), -c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, NaturalCompareTest,
    ::testing::Values(
        CompareCase{"DigitsByValue", "file 2", "file 10", -1}, CompareCase{"CaseIgnored", "File2", "file2", 0},
        CompareCase{"LeadingZerosIgnored", "x09", "x9", 0}, CompareCase{"NineBeforeTen", "x9", "x10", -1},
        CompareCase{"SpaceRunIsOneSpace", "a  b", "a b", 0}, CompareCase{"LeadingSpaceNotSkipped", " a", "a", -1},
        CompareCase{"SpaceOnOneSideOnly", "a b", "ab", -1}, CompareCase{"PrefixFirst", "a", "a b", -1},
        CompareCase{"TrailingSpaceCounts", "a", "a ", -1},
        // Trailing runs collapse like inner ones, from either side.
        CompareCase{"TrailingSpaceRun", "a  ", "a ", 0}, CompareCase{"FractionTrailingZero", "1.5", "1.50", 0},
        CompareCase{"FractionLeadingZero", "1.05", "1.5", -1}, CompareCase{"FractionLonger", "1.51", "1.5", 1},
        CompareCase{"RunAtStartIsInteger", "05", "5", 0},
        CompareCase{"NonAsciiBeforeAscii", "\xc3\xa9t\xc3\xa9", "a", -1}, CompareCase{"BothEmpty", "", "", 0},
        CompareCase{"EmptyFirst", "", "a", -1}, CompareCase{"DigitBeforeLetter", "1", "a", -1},
        CompareCase{"PunctuationBeforeDigit", "-", "0", -1}),
    [](const ::testing::TestParamInfo<CompareCase>& info) { return std::string(info.param.name); });

std::shared_ptr<NodeData> node(int32_t type, const char* name, int64_t creationTime = 0, uint64_t size = 0) {
    auto n = std::make_shared<MutableNodeData>();
    n->setType(type);
    n->setName(name);
    n->setCreationTime(creationTime);
    n->setSize(size);
    return n;
}

std::vector<std::string> namesOf(const NodeList& list) {
    std::vector<std::string> names;
    for (const auto& n : list) {
        names.push_back(n->getName());
    }
    return names;
}

constexpr int32_t kFolder = 21;
constexpr int32_t kFile = 20;

TEST(SortNodesTest, ContainersFirstInEitherDirection) {
    auto list = std::make_shared<NodeList>(
        NodeList{node(kFile, "d"), node(kFolder, "b"), node(kFile, "c"), node(kFolder, "a")});
    Cloud::sortNodes(list, 1);
    EXPECT_EQ(namesOf(*list), (std::vector<std::string>{"a", "b", "c", "d"}));
    Cloud::sortNodes(list, -1);
    EXPECT_EQ(namesOf(*list), (std::vector<std::string>{"b", "a", "d", "c"}));
}

TEST(SortNodesTest, CodesOutsideTheTableLeaveTheListAlone) {
    for (int32_t code : {0, 7, -7, 100}) {
        auto list = std::make_shared<NodeList>(NodeList{node(kFile, "b"), node(kFolder, "a"), node(kFile, "a")});
        const NodeList before = *list;
        Cloud::sortNodes(list, code);
        EXPECT_EQ(*list, before) << code;
    }
    Cloud::sortNodes(nullptr, 1);
}

TEST(SortNodesTest, EqualNamesFollowAddressOrder) {
    NodeList list{node(kFile, "x10"), node(kFile, "x9"), node(kFile, "x09")};
    const NodeData* nine = list[1].get();
    const NodeData* zeroNine = list[2].get();
    sortNodeList(list, 1);
    EXPECT_EQ(list[2]->getNameString(), "x10");
    EXPECT_EQ(list[0].get(), std::min(nine, zeroNine, std::less<const NodeData*>()));
    sortNodeList(list, -1);
    EXPECT_EQ(list[0]->getNameString(), "x10");
    EXPECT_EQ(list[1].get(), std::max(nine, zeroNine, std::less<const NodeData*>()));
}

TEST(SortNodesTest, CaseInsensitiveOrderAndNonAscii) {
    NodeList list{node(kFile, "b"), node(kFile, "A"), node(kFile, "a")};
    sortNodeList(list, 3);
    EXPECT_EQ(list[2]->getNameString(), "b");

    // A first byte above 127 sorts before "a" naturally and after "z" case-insensitively.
    NodeList names{node(kFile, "z"), node(kFile, "\xc3\xa9"), node(kFile, "a")};
    sortNodeList(names, 1);
    EXPECT_EQ(namesOf(names), (std::vector<std::string>{"\xc3\xa9", "a", "z"}));
    sortNodeList(names, 3);
    EXPECT_EQ(namesOf(names), (std::vector<std::string>{"a", "z", "\xc3\xa9"}));
}

TEST(SortNodesTest, CreationTimeAndSize) {
    NodeList list{node(kFile, "a", 30, 5), node(kFolder, "f", 99, 0), node(kFile, "b", 10, 500),
                  node(kFile, "c", 20, 50)};
    NodeList byFour = list;
    NodeList byFive = list;
    sortNodeList(byFour, 4);
    sortNodeList(byFive, 5);
    EXPECT_EQ(byFour, byFive);
    EXPECT_EQ(namesOf(byFour), (std::vector<std::string>{"f", "b", "c", "a"}));
    sortNodeList(list, -6);
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"f", "b", "c", "a"}));
}

// Keys far apart: a subtraction would overflow and make the order cyclic.
TEST(SortNodesTest, ExtremeKeysStayTransitive) {
    auto low = node(kFile, "low", INT64_MIN + 1, 0);
    auto mid = node(kFile, "mid", 0, UINT64_MAX / 2 + 2);
    auto high = node(kFile, "high", INT64_MAX, UINT64_MAX);
    for (int32_t code : {4, -4, 6, -6}) {
        const NodeOrder order(code);
        const bool lm = order(low.get(), mid.get());
        const bool mh = order(mid.get(), high.get());
        const bool lh = order(low.get(), high.get());
        EXPECT_EQ(lm, mh) << code;
        EXPECT_EQ(lh, lm) << code;
    }
    NodeList list{high, low, mid};
    sortNodeList(list, 6);
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"low", "mid", "high"}));
}

// Names from a small alphabet that makes ties, digit runs, fractions, case and space runs
// frequent, empty names included.
std::vector<std::string> generatedNames(size_t count, uint32_t seed) {
    static const char kAlphabet[] = {'a', 'A', 'b', '0', '1', '9', ' ', '.', '-', 'z', '\xc3', '\x7f'};
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> length(0, 6);
    std::uniform_int_distribution<size_t> pick(0, sizeof(kAlphabet) - 1);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        std::string name;
        const size_t n = length(random);
        for (size_t k = 0; k < n; ++k) {
            name.push_back(kAlphabet[pick(random)]);
        }
        names.push_back(name);
    }
    names.insert(names.end(), {"", " ", "  ", "a ", "a  ", "1.5", "1.50", "1.05", "007", "7", "x9", "x09"});
    return names;
}

TEST(NaturalComparePropertyTest, ConsistentThreeWayOrder) {
    const std::vector<std::string> names = generatedNames(160, 11);
    const size_t n = names.size();
    std::vector<std::vector<int>> r(n, std::vector<int>(n));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            r[i][j] = natural(names[i], names[j]);
        }
    }
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(r[i][i], 0) << '"' << names[i] << '"';
        for (size_t j = 0; j < n; ++j) {
            ASSERT_EQ(r[i][j], -r[j][i]) << '"' << names[i] << "\" \"" << names[j] << '"';
            for (size_t k = 0; k < n; ++k) {
                // Transitive for "before" and for "equal", and consistent between the two.
                if (r[i][j] <= 0 && r[j][k] <= 0) {
                    ASSERT_LE(r[i][k], 0) << '"' << names[i] << "\" \"" << names[j] << "\" \"" << names[k] << '"';
                    if (r[i][j] < 0 || r[j][k] < 0) {
                        ASSERT_LT(r[i][k], 0) << '"' << names[i] << "\" \"" << names[j] << "\" \"" << names[k] << '"';
                    }
                }
            }
        }
    }
}

// The node comparator for every order code: irreflexive, antisymmetric and transitive, with
// the address tie-break making it total.
TEST(NodeOrderPropertyTest, StrictWeakOrderingForEveryCode) {
    const std::vector<std::string> names = generatedNames(60, 5);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> small(0, 3);
    NodeList nodes;
    for (size_t i = 0; i < names.size(); ++i) {
        nodes.push_back(node(small(random) == 0 ? kFile : kFolder, names[i].c_str(), small(random) * 1000,
                             static_cast<uint64_t>(small(random))));
    }
    const size_t n = nodes.size();
    for (int32_t code = -6; code <= 6; ++code) {
        if (code == 0) {
            continue;
        }
        const NodeOrder order(code);
        std::vector<std::vector<char>> less(n, std::vector<char>(n));
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) {
                less[i][j] = order(nodes[i].get(), nodes[j].get());
            }
        }
        for (size_t i = 0; i < n; ++i) {
            ASSERT_FALSE(less[i][i]) << code;
            for (size_t j = 0; j < n; ++j) {
                if (i != j) {
                    ASSERT_NE(less[i][j], less[j][i]) << code << " " << i << " " << j;
                }
                if (!less[i][j]) {
                    continue;
                }
                for (size_t k = 0; k < n; ++k) {
                    if (less[j][k]) {
                        ASSERT_TRUE(less[i][k]) << code << " " << i << " " << j << " " << k;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace corvane
