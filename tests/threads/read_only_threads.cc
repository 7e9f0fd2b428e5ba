// read_only_threads.cc: four threads share one loaded image and run every read-only
// operation on it at once: lookups, encode and decode, the text and XML renderers, the
// summary, the XML description, the C header and member paths. Built with ThreadSanitizer
// by the test command, so a data race is a report; in every build each thread's output
// must equal the output of the same work done alone.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dr/dr.h"
#include "tests/support/image_builder.h"
#include "dr/typelib/image.h"

namespace {

// A committed host record, as the codec takes it.
std::vector<char> host_record(const std::string &path) {
    const std::vector<uint8_t> bytes = drtest::read_file(path);
    return {bytes.begin(), bytes.end()};
}

const DrLib *g_lib = nullptr;
std::vector<std::vector<char>> g_hosts;  // the sample's Message records

// Runs `write` on a memory stream and returns what it wrote.
template <class Write>
std::string captured(Write &&write) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    write(fp);
    std::fclose(fp);
    std::string out(buf, len);
    std::free(buf);
    return out;
}

// One record of `meta` walked every way; the outcome appended to `out`.
void walk_record(const DrMeta *meta, std::vector<char> host, std::string &out) {
    std::vector<char> net(8192), text(4096), back(host.size());
    DrBuffer n{net.data(), static_cast<int>(net.size())}, h{host.data(), static_cast<int>(host.size())};
    out += std::to_string(dr_host_to_net(meta, &n, &h, 0));
    DrBuffer in{net.data(), n.len}, b{back.data(), static_cast<int>(back.size())};
    out += std::to_string(dr_net_to_host(meta, &b, &in, 0)) + std::string(back.begin(), back.end());
    DrBuffer o{text.data(), static_cast<int>(text.size())};
    h = {host.data(), static_cast<int>(host.size())};
    dr_sprint_data(meta, &o, &h, 0);
    out += text.data();
    o = {text.data(), static_cast<int>(text.size())};
    h = {host.data(), static_cast<int>(host.size())};
    dr_sprint_data_xml(meta, &o, &h, 0);
    out += text.data();
    out += captured([&](FILE *fp) {
        DrBuffer hh{host.data(), static_cast<int>(host.size())};
        dr_print_data(meta, fp, &hh, 1);
        dr_print_data_xml(meta, fp, &hh, 0);
    });
}

// Everything that reads the image, once; returns all of its output.
std::string read_everything() {
    std::string out;
    const DrLibHeader *h = dr::header(g_lib);
    for (int32_t row = 0; row < h->meta_count; ++row) {
        const DrMeta *m = dr::meta_of_row(g_lib, row), *found = nullptr;
        out += std::to_string(dr_meta_by_name(g_lib, m->name, &found)) + (found == m ? "=" : "!");
        out += std::to_string(dr_meta_by_id(g_lib, m->id, &found)) + (found == m ? "=" : "!");
        for (int32_t k = 0; k < m->count; ++k) {
            int pos = 0;
            out += std::to_string(dr_entry_by_id(m, m->entries[k].id, &pos)) + std::to_string(pos);
            char path[64];
            dr_sprint_member_path(m, k, m->entries[k].refer_off, path, sizeof path);
            out += path;
        }
        walk_record(m, std::vector<char>(static_cast<size_t>(m->datasize), 0), out);
        out += captured([&](FILE *fp) {
            dr_write_struct_decl(m, fp, "m_");
            if (m->count > 0) dr_print_member_path(m, 0, 0, fp);
        });
    }
    const DrMeta *message = nullptr;
    if (dr_meta_by_name(g_lib, "Message", &message) == 0)
        for (const std::vector<char> &host : g_hosts) walk_record(message, host, out);
    int value = 0;
    out += std::to_string(dr_macro_by_name(g_lib, "MAX_ITEMS", &value)) + std::to_string(value);
    out += captured([](FILE *fp) {
        dr_print_lib_summary(fp, g_lib);
        dr_print_lib_xml(g_lib, fp);
    });
    std::vector<char> xml(1 << 16);
    int len = static_cast<int>(xml.size());
    dr_sprint_lib_xml(g_lib, xml.data(), &len);
    out.append(xml.data(), static_cast<size_t>(len));
    return out;
}

}  // namespace

int main() {
    const std::string dir = EXAMPLES_DIR;
    DrLib *lib = nullptr;
    if (dr_load_lib_file(&lib, (dir + "/proto.tlb").c_str()) != 0) {
        std::fprintf(stderr, "cannot load %s/proto.tlb\n", dir.c_str());
        return 1;
    }
    g_lib = lib;
    for (const char *name : {"login", "chat", "roster", "ping"}) g_hosts.push_back(host_record(dir + "/" + name + ".host"));

    const std::string alone = read_everything();
    constexpr int kThreads = 4, kRounds = 200;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) mismatches[t] += read_everything() != alone;
        });
    for (std::thread &th : threads) th.join();
    dr_free_lib(lib);
    int bad = 0;
    for (int t = 0; t < kThreads; ++t) bad += mismatches[t];
    std::printf("%d threads x %d rounds over one image: %d outputs differ from the single-threaded run\n", kThreads,
                kRounds, bad);
    return bad == 0 && alone.size() > 1000 ? 0 : 1;
}
