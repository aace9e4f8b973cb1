#include "platform/TrustVerifier.h"

#include "platform/FileStreams.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr char kModuleSignatureMagic[] = "~Module signature appended~\n";
constexpr std::size_t kMagicBytes = sizeof(kModuleSignatureMagic) - 1;  // 28
constexpr std::size_t kTrailerBytes = 12;
constexpr std::uint8_t kModuleIdPkcs7 = 2;  // id_type of a CMS module signature
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;
constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

// Random access to the bytes under test, file or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly `count` bytes at `offset`; false when they cannot all be read.
    virtual bool read(std::uint64_t offset, void* out, std::size_t count) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t count) override {
        if (offset > data_.size() || count > data_.size() - offset) return false;
        if (count > 0) std::memcpy(out, data_.data() + offset, count);
        return true;
    }

private:
    std::span<const std::uint8_t> data_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class FileSource final : public ByteSource {
public:
    bool open(const std::string& path) {
        // What is verified must be the file itself: a link could be turned elsewhere
        // between this check and whatever reads the file next.
        file_.reset(OpenForReading(path));
        if (!file_ || fseeko(file_.get(), 0, SEEK_END) != 0) return false;
        const off_t end = ftello(file_.get());
        if (end < 0) return false;
        size_ = static_cast<std::uint64_t>(end);
        position_ = size_;
        return true;
    }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) override {
        if (offset > size_ || count > size_ - offset) return false;
        if (offset != position_) {
            if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
        }
        const std::size_t got = std::fread(out, 1, count, file_.get());
        position_ = offset + got;
        return got == count;
    }

private:
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t Be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

struct Pkcs7Free { void operator()(PKCS7* p) const { PKCS7_free(p); } };
struct CmsFree { void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); } };
struct BioFree { void operator()(BIO* p) const { BIO_free(p); } };
struct SigFree { void operator()(X509_SIG* p) const { X509_SIG_free(p); } };
struct MdCtxFree { void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); } };
struct ObjFree { void operator()(ASN1_OBJECT* p) const { ASN1_OBJECT_free(p); } };
struct X509Free { void operator()(X509* p) const { X509_free(p); } };
struct X509StackFree { void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); } };
using CertificateStack = std::unique_ptr<STACK_OF(X509), X509StackFree>;

constexpr std::size_t kMaxCertificateFileBytes = 1u << 20;

TrustResult Status(std::uint32_t status, std::uint32_t lastError = 0) { return TrustResult{status, lastError, {}}; }

// What one verification looks at beyond the file itself.
struct Context {
    STACK_OF(X509)* extra;  // certificates handed in; never null
    const std::vector<std::string>& pins;
};

