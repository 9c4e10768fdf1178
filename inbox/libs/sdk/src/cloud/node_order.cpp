#include "cloud/node_order.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

constexpr char kSpace = ' ';
constexpr char kFullStop = '.';

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

signed char fold(char c) {
    if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c - 'A' + 'a');
    }
    return static_cast<signed char>(c);
}

const char* runEnd(const char* p, const char* end) {
    while (p != end && isDigit(*p)) {
        ++p;
    }
    return p;
}

// Digits after a full stop: compared digit by digit, trailing zeros not counting.
int compareFraction(const char* l, const char* lEnd, const char* r, const char* rEnd) {
    for (; l != lEnd && r != rEnd; ++l, ++r) {
        if (*l != *r) {
            return *l < *r ? -1 : 1;
        }
    }
    for (; l != lEnd; ++l) {
        if (*l != '0') {
            return 1;
        }
    }
    for (; r != rEnd; ++r) {
        if (*r != '0') {
            return -1;
        }
    }
    return 0;
}

// Digits as an integer: leading zeros skipped, then the longer run is greater.
int compareInteger(const char* l, const char* lEnd, const char* r, const char* rEnd) {
    while (l != lEnd && *l == '0') {
        ++l;
    }
    while (r != rEnd && *r == '0') {
        ++r;
    }
    const auto lLength = lEnd - l;
    const auto rLength = rEnd - r;
    if (lLength != rLength) {
        return lLength < rLength ? -1 : 1;
    }
    for (; l != lEnd; ++l, ++r) {
        if (*l != *r) {
            return *l < *r ? -1 : 1;
        }
    }
    return 0;
}

}  // namespace

int naturalCompare(const char* leftBegin, const char* leftEnd, const char* rightBegin, const char* rightEnd) {
    if (leftBegin == leftEnd) {
        return rightBegin == rightEnd ? 0 : -1;
    }
    const char* i = leftBegin;
    const char* j = rightBegin;
    bool skipLeft = false;
    bool skipRight = false;
    while (true) {
        // The extra spaces of a run are passed over before either end is looked at: checking
        // the right end first would make "a  " greater than "a " while "a " equals "a  ".
        if (skipLeft) {
            while (i != leftEnd && *i == kSpace) {
                ++i;
            }
        }
        if (skipRight) {
            while (j != rightEnd && *j == kSpace) {
                ++j;
            }
        }
        if (i == leftEnd) {
            return j == rightEnd ? 0 : -1;
        }
        if (j == rightEnd) {
            return 1;
        }
        const char cl = *i;
        const char cr = *j;
        skipLeft = cl == kSpace;
        skipRight = cr == kSpace;
        if (isDigit(cl) && isDigit(cr)) {
            const char* lRun = runEnd(i, leftEnd);
            const char* rRun = runEnd(j, rightEnd);
            // The texts before the runs compared equal, so a full stop stands before both or neither.
            const bool fraction = i != leftBegin && j != rightBegin && i[-1] == kFullStop && j[-1] == kFullStop;
            const int result = fraction ? compareFraction(i, lRun, j, rRun) : compareInteger(i, lRun, j, rRun);
            if (result != 0) {
                return result;
            }
            i = lRun;
            j = rRun;
        } else {
            const signed char fl = fold(cl);
            const signed char fr = fold(cr);
            if (fl != fr) {
                return fl < fr ? -1 : 1;
            }
            ++i;
            ++j;
        }
    }
}

int caseInsensitiveCompare(const char* left, const char* right) {
    auto lower = [](unsigned char c) -> unsigned char { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    const auto* l = reinterpret_cast<const unsigned char*>(left);
    const auto* r = reinterpret_cast<const unsigned char*>(right);
    while (true) {
        const unsigned char a = lower(*l);
        const unsigned char b = lower(*r);
        if (a != b || a == 0) {
            return static_cast<int>(a) - static_cast<int>(b);
        }
        ++l;
        ++r;
    }
}

bool NodeOrder::operator()(const NodeData* a, const NodeData* b) const {
    const bool aFile = a->isFile();
    const bool bFile = b->isFile();
    if (aFile != bFile) {
        return bFile;
    }
    int r = 0;
    switch (code_ < 0 ? -code_ : code_) {
        case 1:
        case 2: {
            const char* an = a->getName();
            const char* bn = b->getName();
            r = naturalCompare(an, an + std::strlen(an), bn, bn + std::strlen(bn));
            break;
        }
        case 3:
            r = caseInsensitiveCompare(a->getName(), b->getName());
            break;
        case 4:
        case 5:
            // Compared, not subtracted: a difference can overflow and break transitivity.
            r = a->getCreationTime() < b->getCreationTime() ? -1
                                                            : (a->getCreationTime() > b->getCreationTime() ? 1 : 0);
            break;
        case 6:
            r = a->getSize() < b->getSize() ? -1 : (a->getSize() > b->getSize() ? 1 : 0);
            break;
        default:
            break;
    }
    if (r != 0) {
        return code_ > 0 ? r < 0 : r > 0;
    }
    return code_ > 0 ? std::less<const NodeData*>()(a, b) : std::less<const NodeData*>()(b, a);
}

void sortNodeList(NodeList& list, int32_t code) {
    if (list.size() < 2 || code == 0 || code < -6 || code > 6) {
        return;
    }
    const NodeOrder order(code);
    std::sort(list.begin(), list.end(),
              [&order](const std::shared_ptr<NodeData>& a, const std::shared_ptr<NodeData>& b) {
                  return order(a.get(), b.get());
              });
}

}  // namespace corvane
