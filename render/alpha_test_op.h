// The alpha test: compares the alpha byte of each alive fragment with the
// reference.
#pragma once

#include "render/fragment_op.h"

class AlphaTestOp final : public AlphaFragmentOp {
  public:
    // Function codes 0 to 7.
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // Rejected pixels are skipped. At the first alive pixel function 0 returns 0
    // and function 1 returns 1, marking nothing; functions 2..7 mark each alive
    // pixel that fails. Result 1 if an alive pixel passed. A null frag is
    // accepted only for functions 0 and 1, which do not read it.
    uint8_t test(const uint8_t* frag, uint8_t* mask, uint8_t func, uint8_t ref,
                 uint16_t n) const override;
};
