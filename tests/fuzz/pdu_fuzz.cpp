// A received SMS in PDU mode as the phone sends it: the input is the hexadecimal text the
// decoder gets from the reply of AT+CMGR. Whatever it holds, the decoder gives four texts and
// reads nothing past the input; the text is at most what 255 septets unpack to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "phone/HandyKomm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static phone::TMobilKomm* komm = [] {
    auto* k = new phone::TMobilKomm;
    k->SetDefaults();
    return k;
  }();
  // A copy of exactly the input's size, so that a read past its end is one past the heap block.
  std::string pdu(reinterpret_cast<const char*>(data), size);
  std::string smsc, sender, stamp, text;
  komm->DecodePdu(pdu, smsc, sender, stamp, text);
  if (text.size() > 2 * 255) std::abort();  // 255 septets, each at most two characters
  return 0;
}
