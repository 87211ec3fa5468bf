// Path comparison as Unicode text: both sides brought to canonical composed
// form (NFC) and compared by scalar value, which for UTF-8 is plain byte
// order. A name that is not valid UTF-8 (Linux allows any bytes) is compared
// by its raw bytes, so sorting never fails on it. Case and digits get no
// special treatment: "B" < "b" and "img10" < "img2".
#pragma once

#include <string>

namespace plat::sys {

// The key comparePathsNFC orders by: the NFC form of s when it is valid
// UTF-8, else s unchanged. Sorting many paths computes each key once.
std::string nfcSortKey(const std::string& s);

// <0, 0 or >0 as a sorts before, with or after b.
int comparePathsNFC(const std::string& a, const std::string& b);

}  // namespace plat::sys
