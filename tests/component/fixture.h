// fixture.h: the TavEncoder shared object loaded with dlopen as a client would, its class
// factory, and the fixtures of the component's Linux tests.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "component/IMyEncoder.h"
#include "tests/component/sample_types.h"

namespace tavtest {

namespace fs = std::filesystem;


struct Server {
    void *handle = nullptr;
    HRESULT (*get_class_object)(REFCLSID, REFIID, void **) = nullptr;
    HRESULT (*can_unload_now)() = nullptr;
    HRESULT (*register_server)() = nullptr;
    HRESULT (*unregister_server)() = nullptr;
};

// The shared object, loaded once with every symbol bound at load time.
inline const Server &server() {
    static const Server s = [] {
        Server r;
        r.handle = dlopen(TAV_ENCODER_SO, RTLD_NOW | RTLD_LOCAL);
        if (r.handle == nullptr) return r;
        r.get_class_object = reinterpret_cast<decltype(r.get_class_object)>(dlsym(r.handle, "DllGetClassObject"));
        r.can_unload_now = reinterpret_cast<decltype(r.can_unload_now)>(dlsym(r.handle, "DllCanUnloadNow"));
        r.register_server = reinterpret_cast<decltype(r.register_server)>(dlsym(r.handle, "DllRegisterServer"));
        r.unregister_server = reinterpret_cast<decltype(r.unregister_server)>(dlsym(r.handle, "DllUnregisterServer"));
        return r;
    }();
    return s;
}

inline IClassFactory *factory() {
    void *out = nullptr;
    EXPECT_EQ(server().get_class_object(CLSID_MyEncoder, IID_IClassFactory, &out), S_OK);
    return static_cast<IClassFactory *>(out);
}

inline IMyEncoder *create_encoder() {
    IClassFactory *f = factory();
    if (f == nullptr) return nullptr;
    void *out = nullptr;
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IMyEncoder, &out), S_OK);
    f->Release();
    return static_cast<IMyEncoder *>(out);
}

inline std::string box_line(const std::string &id) {
    return "dr_meta_by_id \xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81iDataTypeId = " + id + "\n";
}

inline std::string read_text(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_text(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(server().handle, nullptr) << dlerror();
        ASSERT_NE(server().get_class_object, nullptr);
        ASSERT_NE(server().can_unload_now, nullptr);
        ASSERT_NE(server().register_server, nullptr);
        ASSERT_NE(server().unregister_server, nullptr);
        ASSERT_EQ(server().can_unload_now(), S_OK) << "an earlier test left an object or lock behind";
    }
};

// An encoder object, and on disk the sample typelib, the other typelib and a scratch directory.
class EncoderTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        dir_ = fs::temp_directory_path() / "dr_tests" / ("component_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ASSERT_EQ(dr_save_lib_file(drtest::build(sample_lib()).lib(), path("sample.tlb").c_str()), 0);
        ASSERT_EQ(dr_save_lib_file(drtest::build(other_lib()).lib(), path("other.tlb").c_str()), 0);
        enc_ = create_encoder();
        ASSERT_NE(enc_, nullptr);
    }
    void TearDown() override {
        if (enc_ != nullptr) {
            EXPECT_EQ(enc_->Release(), 0u);
        }
        EXPECT_EQ(server().can_unload_now(), S_OK);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string path(const char *name) const { return (dir_ / name).string(); }

    fs::path dir_;
    IMyEncoder *enc_ = nullptr;
};

}  // namespace tavtest
