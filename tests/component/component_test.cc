// The TavEncoder shared object as a client sees it: loaded with dlopen, objects made through
// its class factory, every result and failure path of IMyEncoder and of the server exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/component/fixture.h"

namespace {

using namespace tavtest;

TEST_F(ServerTest, ExportsOnlyTheServerFunctions) {
    for (const char *hidden : {"dr_meta_by_id", "dr_load_lib_file", "dr_free_lib", "_ZN3tav13lock_moduleEv"})
        EXPECT_EQ(dlsym(server().handle, hidden), nullptr) << hidden;
}

TEST_F(ServerTest, IdentifiersHaveTheWindowsGuidLayout) {
    const unsigned char clsid[16] = {0x56, 0x91, 0xF4, 0x27, 0x05, 0x6D, 0x50, 0x47,
                                     0x94, 0x6C, 0xD0, 0x75, 0xDC, 0xF4, 0xFE, 0x44};
    const unsigned char iid[16] = {0x40, 0x1D, 0xBC, 0xEE, 0x48, 0x90, 0xA4, 0x48,
                                   0xB2, 0xE2, 0x81, 0x4B, 0x4F, 0x38, 0x22, 0x9A};
    EXPECT_EQ(std::memcmp(&CLSID_MyEncoder, clsid, 16), 0);
    EXPECT_EQ(std::memcmp(&IID_IMyEncoder, iid, 16), 0);
}

TEST_F(ServerTest, ClassObjectOnlyForTheOneClass) {
    void *out = &out;
    EXPECT_EQ(server().get_class_object(IID_IMyEncoder, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(server().get_class_object(CLSID_MyEncoder, IID_IMyEncoder, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(server().get_class_object(CLSID_MyEncoder, IID_IClassFactory, nullptr), E_POINTER);
    ASSERT_EQ(server().get_class_object(CLSID_MyEncoder, IID_IUnknown, &out), S_OK);
    static_cast<IUnknown *>(out)->Release();

    IClassFactory *f = factory();
    ASSERT_NE(f, nullptr);
    out = &out;
    EXPECT_EQ(f->CreateInstance(f, IID_IMyEncoder, &out), CLASS_E_NOAGGREGATION);  // any outer object
    EXPECT_EQ(out, nullptr);
    // An object created for an interface it lacks is destroyed at once.
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IMyEncoder, nullptr), E_POINTER);
    EXPECT_EQ(f->Release(), 0u);
    EXPECT_EQ(server().can_unload_now(), S_OK);
}

TEST_F(ServerTest, CanUnloadOnlyWithoutObjectsLocksOrFactoryReferences) {
    IClassFactory *f = factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(server().can_unload_now(), S_FALSE);  // the factory itself is held
    void *a = nullptr, *b = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IMyEncoder, &a), S_OK);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, &b), S_OK);
    EXPECT_EQ(f->LockServer(1), S_OK);
    f->Release();
    EXPECT_EQ(server().can_unload_now(), S_FALSE);
    static_cast<IUnknown *>(a)->Release();
    EXPECT_EQ(server().can_unload_now(), S_FALSE);
    static_cast<IUnknown *>(b)->Release();
    EXPECT_EQ(server().can_unload_now(), S_FALSE);  // the lock remains
    f = factory();
    EXPECT_EQ(f->LockServer(0), S_OK);
    EXPECT_EQ(f->LockServer(0), S_OK);  // an unmatched unlock must not count below zero
    f->Release();
    EXPECT_EQ(server().can_unload_now(), S_OK);
    f = factory();
    EXPECT_EQ(f->LockServer(1), S_OK);
    f->Release();
    EXPECT_EQ(server().can_unload_now(), S_FALSE);
    f = factory();
    EXPECT_EQ(f->LockServer(0), S_OK);
    f->Release();
}

// Without a registry there is nothing to write or remove.
TEST_F(ServerTest, RegisterAndUnregisterAnswerOk) {
    EXPECT_EQ(server().register_server(), S_OK);
    EXPECT_EQ(server().unregister_server(), S_OK);
}

