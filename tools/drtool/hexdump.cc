// hexdump.cc: the hex dump that stands in for binary output on a terminal.
#include "tools/drtool/hexdump.h"

#include <cstring>

namespace drtool {

void hex_dump(FILE *fp, const char *data, size_t size) {
    constexpr size_t kLine = 16;
    bool skipping = false;
    for (size_t at = 0; at < size; at += kLine) {
        const size_t n = size - at < kLine ? size - at : kLine;
        // A full line equal to the previous one, unless it is the last, folds into "*".
        if (at > 0 && n == kLine && at + kLine < size && std::memcmp(data + at, data + at - kLine, kLine) == 0) {
            if (!skipping) std::fputs("*\n", fp);
            skipping = true;
            continue;
        }
        skipping = false;
        std::fprintf(fp, "%08lx ", static_cast<unsigned long>(at));
        for (size_t i = 0; i < kLine; ++i) {
            if (i % 8 == 0) std::fputc(' ', fp);
            if (i < n)
                std::fprintf(fp, "%02x ", static_cast<unsigned char>(data[at + i]));
            else
                std::fputs("   ", fp);
        }
        std::fputs(" |", fp);
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(data[at + i]);
            std::fputc(c >= 32 && c < 127 ? c : '.', fp);
        }
        std::fputs("|\n", fp);
    }
    std::fprintf(fp, "%lu byte%s\n", static_cast<unsigned long>(size), size == 1 ? "" : "s");
}

}  // namespace drtool
