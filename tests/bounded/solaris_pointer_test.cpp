// The Solaris build prints a pointer as its bare lower-case hexadecimal
// digits: no "0x" prefix (not even with '#'), a null pointer as "0".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "boundedfunc.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"

std::string Format(const char* format, const void* pointer) {
    char dest[64];
    int ret = sprintf_s(dest, sizeof(dest), format, pointer);
    EXPECT_EQ(ret, static_cast<int>(std::string(dest).size()));
    return dest;
}

#pragma GCC diagnostic pop

TEST(SolarisPointer, BareLowerCaseDigits) {
    const void* pointer = reinterpret_cast<const void*>(uintptr_t{0xABCDEF12});
    EXPECT_EQ(Format("%p", pointer), "abcdef12");
    EXPECT_EQ(Format("%#p", pointer), "abcdef12");
    EXPECT_EQ(Format("[%12p]", pointer), "[    abcdef12]");
    EXPECT_EQ(Format("[%-10p]", pointer), "[abcdef12  ]");
}

TEST(SolarisPointer, NullIsZero) {
    EXPECT_EQ(Format("%p", nullptr), "0");
    EXPECT_EQ(Format("[%4p]", nullptr), "[   0]");
}

TEST(SolarisPointer, OtherConversionsUnchanged) {
    char dest[32];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "%#x|%d", 255U, -7), 7);
    EXPECT_STREQ(dest, "0xff|-7");
}

}  // namespace