std::string Fingerprint(const X509* cert) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (cert == nullptr || X509_digest(cert, EVP_sha256(), digest.data(), &length) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

// The verdict on an intact signature: accepted unless pins are set and none names a signer.
TrustResult Intact(std::vector<std::string> signers, const Context& context) {
    TrustResult result{TRUST_STATUS_OK, 0, std::move(signers)};
    if (!context.pins.empty()) {
        const bool pinned = std::any_of(result.signers.begin(), result.signers.end(), [&](const std::string& signer) {
            return !signer.empty() && std::find(context.pins.begin(), context.pins.end(), signer) != context.pins.end();
        });
        if (!pinned) result.status = CERT_E_UNTRUSTEDROOT;
    }
    return result;
}

// A read-only BIO over [position, end) of a ByteSource (defined below).
struct RangeState {
    ByteSource* source;
    std::uint64_t position;
    std::uint64_t end;
    bool failed;
};
const BIO_METHOD* RangeMethod();

// ---- Authenticode -------------------------------------------------------------------

struct PeLayout {
    std::uint64_t checksumOffset = 0;     // 4 bytes left out of the image hash
    std::uint64_t securityEntryOffset = 0; // 8 bytes left out of the image hash
    std::uint32_t certTableOffset = 0;    // a file offset, not an RVA
    std::uint32_t certTableSize = 0;
};

// The offsets of a PE image, or nullopt when the bytes are not one.
std::optional<PeLayout> ReadPeLayout(ByteSource& source) {
    std::array<std::uint8_t, 64> dos{};
    if (!source.read(0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const std::uint64_t peOffset = Le32(&dos[0x3C]);
    std::array<std::uint8_t, 24> head{};
    if (!source.read(peOffset, head.data(), head.size()) || std::memcmp(head.data(), "PE\0\0", 4) != 0) return std::nullopt;
    const std::uint16_t optionalSize = Le16(&head[20]);
    const std::uint64_t optional = peOffset + head.size();
    std::array<std::uint8_t, 2> magic{};
    if (!source.read(optional, magic.data(), magic.size())) return std::nullopt;
    std::uint64_t directories = 0, directoryCountAt = 0;
    switch (Le16(magic.data())) {
        case 0x10B: directories = 96; directoryCountAt = 92; break;   // PE32
        case 0x20B: directories = 112; directoryCountAt = 108; break; // PE32+
        default: return std::nullopt;
    }
    PeLayout layout;
    layout.checksumOffset = optional + 64;
    layout.securityEntryOffset = optional + directories + 4 * 8;
    // The security entry must lie inside the optional header the image declares.
    if (layout.securityEntryOffset + 8 > optional + optionalSize) {
        return layout;  // no room for a certificate table: an unsigned image
    }
    std::array<std::uint8_t, 4> count{};
    std::array<std::uint8_t, 8> entry{};
    if (!source.read(optional + directoryCountAt, count.data(), count.size()) ||
        !source.read(layout.securityEntryOffset, entry.data(), entry.size())) {
        return std::nullopt;
    }
    if (Le32(count.data()) > 4) {
        layout.certTableOffset = Le32(&entry[0]);
        layout.certTableSize = Le32(&entry[4]);
    }
    return layout;
}

bool HashRange(ByteSource& source, EVP_MD_CTX* ctx, std::uint64_t from, std::uint64_t to) {
    std::vector<std::uint8_t> buffer(kChunkBytes);
    while (from < to) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, to - from));
        if (!source.read(from, buffer.data(), count) || EVP_DigestUpdate(ctx, buffer.data(), count) != 1) return false;
        from += count;
    }
    return true;
}

// DER element header at `p` (at most `available` bytes); false for anything but a
// definite-length element that fits.
bool ReadElement(const unsigned char*& p, long available, long& length, int& tag) {
    int xclass = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &xclass, available);
    if ((flags & 0x80) != 0 || flags == 0x21) return false;  // error, or indefinite length
    return true;
}

