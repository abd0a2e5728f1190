#include <gtest/gtest.h>

#include <clocale>

#include "look/look.h"
#include "support/support.h"

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    // Death tests fork; "threadsafe" re-executes the binary so worker pools are fresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    installLook(Look::parse(readFile(shippedLook())));
    return RUN_ALL_TESTS();
}