TEST_F(EncoderTest, QueryInterfaceAnswersOnlyUnknownAndTheEncoder) {
    void *unk = nullptr, *again = nullptr;
    ASSERT_EQ(enc_->QueryInterface(IID_IUnknown, &unk), S_OK);
    ASSERT_EQ(enc_->QueryInterface(IID_IMyEncoder, &again), S_OK);
    EXPECT_EQ(unk, static_cast<void *>(enc_));  // one identity
    EXPECT_EQ(again, static_cast<void *>(enc_));
    const IID dispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    for (const IID *other : {&IID_IClassFactory, &dispatch, &CLSID_MyEncoder}) {
        void *out = &out;
        EXPECT_EQ(enc_->QueryInterface(*other, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(enc_->QueryInterface(IID_IMyEncoder, nullptr), E_POINTER);
    EXPECT_EQ(enc_->AddRef(), 4u);
    EXPECT_EQ(enc_->Release(), 3u);
    EXPECT_EQ(static_cast<IUnknown *>(unk)->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown *>(again)->Release(), 1u);
    EXPECT_EQ(server().can_unload_now(), S_FALSE);  // the fixture's reference keeps it alive
}

TEST_F(EncoderTest, ReferencesCountedAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this] {
            for (int k = 0; k < 20000; ++k) {
                enc_->AddRef();
                enc_->Release();
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(enc_->AddRef(), 2u);
    EXPECT_EQ(enc_->Release(), 1u);
}

TEST_F(EncoderTest, UnknownTypeShowsTheBoxAndTouchesNothing) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const SampleHost host = sample_record();
    std::vector<char> net(64, '\x5A');
    int len = -77;
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(kMissingId, net.data(), &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("7"));
    EXPECT_EQ(len, -77);
    EXPECT_EQ(net, std::vector<char>(64, '\x5A'));

    SampleHost out;
    std::memset(&out, 0x33, sizeof out);
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->NetToHost(kMissingId, reinterpret_cast<char *>(&out),
                              reinterpret_cast<const char *>(kSampleNet), sizeof kSampleNet, 0),
              S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("7"));
    EXPECT_EQ(out.c, 0x3333);

    write_text(path("keep.txt"), "earlier content\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->PrintToFile(path("keep.txt").c_str(), kMissingId, reinterpret_cast<const char *>(&host), 0),
              S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("7"));
    EXPECT_EQ(read_text(path("keep.txt")), "earlier content\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->PrintToFile(path("absent.txt").c_str(), kMissingId, reinterpret_cast<const char *>(&host), 0),
              S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("7"));
    EXPECT_FALSE(fs::exists(path("absent.txt")));
}

TEST_F(EncoderTest, BoxShowsNegativeIdsWithTheirSign) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const SampleHost host = sample_record();
    char net[64];
    int len = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(-5, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(enc_->HostToNet(INT_MIN, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("-5") + box_line("-2147483648"));
}

TEST_F(EncoderTest, WithoutLibraryDataMethodsAnswerAsForAMissingType) {
    const SampleHost host = sample_record();
    char net[64];
    int len = -1;
    SampleHost out{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(enc_->NetToHost(kSampleId, reinterpret_cast<char *>(&out), reinterpret_cast<const char *>(kSampleNet),
                              sizeof kSampleNet, 0),
              S_FALSE);
    EXPECT_EQ(enc_->PrintToFile(path("none.txt").c_str(), kSampleId, reinterpret_cast<const char *>(&host), 0),
              S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("10") + box_line("10") + box_line("10"));
    EXPECT_EQ(len, -1);
    EXPECT_FALSE(fs::exists(path("none.txt")));
}

TEST_F(EncoderTest, FailedLoadDropsTheEarlierLibraryWithoutABox) {
    write_text(path("empty.tlb"), "");
    write_text(path("junk.tlb"), std::string(200, 'U'));
    std::vector<uint8_t> cut = drtest::build(sample_lib()).vec();
    cut.pop_back();
    const std::string truncated = drtest::write_temp_file("component_cut", cut);
    const SampleHost host = sample_record();
    char net[64];
    int len = -1;
    for (const std::string &bad : {path("missing.tlb"), path("empty.tlb"), path("junk.tlb"), truncated, dir_.string()}) {
        ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
        testing::internal::CaptureStderr();
        EXPECT_EQ(enc_->LoadLib(bad.c_str()), S_FALSE) << bad;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        // Answered as without a library, not from the image loaded before.
        testing::internal::CaptureStderr();
        EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("10"));
    }
    EXPECT_EQ(enc_->LoadLib(nullptr), S_FALSE);
    EXPECT_EQ(len, -1);
}

TEST_F(EncoderTest, SecondLoadReplacesTheFirst) {
    const unsigned char bytes[3] = {1, 2, 3};
    char net[64] = {};
    int len = 0;
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    ASSERT_EQ(enc_->LoadLib(path("other.tlb").c_str()), S_OK);  // the first image must not leak
    EXPECT_EQ(enc_->HostToNet(kOtherId, net, &len, reinterpret_cast<const char *>(bytes), 0), S_OK);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(std::memcmp(net, bytes, 3), 0);
    const SampleHost host = sample_record();
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), box_line("10"));
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);  // and back: the object keeps the last
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_OK);
    EXPECT_EQ(len, 17);
}

