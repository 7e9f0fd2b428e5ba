// IMyEncoder2 as a client sees it: QueryInterface identity, every sized method at exact,
// short and zero sizes with guard bytes (and exactly sized heap blocks for AddressSanitizer),
// each failure's HRESULT and error object, no box, and many threads on one object.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/component/encode_sized.h"
#include "tests/component/error_object.h"
#include "tests/component/fixture.h"

namespace {

using namespace tavtest;

constexpr HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
class Encoder2Test : public EncoderTest {
protected:
    void SetUp() override {
        EncoderTest::SetUp();
        void *out = nullptr;
        ASSERT_EQ(enc_->QueryInterface(IID_IMyEncoder2, &out), S_OK);
        enc2_ = static_cast<IMyEncoder2 *>(out);
        ASSERT_EQ(enc2_->LoadTypelib(path("sample.tlb").c_str()), S_OK);
        (void)take_error();  // no earlier test's error object
    }
    void TearDown() override {
        if (enc2_ != nullptr) enc2_->Release();
        EncoderTest::TearDown();
    }
    // The call's result, and that the error object it left says `reason`.
    void expect_failure(HRESULT got, HRESULT want, const std::string &reason) {
        EXPECT_EQ(got, want);
        const TakenError e = take_error();
        EXPECT_EQ(e.got, S_OK) << "no error object for " << reason;
        EXPECT_NE(e.description.find(reason), std::string::npos) << '"' << e.description << "\" lacks " << reason;
        EXPECT_EQ(e.source, TAV_ENCODER_PROGID);
        EXPECT_TRUE(IsEqualGUID(e.guid, IID_IMyEncoder2));
    }

