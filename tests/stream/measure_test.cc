// Properties of measuring records in a stream, against the decoder as the oracle: a whole
// record is measured at its decoded length, a cut one is never taken for a shorter record and
// asks for no more bytes than the record has, and bytes the decoder refuses are never a record.
#include <gtest/gtest.h>

#include <random>

#include "dr/dr_stream.h"
#include "tests/support/image_builder.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

struct Measured {
    int status;
    int32_t len;
    DrError err;
};

Measured measure(const DrMeta *meta, const std::vector<uint8_t> &net, size_t from, size_t to, int version) {
    Measured m{};
    m.status = dr_measure_record(meta, reinterpret_cast<const char *>(net.data()) + from,
                                 static_cast<int32_t>(to - from), version, &m.len, &m.err);
    return m;
}

// What the decoder says of `n` bytes at `from` into a zeroed host record: success and consumed bytes.
drtest::Decoded decode_at(const DrMeta *meta, const std::vector<uint8_t> &net, size_t from, size_t n, int version) {
    return drtest::decode(meta, std::vector<uint8_t>(net.begin() + from, net.begin() + from + n), version,
                          std::max(meta->datasize, 0));
}

// A stream of random records of one random description, with each record's offset. Records
// that do not come back from their own bytes (a length field too narrow for its element) are
// left out: they are no record of the stream.
struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> starts;  // and bytes.size() at the end
};

Stream make_stream(const DrMeta *top, uint32_t seed, int version, int records) {
    Stream s;
    for (int r = 0; r < records; ++r) {
        const std::vector<char> host = drtest::random_host(top, seed * 1000 + static_cast<uint32_t>(r));
        const drtest::Encoded enc = drtest::encode(top, host, version, 1 << 16);
        if (enc.rc != 0 || enc.net_len == 0) continue;
        const drtest::Decoded back = drtest::decode(top, enc.net, version, top->datasize);
        if (back.rc != 0 || back.net_len != enc.net_len) continue;
        s.starts.push_back(s.bytes.size());
        s.bytes.insert(s.bytes.end(), enc.net.begin(), enc.net.end());
    }
    s.starts.push_back(s.bytes.size());
    return s;
}

TEST(MeasureProperty, StreamsOfRandomRecordsCutAnywhere) {
    int64_t records = 0, cuts = 0;
    for (uint32_t seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const int version = static_cast<int>(seed % 4);
        const Stream s = make_stream(top, seed, version, 4);
        for (size_t r = 0; r + 1 < s.starts.size(); ++r) {
            const size_t start = s.starts[r], end = s.starts[r + 1];
            SCOPED_TRACE("record at " + std::to_string(start));
            // Whole, with the rest of the stream behind it: its own length.
            const Measured whole = measure(top, s.bytes, start, s.bytes.size(), version);
            ASSERT_EQ(whole.status, DR_STREAM_RECORD) << whole.err.text;
            ASSERT_EQ(static_cast<size_t>(whole.len), end - start);
            // It comes back exactly: its bytes alone decode to a record that encodes to them.
            const drtest::Decoded d = decode_at(top, s.bytes, start, end - start, version);
            ASSERT_EQ(d.rc, 0);
            ASSERT_EQ(drtest::encode(top, d.host, version, 1 << 16).net,
                      std::vector<uint8_t>(s.bytes.begin() + start, s.bytes.begin() + end));
            ++records;
            // Cut at every point: never a record, and never more asked for than the record has.
            const size_t step = end - start > 400 ? (end - start) / 200 : 1;
            for (size_t cut = start; cut < end; cut += step) {
                const Measured m = measure(top, s.bytes, start, cut, version);
                ASSERT_EQ(m.status, DR_STREAM_MORE) << "cut at " << cut << ": " << m.err.text;
                ASSERT_GT(static_cast<size_t>(m.len), cut - start);
                ASSERT_LE(static_cast<size_t>(m.len), end - start) << "cut at " << cut;
                ++cuts;
            }
            // A reader fed the record a byte at a time walks it only when the bytes asked for have come.
            DrStreamReader reader;
            ASSERT_EQ(dr_stream_reader_init(&reader, top, version, nullptr, 0), 0);
            int status = DR_STREAM_MORE;
            int32_t len = 0;
            for (size_t have = start; status == DR_STREAM_MORE && have <= end; ++have)
                status = dr_stream_reader_measure(&reader, reinterpret_cast<const char *>(s.bytes.data()) + start,
                                                  static_cast<int32_t>(have - start), &len, nullptr);
            ASSERT_EQ(status, DR_STREAM_RECORD);
            ASSERT_EQ(static_cast<size_t>(len), end - start);
        }
    }
    EXPECT_GT(records, 400);
    EXPECT_GT(cuts, 20000);
}

