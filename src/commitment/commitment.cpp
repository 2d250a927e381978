#include "commitment/commitment.h"

#include <algorithm>
#include <array>

#include "encoding/context.h"
#include "base/writer.h"
#include "quenfold/commitment.h"

namespace quenfold {

crypto::Bytes64 commit(ByteView context, ByteView value, ByteView opening) {
  // Streamed: the length prefix, the context, the opening, then the value,
  // without building the concatenation.
  const auto len = encoding::big_endian<8>(context.size());
  return crypto::sha3_512({len, context, opening, value});
}

std::expected<void, Error> verify_commitment(std::string_view context, ByteView commitment,
                                             ByteView value, ByteView opening) {
  if (commitment.size() != kCommitmentLen)
    return std::unexpected(Error::wrong_fixed_length("commitment", kCommitmentLen));
  if (opening.size() != kOpeningLen)
    return std::unexpected(Error::wrong_fixed_length("opening", kOpeningLen));
  const auto computed = commit(encoding::bytes_of(context), value, opening);
  if (!std::equal(computed.begin(), computed.end(), commitment.begin()))
    return std::unexpected(Error::commitment_mismatch());
  return {};
}

}  // namespace quenfold