    IMyEncoder2 *enc2_ = nullptr;
    const SampleHost sample_ = sample_record();
    const char *sample_host_ = reinterpret_cast<const char *>(&sample_);
};

TEST_F(Encoder2Test, QueryInterfaceKeepsComIdentity) {
    void *p = nullptr;
    auto qi = [&p](IUnknown *from, REFIID iid) {
        p = nullptr;
        EXPECT_EQ(from->QueryInterface(iid, &p), S_OK);
        return static_cast<IUnknown *>(p);
    };
    IUnknown *unk_from_1 = qi(enc_, IID_IUnknown);
    IUnknown *unk_from_2 = qi(enc2_, IID_IUnknown);
    IUnknown *back_to_1 = qi(enc2_, IID_IMyEncoder);
    IUnknown *again_2 = qi(enc2_, IID_IMyEncoder2);
    IUnknown *support = qi(enc2_, IID_ISupportErrorInfo);
    IUnknown *unk_from_support = qi(support, IID_IUnknown);
    IUnknown *two_from_support = qi(support, IID_IMyEncoder2);
    EXPECT_EQ(unk_from_1, unk_from_2);  // one identity, from every interface
    EXPECT_EQ(unk_from_1, unk_from_support);
    EXPECT_EQ(back_to_1, static_cast<IUnknown *>(enc_));  // symmetric and transitive
    EXPECT_EQ(again_2, static_cast<IUnknown *>(enc2_));   // reflexive
    EXPECT_EQ(two_from_support, static_cast<IUnknown *>(enc2_));
    auto *sei = static_cast<ISupportErrorInfo *>(support);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IMyEncoder2), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IMyEncoder), S_FALSE);
    const IID dispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    p = &p;
    EXPECT_EQ(enc2_->QueryInterface(dispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    // One count for the object: fixture's two references plus the seven taken here.
    EXPECT_EQ(enc_->AddRef(), 10u);
    for (IUnknown *u : {unk_from_1, unk_from_2, back_to_1, again_2, support, unk_from_support, two_from_support})
        u->Release();
    EXPECT_EQ(enc2_->Release(), 2u);
}

TEST_F(Encoder2Test, EncodeAtEverySizeNeverWritesPastIt) {
    int len = -1;
    EXPECT_EQ(enc2_->Encode(kSampleId, 0, sample_host_, sizeof sample_, nullptr, 0, &len), S_OK);  // sizing
    ASSERT_EQ(len, 17);
    for (int cap = 0; cap <= 18; ++cap) {
        Guarded net(cap);
        len = -1;
        const HRESULT hr = enc2_->Encode(kSampleId, 0, sample_host_, sizeof sample_, net.data(), cap, &len);
        EXPECT_TRUE(net.guard_intact()) << cap;
        EXPECT_EQ(len, 17) << cap;  // written, or needed
        if (cap >= 17) {
            EXPECT_EQ(hr, S_OK) << cap;
            EXPECT_EQ(std::memcmp(net.data(), kSampleNet, 17), 0);
        } else {
            expect_failure(hr, kTooSmall, "needs 17 bytes; the buffer holds " + std::to_string(cap));
        }
        if (cap == 0) {
            EXPECT_TRUE(net.untouched());
        }
        // An exactly sized heap block: AddressSanitizer sees any write past it.
        std::unique_ptr<char[]> exact(new char[cap > 0 ? cap : 1]);
        EXPECT_EQ(enc2_->Encode(kSampleId, 0, sample_host_, sizeof sample_, exact.get(), cap, &len), hr);
    }
    // The host record must span the type's host size.
    for (int host_len : {static_cast<int>(sizeof sample_) - 1, 0}) {
        Guarded net(64);
        len = -1;
        expect_failure(enc2_->Encode(kSampleId, 0, sample_host_, host_len, net.data(), 64, &len), kTooSmall,
                       "the host record needs 60 bytes; the buffer holds " + std::to_string(host_len));
        EXPECT_TRUE(net.untouched());
        EXPECT_EQ(len, -1);
    }
}

TEST_F(Encoder2Test, DecodeAtEverySizeNeverWritesPastIt) {
    for (int cap : {static_cast<int>(sizeof(SampleHost)) + 4, static_cast<int>(sizeof(SampleHost)),
                    static_cast<int>(sizeof(SampleHost)) - 1, 0}) {
        Guarded host(cap);
        int used = -1;
        const HRESULT hr =
            enc2_->Decode(kSampleId, 0, reinterpret_cast<const char *>(kSampleNet), 17, host.data(), cap, &used);
        EXPECT_TRUE(host.guard_intact()) << cap;
        if (cap >= static_cast<int>(sizeof(SampleHost))) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(used, 17);
            SampleHost back;
            std::memcpy(&back, host.data(), sizeof back);
            EXPECT_EQ(back.c, 2);
            EXPECT_EQ(back.v[1], 2);
            EXPECT_EQ(back.v[2], 0);  // cleared first
            EXPECT_STREQ(back.s, "ab");
            for (int i = sizeof(SampleHost); i < cap; ++i) EXPECT_EQ(host.bytes[i], Guarded::kGuard);
        } else {
            expect_failure(hr, kTooSmall, "the host record needs 60 bytes; the buffer holds " + std::to_string(cap));
            EXPECT_TRUE(host.untouched());
        }
        std::unique_ptr<char[]> exact(new char[cap > 0 ? cap : 1]);
        EXPECT_EQ(enc2_->Decode(kSampleId, 0, reinterpret_cast<const char *>(kSampleNet), 17, exact.get(), cap, &used),
                  hr);
    }
    // Network bytes after the record are not consumed; cut ones are a failure, with where.
    std::vector<char> longer(reinterpret_cast<const char *>(kSampleNet), reinterpret_cast<const char *>(kSampleNet) + 17);
    longer.insert(longer.end(), 5, 'z');
    SampleHost out;
    int used = -1;
    EXPECT_EQ(enc2_->Decode(kSampleId, 0, longer.data(), 22, reinterpret_cast<char *>(&out), sizeof out, &used), S_OK);
    EXPECT_EQ(used, 17);
    for (int n = 0; n < 17; ++n) {
        std::unique_ptr<char[]> cut(new char[n > 0 ? n : 1]);
        std::memcpy(cut.get(), kSampleNet, n);
        const HRESULT hr = enc2_->Decode(kSampleId, 0, cut.get(), n, reinterpret_cast<char *>(&out), sizeof out, &used);
        EXPECT_TRUE(hr == TAV_E_NET_END || hr == TAV_E_STRING) << n << ": " << std::hex << hr;
        (void)take_error();
    }
}

