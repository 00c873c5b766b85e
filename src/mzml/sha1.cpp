#include "mzml/sha1.hpp"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

#include "display.hpp"
#include "mzml/unique_fd.hpp"

namespace tarnvale::mzml {

namespace {

constexpr std::size_t file_chunk = std::size_t{256} * 1024;

Error digest_error(std::string_view what) {
    return Error::context("SHA-1", Error::parse(std::string(what) + " failed in libcrypto"));
}

bool start_digest(EVP_MD_CTX* context) { return EVP_DigestInit_ex(context, EVP_sha1(), nullptr) == 1; }

} // namespace

struct Sha1::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> evp;
    bool failed = false; // an update failed: finish() reports it
};

Sha1::Sha1(std::unique_ptr<Context> context) : context_(std::move(context)) {}
Sha1::Sha1(Sha1&&) noexcept = default;
Sha1& Sha1::operator=(Sha1&&) noexcept = default;
Sha1::~Sha1() = default;

Result<Sha1> Sha1::create() {
    auto context = std::make_unique<Context>();
    context->evp.reset(EVP_MD_CTX_new());
    if (context->evp == nullptr || !start_digest(context->evp.get())) return fail(digest_error("starting"));
    return Sha1(std::move(context));
}

void Sha1::update(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (EVP_DigestUpdate(context_->evp.get(), bytes.data(), bytes.size()) != 1) context_->failed = true;
}

void Sha1::update(std::string_view bytes) {
    update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

Result<Sha1Digest> Sha1::finish() {
    Sha1Digest digest{};
    unsigned int length = 0;
    const bool ok = !context_->failed &&
                    EVP_DigestFinal_ex(context_->evp.get(), digest.data(), &length) == 1 &&
                    length == digest.size();
    context_->failed = !start_digest(context_->evp.get());
    if (!ok) return fail(digest_error("hashing"));
    return digest;
}

std::string to_hex(const Sha1Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

Result<std::string> sha1_file_hex(const std::filesystem::path& path) {
    const auto failure = [&path](int os_error) {
        return fail(Error::context("hashing " + display_path(path), Error::io(os_error)));
    };
    if (path.native().find('\0') != std::string::npos) return failure(EINVAL);
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return failure(errno);
    TV_ASSIGN_OR_RETURN(Sha1 sha1, Sha1::create());
    std::vector<std::uint8_t> chunk(file_chunk);
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return failure(errno);
        }
        if (got == 0) break;
        sha1.update(std::span(chunk.data(), static_cast<std::size_t>(got)));
    }
    TV_ASSIGN_OR_RETURN(const Sha1Digest digest, sha1.finish());
    return to_hex(digest);
}

} // namespace tarnvale::mzml