// Random damage: whatever measuring says agrees with the decoder over the same bytes.
TEST(MeasureProperty, DamagedBytesAreNeverTakenForARecord) {
    int64_t bad = 0, taken = 0;
    std::mt19937 rng(7);
    for (uint32_t seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const int version = static_cast<int>(seed % 4);
        const Stream s = make_stream(top, seed, version, 1);
        if (s.bytes.empty()) continue;
        for (int trial = 0; trial < 40; ++trial) {
            std::vector<uint8_t> net = s.bytes;
            for (int k = 0; k < 1 + trial % 3; ++k) net[rng() % net.size()] = static_cast<uint8_t>(rng());
            for (size_t cut : {net.size(), net.size() / 2, net.size() - 1}) {
                const Measured m = measure(top, net, 0, cut, version);
                const drtest::Decoded d = decode_at(top, net, 0, cut, version);
                if (m.status == DR_STREAM_RECORD) {
                    // A record is exactly what the decoder takes from its own bytes.
                    ASSERT_LE(static_cast<size_t>(m.len), cut);
                    const drtest::Decoded own = decode_at(top, net, 0, static_cast<size_t>(m.len), version);
                    ASSERT_EQ(own.rc, 0);
                    ASSERT_EQ(own.net_len, m.len);
                    ++taken;
                } else if (m.status == DR_STREAM_MORE) {
                    // A cut record is nothing the decoder accepts.
                    ASSERT_NE(d.rc, 0) << "cut at " << cut;
                    ASSERT_GT(static_cast<size_t>(m.len), cut);
                } else {
                    ASSERT_EQ(m.status, DR_STREAM_BAD);
                    ASSERT_NE(m.err.code, DR_OK);
                    ASSERT_NE(m.err.code, DR_E_NET_END);
                    // Bad bytes are nothing the decoder accepts; or the record reads bytes past the
                    // end its own length fields give it, so that its own bytes do not decode.
                    if (d.rc == 0) {
                        ASSERT_EQ(m.err.code, DR_E_LENGTH_PAST) << m.err.text;
                        ASSERT_NE(decode_at(top, net, 0, static_cast<size_t>(m.len), version).rc, 0);
                    }
                    ++bad;
                }
            }
        }
    }
    EXPECT_GT(bad, 100);
    EXPECT_GT(taken, 100);
}

// A type whose body length lies in its fixed head is measured from that field alone.
TEST(Measure, SampleMessagesFromTheirLengthField) {
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, EXAMPLES_DIR "/proto.tlb"), 0);
    const DrMeta *msg = nullptr;
    ASSERT_EQ(dr_meta_by_name(lib, "Message", &msg), 0);
    // magic 4C42, bodyLen 7, cmd 3, seq 1, then 7 bytes the field claims, whatever they hold.
    const std::vector<uint8_t> net = drtest::hex("4C 42 00 07 00 03 00 00 00 01 | FF FF FF FF FF FF FF");
    for (size_t cut = 0; cut < net.size(); ++cut) {
        const Measured m = measure(msg, net, 0, cut, 0);
        ASSERT_EQ(m.status, DR_STREAM_MORE);
        ASSERT_EQ(m.len, cut < 10 ? 10 : 17) << "cut at " << cut;
    }
    const Measured m = measure(msg, net, 0, net.size(), 0);
    EXPECT_EQ(m.status, DR_STREAM_RECORD);
    EXPECT_EQ(m.len, 17);
    // A refused version is a bad record, not a cut one.
    EXPECT_EQ(measure(msg, net, 0, net.size(), -5).status, DR_STREAM_BAD);
    dr_free_lib(lib);
}

TEST(Measure, BadArgumentsAndVersions) {
    drtest::Image img = drtest::build(drtest::random_lib(3));
    const DrMeta *top = img.meta("Top");
    int32_t len = 123;
    DrError err;
    EXPECT_EQ(dr_measure_record(nullptr, "", 0, 0, &len, &err), DR_STREAM_BAD);
    EXPECT_EQ(err.code, DR_E_ARGUMENT);
    EXPECT_EQ(dr_measure_record(top, nullptr, 4, 0, &len, &err), DR_STREAM_BAD);
    EXPECT_EQ(dr_measure_record(top, "", -1, 0, &len, &err), DR_STREAM_BAD);
    EXPECT_EQ(dr_stream_reader_measure(nullptr, "", 0, &len, &err), DR_STREAM_BAD);
    DrStreamReader r;
    char small[1];
    EXPECT_EQ(dr_stream_reader_init(&r, top, 0, small, 0), top->datasize > 0 ? -1 : 0);
}

}  // namespace
