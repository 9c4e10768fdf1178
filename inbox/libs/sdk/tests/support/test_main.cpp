#include <gmock/gmock.h>

#include "support/log_capture.h"

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    corvane::test::installDefaultTestLogger();
    return RUN_ALL_TESTS();
}