// LoadLib replacing the image while other threads encode with the same object: each encode
// sees a whole image, never a released one nor the moment between release and load.
TEST_F(EncoderTest, LoadLibWhileOtherThreadsEncode) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const SampleHost host = sample_record();
    std::atomic<bool> loading{true};
    std::atomic<int> encodes{0}, wrong{0};
    std::vector<std::thread> encoders;
    for (int t = 0; t < 2; ++t)
        encoders.emplace_back([&] {
            char net[64];
            while (loading) {
                int len = -1;
                const HRESULT hr = enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0);
                if (hr != S_OK || len != 17 || std::memcmp(net, kSampleNet, 17) != 0) ++wrong;
                ++encodes;
            }
        });
    // Loads go on until the encoders have had plenty of chances to meet one.
    int loads = 0, failed_loads = 0;
    while (loads < 200 || (encodes < 20000 && loads < 200000)) {
        failed_loads += enc_->LoadLib(path("sample.tlb").c_str()) != S_OK;
        ++loads;
    }
    loading = false;
    for (std::thread &t : encoders) t.join();
    EXPECT_EQ(failed_loads, 0);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(EncoderTest, HostToNetWritesTheNetworkFormAndItsLength) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const SampleHost host = sample_record();
    std::vector<unsigned char> net(64, 0xEE);
    int len = -1;
    EXPECT_EQ(enc_->HostToNet(kSampleId, reinterpret_cast<char *>(net.data()), &len,
                              reinterpret_cast<const char *>(&host), 0),
              S_OK);
    ASSERT_EQ(len, 17);
    EXPECT_EQ(std::vector<unsigned char>(net.begin(), net.begin() + 17),
              std::vector<unsigned char>(std::begin(kSampleNet), std::end(kSampleNet)));
    EXPECT_EQ(net[17], 0xEE);
    len = -1;
    EXPECT_EQ(enc_->HostToNet(kSampleId, reinterpret_cast<char *>(net.data()), &len,
                              reinterpret_cast<const char *>(&host), kTypeVersion),
              S_OK);
    EXPECT_EQ(len, 17);
}

// Every failure of the codec answers 1, and the caller still gets what the library gives a
// direct caller: the bytes written, the host record as far as it was decoded.
TEST_F(EncoderTest, HostToNetAnswersOneWhenTheEncoderFails) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    SampleHost host = sample_record();
    char net[64];
    int len = -1;
    testing::internal::CaptureStderr();
    // A caller older than the type: refused, nothing written.
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), kTypeVersion - 1), S_FALSE);
    EXPECT_EQ(len, 0);
    // A count above the array's bound stops the encoder after the count itself.
    host.c = 11;
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(len, 2);
    host.c = -1;
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    // A string without its NUL.
    host = sample_record();
    std::memset(host.s, 'x', sizeof host.s);
    EXPECT_EQ(enc_->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(len, 10);  // the count and the two values
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// NetToHost over every cut of the sample's network form (and none, and a negative length):
// it answers S_OK exactly when the library decodes, and leaves the host record as the library
// leaves it.
TEST_F(EncoderTest, NetToHostAnswersAsTheDecoderDoesForEveryLength) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, path("sample.tlb").c_str()), 0);
    const DrMeta *meta = nullptr;
    ASSERT_EQ(dr_meta_by_id(lib, kSampleId, &meta), 0);
    testing::internal::CaptureStderr();
    int good = 0;
    for (int n = -1; n <= static_cast<int>(sizeof kSampleNet); ++n) {
        for (int version : {0, kTypeVersion, kTypeVersion - 1}) {
            SampleHost ours, theirs;
            std::memset(&ours, 0x11, sizeof ours);
            std::memset(&theirs, 0x11, sizeof theirs);
            DrBuffer h{reinterpret_cast<char *>(&theirs), sizeof theirs};
            DrBuffer w{const_cast<char *>(reinterpret_cast<const char *>(kSampleNet)), n < 0 ? 0 : n};
            const int rc = dr_net_to_host(meta, &h, &w, version);
            good += rc == 0;
            EXPECT_EQ(enc_->NetToHost(kSampleId, reinterpret_cast<char *>(&ours),
                                      reinterpret_cast<const char *>(kSampleNet), n, version),
                      rc == 0 ? S_OK : S_FALSE)
                << n << " bytes, version " << version;
            EXPECT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << n << " bytes, version " << version;
        }
    }
    EXPECT_EQ(good, 2);  // only the whole form, at version 0 and at the type's own version
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    dr_free_lib(lib);

    SampleHost out{};
    EXPECT_EQ(enc_->NetToHost(kSampleId, reinterpret_cast<char *>(&out), reinterpret_cast<const char *>(kSampleNet),
                              sizeof kSampleNet, 0),
              S_OK);
    EXPECT_EQ(out.c, 2);
    EXPECT_EQ(out.v[0], 1);
    EXPECT_EQ(out.v[1], 2);
    EXPECT_EQ(out.v[2], 0);
    EXPECT_STREQ(out.s, "ab");
    // Five bytes hold the count but not the two values: the count is decoded, nothing after it.
    SampleHost part;
    std::memset(&part, 0x11, sizeof part);
    EXPECT_EQ(enc_->NetToHost(kSampleId, reinterpret_cast<char *>(&part), reinterpret_cast<const char *>(kSampleNet),
                              5, 0),
              S_FALSE);
    EXPECT_EQ(part.c, 2);
    EXPECT_EQ(part.v[0], 0x11111111);
}

