// seeds_compile.cc: seed sources for the compiler target: the lobby sample, complete and
// plain sources of random typelibs, and small sources with macros, unions, escapes and
// 8-bit text.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/random_desc.h"

namespace {

std::vector<uint8_t> bytes(const std::string &s) { return {s.begin(), s.end()}; }

template <class Write>
std::vector<uint8_t> written(Write &&write) {
    FILE *fp = std::tmpfile();
    std::vector<uint8_t> out;
    if (!fp) return out;
    write(fp);
    out.resize(static_cast<size_t>(std::ftell(fp)));
    std::rewind(fp);
    out.resize(std::fread(out.data(), 1, out.size(), fp));
    std::fclose(fp);
    return out;
}

}  // namespace

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::ifstream lobby(EXAMPLES_DIR "/lobby.xml", std::ios::binary);
    std::vector<std::vector<uint8_t>> seeds = {
        {std::istreambuf_iterator<char>(lobby), std::istreambuf_iterator<char>()},
        bytes("<typelib name=\"a&amp;b\" version=\"2\" max_metas=\"3\">\n"
              "<macros><macro name=\"N\" id=\"4\"/><macro name=\"ONE\" id=\"1\"/></macros>\n"
              "<!-- a comment -->\n"
              "<type name=\"U\" id=\"ONE\" class=\"union\" version=\"1\">\n"
              " <item name=\"b\" id=\"2\" type=\"short\" count=\"N\"/>\n"
              " <item name=\"a\" id=\"-1\" type=\"S\" desc=\"&lt;default&gt;\"/>\n"
              "</type>\n"
              "<type name=\"S\" id=\"7\" sizetype=\"ushort\" idxtype=\"3\">\n"
              " <item name=\"n\" type=\"uchar\" io=\"2\"/>\n"
              " <item name=\"v\" type=\"int\" count=\"N\" refer=\"n\" target=\"this\"/>\n"
              "</type>\n"
              "<type name=\"T\" id=\"8\">\n"
              " <item name=\"s\" type=\"ushort\"/><item name=\"h\" type=\"S\"/>\n"
              " <item name=\"u\" type=\"U\" count=\"2\" select=\"s\" refer=\"h.n\" netlen_size=\"2\"/>\n"
              " <item name=\"w\" type=\"S\" netlen_pos=\"0\" netlen_size=\"4\" version=\"ONE\"/>\n"
              "</type>\n"
              "</typelib>\n"),
        bytes("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
              "<typelib name=\"\xD6\xD0\"><type name=\"A\" id=\"1\">"
              "<item name=\"x\" type=\"int\" desc=\"&#233;\xCE\xC4\"/></type></typelib>\n"),
    };
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const drtest::Image image = drtest::build(drtest::random_lib(seed));
        seeds.push_back(written([&](FILE *fp) { dr_print_lib_source(image.lib(), fp); }));
        seeds.push_back(written([&](FILE *fp) { dr_print_lib_xml(image.lib(), fp); }));
    }
    return seeds;
}
