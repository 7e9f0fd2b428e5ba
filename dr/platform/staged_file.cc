// staged_file.cc: the portable part of staged output files: naming the scratch file, and
// checking every flush and close.
#include "dr/platform/staged_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace dr {
namespace {

// A name beside target that no other writer picks: the dot keeps it out of plain listings,
// and the suffix differs per attempt, per call and per moment.
std::string scratch_name(const std::string &target, unsigned long long salt) {
    const size_t slash = target.find_last_of("/\\");
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%llx.tmp", salt & 0xFFFFFFFFFFull);
    return target.substr(0, base) + "." + target.substr(base) + suffix;
}

}  // namespace

int StagedFile::open(const char *path, bool text) {
    discard();
    const os::OutputTarget t = os::resolve_output(path);
    if (t.in_place) {
        errno = 0;
        fp_ = std::fopen(path, text ? "w" : "wb");
        return fp_ != nullptr ? 0 : errno != 0 ? errno : EIO;
    }
    static std::atomic<unsigned long long> calls{0};
    const unsigned long long now =
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        std::string name = scratch_name(t.path, now * 31 + calls++ * 7919 + attempt);
        const int rc = os::create_new(name, t, text, &fp_);
        if (rc == EEXIST) continue;
        if (rc != 0) return rc;
        target_ = t.path;
        scratch_ = std::move(name);
        replaces_ = t.exists;
        return 0;
    }
    return EEXIST;
}

int StagedFile::finish() {
    if (fp_ == nullptr) return EBADF;
    int error = 0;
    errno = 0;
    if (std::fflush(fp_) != 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && std::ferror(fp_)) error = EIO;
    errno = 0;
    if (std::fclose(fp_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    fp_ = nullptr;
    if (error != 0) discard();
    return error;
}

int StagedFile::commit() {
    if (fp_ != nullptr) return EBADF;
    if (scratch_.empty()) return 0;
    const int rc = os::replace_file(scratch_, target_);
    if (rc != 0) discard();
    scratch_.clear();
    return rc;
}

void StagedFile::discard() {
    if (fp_ != nullptr) std::fclose(fp_);
    fp_ = nullptr;
    if (!scratch_.empty()) std::remove(scratch_.c_str());
    scratch_.clear();
}

}  // namespace dr
