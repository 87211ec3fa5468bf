#include "platform/sys/unicode.h"

#include <glib.h>

namespace plat::sys {

std::string nfcSortKey(const std::string& s) {
  // g_utf8_validate with a length rejects embedded NULs as well.
  if (!g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return s;
  gchar* nfc = g_utf8_normalize(s.data(), static_cast<gssize>(s.size()), G_NORMALIZE_NFC);
  if (nfc == nullptr) return s;
  std::string out(nfc);
  g_free(nfc);
  return out;
}

int comparePathsNFC(const std::string& a, const std::string& b) {
  // std::string compares bytes as unsigned char, which is scalar order.
  const int c = nfcSortKey(a).compare(nfcSortKey(b));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace plat::sys
