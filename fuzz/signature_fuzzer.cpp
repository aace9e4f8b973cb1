// libFuzzer target: the embedded-signature reader (PE Authenticode and appended CMS) over
// arbitrary bytes. Any input must give a status without a crash, a leak or undefined
// behaviour; only a well-signed input may verify.
#include <cstddef>
#include <cstdint>

#include "platform/TrustVerifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::TrustVerifier verifier;
    (void)verifier.VerifyBytes({data, size});
    return 0;
}