TEST_F(Encoder2Test, FormatAtEverySizeAgreesWithTheLibrary) {
    const HdrHost hdr = hdr_record();
    const char *host = reinterpret_cast<const char *>(&hdr);
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, path("sample.tlb").c_str()), 0);
    const DrMeta *meta = nullptr;
    ASSERT_EQ(dr_meta_by_id(lib, kHdrId, &meta), 0);
    for (bool xml : {false, true}) {
        // The library's own text, in a buffer of plenty.
        std::vector<char> whole(4096);
        DrBuffer out{whole.data(), 4096}, h{const_cast<char *>(host), sizeof hdr};
        ASSERT_EQ(xml ? dr_sprint_data_xml(meta, &out, &h, 0) : dr_sprint_data(meta, &out, &h, 0), 0);
        const std::string expected(whole.data(), out.len);
        const int n = static_cast<int>(expected.size());
        auto format = [&](char *text, int cap, int *len) {
            return xml ? enc2_->FormatXml(kHdrId, 0, host, sizeof hdr, text, cap, len)
                       : enc2_->FormatText(kHdrId, 0, host, sizeof hdr, text, cap, len);
        };
        int len = -1;
        EXPECT_EQ(format(nullptr, 0, &len), S_OK);  // sizing
        EXPECT_EQ(len, n);
        for (int cap = 0; cap <= n + 2; ++cap) {
            Guarded text(cap);
            len = -1;
            const HRESULT hr = format(text.data(), cap, &len);
            EXPECT_TRUE(text.guard_intact()) << cap;
            EXPECT_EQ(len, n) << cap;
            if (cap > n) {
                EXPECT_EQ(hr, S_OK) << cap;
                EXPECT_EQ(std::string(text.data()), expected);
            } else {
                expect_failure(hr, kTooSmall, "the text needs " + std::to_string(n + 1) + " bytes with its NUL");
                if (cap > 0) {
                    EXPECT_EQ(text.bytes[cap - 1], '\0');
                } else {
                    EXPECT_TRUE(text.untouched());
                }
            }
            std::unique_ptr<char[]> exact(new char[cap > 0 ? cap : 1]);
            EXPECT_EQ(format(exact.get(), cap, &len), hr);
        }
    }
    dr_free_lib(lib);
}

// A record with a value that has no text form cannot be formatted at any size.
TEST_F(Encoder2Test, FormatRefusesAValueWithoutText) {
    drtest::Lib lib;
    lib.name = "wide";
    lib.metas = {drtest::record("Wide", 40, {drtest::field("n", "int").at(0), drtest::field("big", "longlong").at(8)})};
    ASSERT_EQ(dr_save_lib_file(drtest::build(lib).lib(), path("wide.tlb").c_str()), 0);
    ASSERT_EQ(enc2_->LoadTypelib(path("wide.tlb").c_str()), S_OK);
    const char record[16] = {1};
    int len = -1;
    char text[256];
    expect_failure(enc2_->FormatText(40, 0, record, sizeof record, text, sizeof text, &len), TAV_E_CUT,
                   "Wide: a member's value has no text form");
    expect_failure(enc2_->FormatText(40, 0, record, sizeof record, text, 3, &len), TAV_E_CUT, "no text form");
    expect_failure(enc2_->FormatText(40, 0, record, sizeof record, nullptr, 0, &len), TAV_E_CUT, "no text form");
}

