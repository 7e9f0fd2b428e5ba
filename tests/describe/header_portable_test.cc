// The portable header (fixed-width integers, definition order, layout checks): it compiles
// from C and C++, for 32-bit and 64-bit hosts, for the sample and for random typelibs, and a
// typelib whose numbers the declarations do not give makes it fail to compile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/describe/capture.h"
#include "tests/support/random_desc.h"

namespace {

constexpr int kRandomLibs = 24;

// Writes the portable header of `lib` as <dir>/<stem>.h and a C and a C++ unit including it.
void write_units(const std::string &dir, const std::string &stem, const DrLib *lib, std::vector<std::string> &c,
                 std::vector<std::string> &cxx) {
    const std::string header = dir + "/" + stem + ".h";
    ASSERT_EQ(dr_write_header_file_ex(lib, header.c_str(), "", DR_HEADER_PORTABLE), 0);
    for (const char *ext : {".c", ".cc"}) {
        std::ofstream(dir + "/" + stem + ext) << "#include \"" << stem << ".h\"\n";
        (ext[2] ? cxx : c).push_back(dir + "/" + stem + ext);
    }
}

// One compiler run over all units (syntax only); true when every unit compiled.
bool compiles(const std::string &compiler, const std::string &flags, const std::vector<std::string> &units,
              const std::string &log) {
    std::string cmd = "'" + compiler + "' -fsyntax-only -Wall -Wextra -pedantic -Werror " + flags;
    for (const std::string &u : units) cmd += " '" + u + "'";
    return std::system((cmd + " >'" + log + "' 2>&1").c_str()) == 0;
}

// Whether both compilers have their 32-bit headers (gcc-multilib, g++-multilib).
bool has_m32(const std::string &dir) {
    std::ofstream(dir + "/probe.c") << "#include <stdint.h>\n";
    std::ofstream(dir + "/probe.cc") << "#include <cstdint>\n";
    return compiles(C_COMPILER, "-m32", {dir + "/probe.c"}, dir + "/probe.log") &&
           compiles(CXX_COMPILER, "-m32", {dir + "/probe.cc"}, dir + "/probe.log");
}

drtest::Image sample_image() {
    const std::vector<uint8_t> bytes = drtest::read_file(std::string(EXAMPLES_DIR) + "/proto.tlb");
    return drtest::Image(bytes);
}

TEST(PortableHeader, SampleAndRandomTypelibsCompileForEveryHostWithTheirChecks) {
    const std::string dir = drtest::temp_path("portable");
    const std::string home = dir.substr(0, dir.rfind('/'));
    std::vector<std::string> c, cxx;
    drtest::Image sample = sample_image();
    write_units(home, "sample", sample.lib(), c, cxx);
    for (uint32_t seed = 1; seed <= kRandomLibs; ++seed) {
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        write_units(home, "random" + std::to_string(seed), img.lib(), c, cxx);
    }
    // C11 and C++20 check with static assertions, C99 and C++98 with negative array sizes.
    const std::string log = home + "/compile.log";
    EXPECT_TRUE(compiles(C_COMPILER, "-std=c11", c, log)) << drtest::file_text(log);
    EXPECT_TRUE(compiles(CXX_COMPILER, "-std=c++20", cxx, log)) << drtest::file_text(log);
    if (has_m32(home)) {
        EXPECT_TRUE(compiles(C_COMPILER, "-m32 -std=c99", c, log)) << drtest::file_text(log);
        EXPECT_TRUE(compiles(CXX_COMPILER, "-m32 -std=c++98", cxx, log)) << drtest::file_text(log);
    } else {
        std::printf("no -m32 C headers here: the 32-bit compile is left out\n");
    }
}

TEST(PortableHeader, ASkewedLayoutFailsToCompileAtItsCheck) {
    const std::string dir = drtest::temp_path("skew");
    const std::string home = dir.substr(0, dir.rfind('/'));
    drtest::Image img = sample_image();
    img.meta("Ping")->datasize += 4;        // as if the typelib had a wider member than the header
    img.entry("Item", "rarity").off -= 1;   // and a member one byte before where the header puts it
    std::vector<std::string> c, cxx;
    write_units(home, "skewed", img.lib(), c, cxx);
    const std::string log = home + "/skew.log";
    for (const char *std : {"-std=c99", "-std=c11"}) {
        EXPECT_FALSE(compiles(C_COMPILER, std, c, log)) << std;
        const std::string text = drtest::file_text(log);
        EXPECT_NE(text.find("sizeof_PING"), std::string::npos) << text;
        EXPECT_NE(text.find("offset_ITEM_bRarity"), std::string::npos) << text;
    }
    EXPECT_FALSE(compiles(CXX_COMPILER, "-std=c++20", cxx, log));
    EXPECT_NE(drtest::file_text(log).find("sizeof_PING"), std::string::npos) << drtest::file_text(log);
}

// The classic text needs the host's own `long` and typedefs of longlong and ulonglong; the
// portable one names fixed-width types, and flag 0 is the classic text byte for byte.
TEST(PortableHeader, FixedWidthTypesOnlyWhereTheHostCouldDiffer) {
    drtest::Image img = sample_image();
    const std::string classic = drtest::temp_path("classic.h"), portable = drtest::temp_path("portable.h"),
                      zero = drtest::temp_path("classic.h");
    ASSERT_EQ(dr_write_header_file(img.lib(), classic.c_str(), nullptr), 0);
    ASSERT_EQ(dr_write_header_file_ex(img.lib(), zero.c_str(), nullptr, 0), 0);
    ASSERT_EQ(dr_write_header_file_ex(img.lib(), portable.c_str(), nullptr, DR_HEADER_STDINT), 0);
    EXPECT_EQ(drtest::file_text(zero), drtest::file_text(classic));
    const std::string text = drtest::file_text(portable);
    for (const char *host_type : {"\tlong ", "\tunsigned long ", "longlong ", "\tshort ", "\tunsigned int "})
        EXPECT_EQ(text.find(host_type), std::string::npos) << host_type;
    for (const char *line : {"\tint32_t lClientTick;", "\tuint32_t ulFlags;", "\tuint64_t ullSessionId;",
                             "\tint64_t llCoins;", "\tchar szName[MAX_NAME_LEN];", "\tdouble dRttMs;",
                             "\tuint8_t bRarity;", "\tint16_t nHeading;"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_NE(text.find("#define PORTABLE_H\n\n#include <stdint.h>\n\n/* Define Macros. */"), std::string::npos);
}

}  // namespace
