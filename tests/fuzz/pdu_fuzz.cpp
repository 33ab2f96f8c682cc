// A received SMS in PDU mode as the phone sends it: the input is the hexadecimal text the
// decoder gets from the reply of AT+CMGR. Whatever it holds, the decoder gives four texts and
// reads nothing past the input; the text has at most one character per septet of the user data
// length, an octet, so at most 255.
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
  if (text.size() > 255) std::abort();
  return 0;
}