TEST_F(EncoderTest, PrintToFileWritesOneLine) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const HdrHost host = hdr_record();
    write_text(path("hdr.txt"), std::string(300, 'x'));  // truncated, not overwritten in place
    EXPECT_EQ(enc_->PrintToFile(path("hdr.txt").c_str(), kHdrId, reinterpret_cast<const char *>(&host), 0), S_OK);
    EXPECT_EQ(read_text(path("hdr.txt")), kHdrText);
    // A caller older than the type is refused: the file is created or emptied and left empty.
    EXPECT_EQ(enc_->PrintToFile(path("hdr.txt").c_str(), kHdrId, reinterpret_cast<const char *>(&host), 1), S_FALSE);
    EXPECT_EQ(read_text(path("hdr.txt")), "");
    EXPECT_EQ(enc_->PrintToFile(path("new.txt").c_str(), kHdrId, reinterpret_cast<const char *>(&host), 1), S_FALSE);
    EXPECT_TRUE(fs::exists(path("new.txt")));
    EXPECT_EQ(read_text(path("new.txt")), "");
    // A negative count stops the renderer: 1, and the file keeps the text before it.
    HdrHost over = host;
    over.iNum = -1;
    EXPECT_EQ(enc_->PrintToFile(path("hdr.txt").c_str(), kHdrId, reinterpret_cast<const char *>(&over), 0), S_FALSE);
    const std::string before = read_text(path("hdr.txt"));
    EXPECT_EQ(before.rfind("[Hdr]: iNum=-1 ", 0), 0u) << before;
    EXPECT_EQ(before.find("aiVal"), std::string::npos) << before;
}

TEST_F(EncoderTest, PrintToFileUnopenableFileAnswersOneWithoutABox) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const HdrHost host = hdr_record();
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->PrintToFile(path("no-such-dir/out.txt").c_str(), kHdrId, reinterpret_cast<const char *>(&host), 0),
              S_FALSE);
    EXPECT_EQ(enc_->PrintToFile(dir_.string().c_str(), kHdrId, reinterpret_cast<const char *>(&host), 0), S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(path("no-such-dir")));
}

TEST_F(EncoderTest, NullArgumentsAnswerOneWithoutTouchingAnything) {
    ASSERT_EQ(enc_->LoadLib(path("sample.tlb").c_str()), S_OK);
    const SampleHost host = sample_record();
    char buf[64];
    int len = -1;
    const char *h = reinterpret_cast<const char *>(&host);
    testing::internal::CaptureStderr();
    EXPECT_EQ(enc_->HostToNet(kSampleId, nullptr, &len, h, 0), S_FALSE);
    EXPECT_EQ(enc_->HostToNet(kSampleId, buf, nullptr, h, 0), S_FALSE);
    EXPECT_EQ(enc_->HostToNet(kSampleId, buf, &len, nullptr, 0), S_FALSE);
    EXPECT_EQ(enc_->NetToHost(kSampleId, nullptr, reinterpret_cast<const char *>(kSampleNet), 17, 0), S_FALSE);
    EXPECT_EQ(enc_->NetToHost(kSampleId, buf, nullptr, 17, 0), S_FALSE);
    EXPECT_EQ(enc_->PrintToFile(nullptr, kSampleId, h, 0), S_FALSE);
    EXPECT_EQ(enc_->PrintToFile(path("null.txt").c_str(), kSampleId, nullptr, 0), S_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(len, -1);
    EXPECT_FALSE(fs::exists(path("null.txt")));
}

}  // namespace