TrustResult VerifyAuthenticode(ByteSource& source, const PeLayout& layout, const Context& context) {
    if (layout.certTableOffset == 0 && layout.certTableSize == 0) {
        return Status(TRUST_E_NOSIGNATURE, TRUST_E_NOSIGNATURE);
    }
    const std::uint64_t tableStart = layout.certTableOffset;
    const std::uint64_t tableEnd = tableStart + layout.certTableSize;
    // The table follows the headers and is the last thing in the file: bytes after it would
    // be covered by neither the image hash nor the signature.
    if (tableStart < layout.securityEntryOffset + 8 || layout.certTableSize < 8 ||
        layout.certTableSize > TrustVerifier::kMaxSignatureBytes + 8 || tableEnd > source.size()) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    if (tableEnd != source.size()) return Status(TRUST_E_BAD_DIGEST);

    std::array<std::uint8_t, 8> header{};
    if (!source.read(tableStart, header.data(), header.size())) return Status(CRYPT_E_FILE_ERROR);
    const std::uint32_t certLength = Le32(&header[0]);
    if (certLength < 8 || certLength > layout.certTableSize || Le16(&header[4]) != kWinCertRevision2 ||
        Le16(&header[6]) != kWinCertTypePkcsSignedData) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    std::vector<std::uint8_t> blob(certLength - 8);
    if (!source.read(tableStart + 8, blob.data(), blob.size())) return Status(CRYPT_E_FILE_ERROR);

    const unsigned char* p = blob.data();
    std::unique_ptr<PKCS7, Pkcs7Free> pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(blob.size())));
    if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) || pkcs7->d.sign == nullptr ||
        pkcs7->d.sign->contents == nullptr) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    // The signed content is an SpcIndirectDataContent, a type OpenSSL does not know, so it
    // arrives as an opaque SEQUENCE that is walked by hand.
    PKCS7* contents = pkcs7->d.sign->contents;
    std::unique_ptr<ASN1_OBJECT, ObjFree> spcOid(OBJ_txt2obj(kSpcIndirectDataOid, 1));
    if (!spcOid || contents->type == nullptr || OBJ_cmp(contents->type, spcOid.get()) != 0 ||
        contents->d.other == nullptr || contents->d.other->type != V_ASN1_SEQUENCE ||
        contents->d.other->value.sequence == nullptr) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    const ASN1_STRING* sequence = contents->d.other->value.sequence;
    const unsigned char* cursor = ASN1_STRING_get0_data(sequence);
    const long total = ASN1_STRING_length(sequence);
    long length = 0;
    int tag = 0;
    if (!ReadElement(cursor, total, length, tag) || tag != V_ASN1_SEQUENCE) return Status(CRYPT_E_ASN1_BADTAG);
    // What was signed: the content's octets without the outer SEQUENCE header.
    const unsigned char* signedContent = cursor;
    const long signedLength = length;
    const unsigned char* end = signedContent + signedLength;
    // Skip SpcAttributeTypeAndOptionalValue, then read the DigestInfo.
    const unsigned char* element = cursor;
    if (!ReadElement(element, end - cursor, length, tag) || tag != V_ASN1_SEQUENCE || length > end - element) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    cursor = element + length;
    std::unique_ptr<X509_SIG, SigFree> digestInfo(d2i_X509_SIG(nullptr, &cursor, end - cursor));
    if (!digestInfo) return Status(CRYPT_E_ASN1_BADTAG);
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* signedDigest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &signedDigest);
    const ASN1_OBJECT* algorithmOid = nullptr;
    X509_ALGOR_get0(&algorithmOid, nullptr, nullptr, algorithm);
    const EVP_MD* md = algorithmOid != nullptr ? EVP_get_digestbyobj(algorithmOid) : nullptr;
    if (md == nullptr || signedDigest == nullptr) return Status(CRYPT_E_ASN1_BADTAG);

    // The image hash: everything before the certificate table except the checksum and the
    // security directory entry, which signing changes.
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return Status(CRYPT_E_FILE_ERROR);
    if (!HashRange(source, ctx.get(), 0, layout.checksumOffset) ||
        !HashRange(source, ctx.get(), layout.checksumOffset + 4, layout.securityEntryOffset) ||
        !HashRange(source, ctx.get(), layout.securityEntryOffset + 8, tableStart)) {
        return Status(CRYPT_E_FILE_ERROR);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> imageHash{};
    unsigned int hashLength = 0;
    if (EVP_DigestFinal_ex(ctx.get(), imageHash.data(), &hashLength) != 1) return Status(CRYPT_E_FILE_ERROR);

    // The signer's certificate, from the ones handed in or the ones the signature carries.
    std::vector<std::string> signers;
    {
        STACK_OF(X509)* found = PKCS7_get0_signers(pkcs7.get(), context.extra, 0);
        if (found == nullptr) {
            const unsigned long error = ERR_peek_last_error();
            return Status(ERR_GET_LIB(error) == ERR_LIB_PKCS7 &&
                                  ERR_GET_REASON(error) == PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND
                              ? TRUST_E_NO_SIGNER_CERT
                              : CRYPT_E_ASN1_BADTAG);
        }
        for (int i = 0; i < sk_X509_num(found); ++i) signers.push_back(Fingerprint(sk_X509_value(found, i)));
        sk_X509_free(found);
    }

    // Hash-only: the signer's certificate is not chained to any root (PKCS7_NOVERIFY); the
    // signature over the content and its signed attributes must hold.
    // The content goes in through our own BIO type: PKCS7_verify copies a memory BIO into
    // a temporary one that it does not free on every error path.
    MemorySource signedSource({signedContent, static_cast<std::size_t>(signedLength)});
    RangeState state{&signedSource, 0, static_cast<std::uint64_t>(signedLength), false};
    const BIO_METHOD* method = RangeMethod();
    std::unique_ptr<BIO, BioFree> content(method != nullptr ? BIO_new(method) : nullptr);
    if (!content) return Status(CRYPT_E_FILE_ERROR);
    BIO_set_data(content.get(), &state);
    const int verified =
        PKCS7_verify(pkcs7.get(), context.extra, nullptr, content.get(), nullptr, PKCS7_BINARY | PKCS7_NOVERIFY);
    BIO_set_data(content.get(), nullptr);
    if (verified != 1) return Status(NTE_BAD_SIGNATURE);
    if (static_cast<unsigned int>(ASN1_STRING_length(signedDigest)) != hashLength ||
        std::memcmp(ASN1_STRING_get0_data(signedDigest), imageHash.data(), hashLength) != 0) {
        return Status(TRUST_E_BAD_DIGEST);
    }
    return Intact(std::move(signers), context);
}