TEST_F(Encoder2Test, EachFailureHasItsCodeAndReasonAndNoBox) {
    char net[64];
    int len = -1;
    SampleHost over = sample_record();
    over.c = 11;
    testing::internal::CaptureStderr();
    expect_failure(enc2_->Encode(kSampleId, 0, reinterpret_cast<const char *>(&over), sizeof over, net, 64, &len),
                   TAV_E_COUNT, "Sample: a count member holds a negative count or one above the declared count");
    EXPECT_EQ(len, 2);
    expect_failure(enc2_->Encode(kSampleId, kTypeVersion - 1, sample_host_, sizeof sample_, net, 64, &len),
                   TAV_E_VERSION, "Sample: the requested version is older than the record type");
    SampleHost out;
    int used = -1;
    expect_failure(enc2_->Decode(kSampleId, 0, reinterpret_cast<const char *>(kSampleNet), 5,
                                 reinterpret_cast<char *>(&out), sizeof out, &used),
                   TAV_E_NET_END,
                   "Sample: the network buffer ends before the record does at network offset 2, host offset 4");
    EXPECT_EQ(used, 2);  // where the two values begin
    expect_failure(enc2_->Encode(kMissingId, 0, sample_host_, sizeof sample_, net, 64, &len), TAV_E_UNKNOWN_TYPE,
                   "the typelib has no type with id 7");
    expect_failure(enc2_->Decode(-3, 0, net, 17, reinterpret_cast<char *>(&out), sizeof out, &used),
                   TAV_E_UNKNOWN_TYPE, "no type with id -3");
    expect_failure(enc2_->FormatText(kMissingId, 0, sample_host_, sizeof sample_, net, 64, &len), TAV_E_UNKNOWN_TYPE,
                   "no type with id 7");
    TavTypeInfo info{};
    expect_failure(enc2_->FindTypeById(kMissingId, &info), TAV_E_UNKNOWN_TYPE, "no type with id 7");
    expect_failure(enc2_->FindTypeByName("Sampl", &info), TAV_E_UNKNOWN_TYPE, "no type named \"Sampl\"");
    // The inherited methods keep their 0 and 1 here, without the box, with the reason.
    expect_failure(enc2_->HostToNet(kMissingId, net, &len, sample_host_, 0), S_FALSE, "no type with id 7");
    expect_failure(enc2_->NetToHost(kSampleId, reinterpret_cast<char *>(&out), reinterpret_cast<const char *>(kSampleNet),
                                    3, 0),
                   S_FALSE, "ends before");
    // Null pointers and negative sizes.
    for (HRESULT hr : {enc2_->Encode(kSampleId, 0, nullptr, 60, net, 64, &len),
                       enc2_->Encode(kSampleId, 0, sample_host_, 60, nullptr, 64, &len),
                       enc2_->Encode(kSampleId, 0, sample_host_, 60, net, 64, nullptr),
                       enc2_->Encode(kSampleId, 0, sample_host_, -1, net, 64, &len),
                       enc2_->Encode(kSampleId, 0, sample_host_, 60, net, -1, &len),
                       enc2_->Decode(kSampleId, 0, nullptr, 17, net, 64, &used),
                       enc2_->Decode(kSampleId, 0, net, -1, reinterpret_cast<char *>(&out), 60, &used),
                       enc2_->Decode(kSampleId, 0, net, 17, reinterpret_cast<char *>(&out), -60, &used),
                       enc2_->FormatXml(kSampleId, 0, sample_host_, 60, nullptr, 5, &len),
                       enc2_->FormatText(kSampleId, 0, sample_host_, 60, net, 64, nullptr),
                       enc2_->FindTypeById(kSampleId, nullptr), enc2_->FindTypeByName(nullptr, &info),
                       enc2_->LoadTypelib(nullptr)}) {
        EXPECT_EQ(hr, E_INVALIDARG);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the box's line never came
    EXPECT_TRUE(FAILED(kTooSmall) && FAILED(TAV_E_COUNT) && FAILED(E_INVALIDARG) && SUCCEEDED(S_OK));
    // Taken once: the thread has no error object afterwards.
    EXPECT_EQ(enc2_->Encode(kMissingId, 0, sample_host_, 60, net, 64, &len), TAV_E_UNKNOWN_TYPE);
    EXPECT_EQ(take_error().got, S_OK);
    EXPECT_EQ(take_error().got, S_FALSE);
}

TEST_F(Encoder2Test, TypesByNameAndIdAndLoadingKeepsTheTypelibOnFailure) {
    TavTypeInfo by_id{}, by_name{};
    ASSERT_EQ(enc2_->FindTypeById(kHdrId, &by_id), S_OK);
    ASSERT_EQ(enc2_->FindTypeByName("Hdr", &by_name), S_OK);
    EXPECT_EQ(by_id.iDataTypeId, kHdrId);
    EXPECT_EQ(by_id.iVersion, kTypeVersion);
    EXPECT_EQ(by_id.iHostSize, static_cast<int>(sizeof(HdrHost)));
    EXPECT_STREQ(by_id.szName, "Hdr");
    EXPECT_EQ(std::memcmp(&by_id, &by_name, sizeof by_id), 0);

    write_text(path("junk.tlb"), std::string(200, 'U'));
    expect_failure(enc2_->LoadTypelib(path("missing.tlb").c_str()), TAV_E_OPEN, "missing.tlb: ");
    expect_failure(enc2_->LoadTypelib(path("junk.tlb").c_str()), TAV_E_NOT_TYPELIB, "junk.tlb: ");
    EXPECT_EQ(enc2_->FindTypeById(kSampleId, &by_id), S_OK);  // the earlier typelib stays
    ASSERT_EQ(enc2_->LoadTypelib(path("other.tlb").c_str()), S_OK);
    EXPECT_EQ(enc2_->FindTypeById(kSampleId, &by_id), TAV_E_UNKNOWN_TYPE);
    (void)take_error();
    // IMyEncoder's LoadLib, through either interface, still drops the typelib first.
    EXPECT_EQ(enc2_->LoadLib(path("missing.tlb").c_str()), S_FALSE);
    expect_failure(enc2_->FindTypeById(kOtherId, &by_id), TAV_E_NO_TYPELIB, "no typelib is loaded");
}

// The old interface beside the new one: the same object, still 0 or 1, still its box.
TEST_F(Encoder2Test, TheOldInterfaceStillShowsItsBox) {
    char net[64];
    int len = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(kMissingId, net, &len, sample_host_, 0), S_FALSE);
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, sample_host_, 0), S_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("7"));
    EXPECT_EQ(len, 17);
}

