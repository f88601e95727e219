// Whether this build runs under AddressSanitizer (gcc and clang announce it differently).
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHIZUVEC_ADDRESS_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(CHIZUVEC_ADDRESS_CHECKED)
#define CHIZUVEC_ADDRESS_CHECKED 1
#endif