// ---- Appended CMS signature -----------------------------------------------------------

// The content is streamed into the verifier instead of being loaded whole.
int RangeRead(BIO* bio, char* out, int count) {
    auto* state = static_cast<RangeState*>(BIO_get_data(bio));
    if (state == nullptr || count <= 0 || state->position >= state->end) return 0;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(count),
                                                                               state->end - state->position));
    if (!state->source->read(state->position, out, take)) {
        state->failed = true;
        return -1;
    }
    state->position += take;
    return static_cast<int>(take);
}

long RangeCtrl(BIO* bio, int command, long, void*) {
    auto* state = static_cast<RangeState*>(BIO_get_data(bio));
    switch (command) {
        case BIO_CTRL_EOF: return state == nullptr || state->position >= state->end ? 1 : 0;
        case BIO_CTRL_FLUSH: return 1;
        default: return 0;
    }
}

int RangeCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* RangeMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "byte range");
        if (m != nullptr) {
            BIO_meth_set_read(m, RangeRead);
            BIO_meth_set_ctrl(m, RangeCtrl);
            BIO_meth_set_create(m, RangeCreate);
        }
        return m;
    }();
    return method;
}

TrustResult VerifyAppendedCms(ByteSource& source, const Context& context) {
    const std::uint64_t size = source.size();
    std::array<std::uint8_t, kTrailerBytes> trailer{};
    if (!source.read(size - kMagicBytes - kTrailerBytes, trailer.data(), trailer.size())) return Status(CRYPT_E_FILE_ERROR);
    const std::uint32_t signatureLength = Be32(&trailer[8]);
    const std::uint64_t available = size - kMagicBytes - kTrailerBytes;
    if (trailer[2] != kModuleIdPkcs7 || signatureLength == 0 || signatureLength > TrustVerifier::kMaxSignatureBytes ||
        signatureLength > available) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    const std::uint64_t contentEnd = available - signatureLength;
    std::vector<std::uint8_t> der(signatureLength);
    if (!source.read(contentEnd, der.data(), der.size())) return Status(CRYPT_E_FILE_ERROR);
    const unsigned char* p = der.data();
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
    if (!cms || p != der.data() + der.size() || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        CMS_is_detached(cms.get()) != 1) {
        return Status(CRYPT_E_ASN1_BADTAG);
    }
    // Each signer's certificate, from the ones handed in or the ones the signature carries.
    // Kernel modules carry none: without it the signature cannot be checked at all, which is
    // worth telling apart from a broken one.
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) <= 0) return Status(CRYPT_E_ASN1_BADTAG);
    if (CMS_set1_signers_certs(cms.get(), context.extra, 0) < 0) return Status(CRYPT_E_ASN1_BADTAG);
    std::vector<std::string> signers;
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        X509* signer = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, i), nullptr, &signer, nullptr, nullptr);
        if (signer == nullptr) return Status(TRUST_E_NO_SIGNER_CERT);
        signers.push_back(Fingerprint(signer));
    }
    const BIO_METHOD* method = RangeMethod();
    if (method == nullptr) return Status(CRYPT_E_FILE_ERROR);
    RangeState state{&source, 0, contentEnd, false};
    std::unique_ptr<BIO, BioFree> content(BIO_new(method));
    if (!content) return Status(CRYPT_E_FILE_ERROR);
    BIO_set_data(content.get(), &state);
    // Hash-only, like the Authenticode check: any signer whose signature over this content
    // is intact is accepted; no chain is built (CMS_NO_SIGNER_CERT_VERIFY).
    const int verified = CMS_verify(cms.get(), context.extra, nullptr, content.get(), nullptr,
                                    CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
    BIO_set_data(content.get(), nullptr);
    if (state.failed) return Status(CRYPT_E_FILE_ERROR);
    if (verified != 1) {
        const unsigned long error = ERR_peek_last_error();
        if (ERR_GET_LIB(error) == ERR_LIB_CMS && ERR_GET_REASON(error) == CMS_R_CONTENT_VERIFY_ERROR) {
            return Status(TRUST_E_BAD_DIGEST);
        }
        return Status(NTE_BAD_SIGNATURE);
    }
    return Intact(std::move(signers), context);
}