TEST_F(Encoder2Test, ManyThreadsOnOneObject) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            SampleHost over = sample_record();
            over.c = static_cast<int16_t>(11 + t);  // a bad record of this thread's own
            for (int k = 0; k < 2000; ++k) {
                char net[32];
                int len = -1;
                if (enc2_->Encode(kSampleId, 0, sample_host_, sizeof sample_, net, sizeof net, &len) != S_OK ||
                    len != 17 || std::memcmp(net, kSampleNet, 17) != 0)
                    ++wrong;
                SampleHost back;
                int used = -1;
                if (enc2_->Decode(kSampleId, 0, net, 17, reinterpret_cast<char *>(&back), sizeof back, &used) != S_OK ||
                    used != 17 || back.c != 2 || std::strcmp(back.s, "ab") != 0)
                    ++wrong;
                if (enc2_->Encode(kSampleId, 0, reinterpret_cast<const char *>(&over), sizeof over, net, 16, &len) !=
                    TAV_E_COUNT)
                    ++wrong;
                if (take_error().description.find("count member") == std::string::npos) ++wrong;
                // The error object is this thread's: its own id, not another thread's.
                if (enc2_->Encode(1000 + t, 0, sample_host_, sizeof sample_, net, sizeof net, &len) != TAV_E_UNKNOWN_TYPE)
                    ++wrong;
                const TakenError e = take_error();
                if (e.got != S_OK || e.description != "the typelib has no type with id " + std::to_string(1000 + t))
                    ++wrong;
                if (take_error().got != S_FALSE) ++wrong;
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

// The README's example, run: a record encoded, and a bad one refused with its reason.
TEST_F(Encoder2Test, ReadmeExampleEncodesAndPrintsTheReason) {
    const std::string example = read_text(DR_SOURCE_DIR "/tests/component/encode_sized.h");
    EXPECT_NE(read_text(DR_SOURCE_DIR "/README.md").find("```cpp\n" + example + "```\n"), std::string::npos)
        << "README.md does not hold tests/component/encode_sized.h as it is";
    std::vector<char> net;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(encode_record(enc2_, kSampleId, &sample_, sizeof sample_, net));
    EXPECT_EQ(net, std::vector<char>(reinterpret_cast<const char *>(kSampleNet),
                                     reinterpret_cast<const char *>(kSampleNet) + 17));
    SampleHost over = sample_record();
    over.c = 11;
    EXPECT_FALSE(encode_record(enc2_, kSampleId, &over, sizeof over, net));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "encode failed, 0x80040209: Sample: a count member holds a negative count or one above the declared "
              "count at network offset 2, host offset 4\n");
}

}  // namespace
