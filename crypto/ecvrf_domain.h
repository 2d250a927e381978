// The domain-separator bytes of RFC 9381's ECVRF, under RFC 9381's own
// names. Every suite hashes
//
//   suite_string || <step>_domain_separator_front || ... || <step>_domain_separator_back
//
// in three steps: encode to curve (section 5.4.1.1, try and increment),
// challenge generation (section 5.4.3) and proof to hash (section 5.2). The
// separators are the same for every suite; only suite_string is the suite's
// own (each suite's file defines its kSuiteString), which is why they live
// here and not beside it.
#pragma once

#include <cstdint>

namespace quenfold::crypto::ecvrf {

inline constexpr std::uint8_t kEncodeToCurveDomainSeparatorFront = 0x01;
inline constexpr std::uint8_t kEncodeToCurveDomainSeparatorBack = 0x00;
inline constexpr std::uint8_t kChallengeGenerationDomainSeparatorFront = 0x02;
inline constexpr std::uint8_t kChallengeGenerationDomainSeparatorBack = 0x00;
inline constexpr std::uint8_t kProofToHashDomainSeparatorFront = 0x03;
inline constexpr std::uint8_t kProofToHashDomainSeparatorBack = 0x00;

}  // namespace quenfold::crypto::ecvrf