bool HasAppendedSignatureMagic(ByteSource& source) {
    if (source.size() < kMagicBytes + kTrailerBytes) return false;
    std::array<char, kMagicBytes> tail{};
    return source.read(source.size() - kMagicBytes, tail.data(), tail.size()) &&
           std::memcmp(tail.data(), kModuleSignatureMagic, kMagicBytes) == 0;
}

CertificateStack ParseCertificates(const std::vector<std::string>& ders) {
    CertificateStack stack(sk_X509_new_null());
    if (!stack) return stack;
    for (const std::string& der : ders) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
        std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        if (cert && sk_X509_push(stack.get(), cert.get()) > 0) cert.release();
    }
    return stack;
}

TrustResult Verify(ByteSource& source, const std::vector<std::string>& extraCertificates,
                   const std::vector<std::string>& pins) {
    CertificateStack extra = ParseCertificates(extraCertificates);
    if (!extra) return Status(CRYPT_E_FILE_ERROR);
    const Context context{extra.get(), pins};
    TrustResult result;
    if (const auto layout = ReadPeLayout(source)) {
        result = VerifyAuthenticode(source, *layout, context);
    } else if (HasAppendedSignatureMagic(source)) {
        result = VerifyAppendedCms(source, context);
    } else {
        result = Status(TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN);
    }
    // Leave nothing in this thread's error queue for unrelated OpenSSL users.
    ERR_clear_error();
    return result;
}

}  // namespace

std::optional<std::string> TrustVerifier::NormaliseFingerprint(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 64) return std::nullopt;
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 64) return std::nullopt;
    return digits;
}

bool TrustVerifier::AddSignerCertificates(const std::string& path, std::string& error) {
    FileSource source;
    if (!source.open(path)) {
        error = "cannot read " + path;
        return false;
    }
    if (source.size() == 0 || source.size() > kMaxCertificateFileBytes) {
        error = path + " is empty or too large for a certificate file";
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(source.size()));
    if (!source.read(0, bytes.data(), bytes.size())) {
        error = "cannot read " + path;
        return false;
    }
    std::vector<std::string> found;
    auto keep = [&found](X509* cert) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(cert, &der);
        if (length > 0) found.emplace_back(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
        OPENSSL_free(der);
    };
    std::unique_ptr<BIO, BioFree> pem(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (pem && found.size() <= kMaxExtraCertificates) {
        std::unique_ptr<X509, X509Free> cert(PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr));
        if (!cert) break;
        keep(cert.get());
    }
    if (found.empty()) {
        const unsigned char* p = bytes.data();
        std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
        if (cert) keep(cert.get());
    }
    ERR_clear_error();
    if (found.empty()) {
        error = path + " holds no certificate (PEM or DER)";
        return false;
    }
    if (found.size() > kMaxExtraCertificates) {
        error = path + " holds more than " + std::to_string(kMaxExtraCertificates) + " certificates";
        return false;
    }
    extraCertificates_.insert(extraCertificates_.end(), found.begin(), found.end());
    return true;
}

TrustResult TrustVerifier::VerifyFile(const std::string& path) const {
    FileSource source;
    if (!source.open(path)) return Status(TRUST_E_NOSIGNATURE, CRYPT_E_FILE_ERROR);
    return Verify(source, extraCertificates_, pins_);
}

TrustResult TrustVerifier::VerifyBytes(std::span<const std::uint8_t> data) const {
    MemorySource source(data);
    return Verify(source, extraCertificates_, pins_);
}

}  // namespace platform
