#include "laser/ld.h"

namespace laser {

int32_t LDFrameCount = LDMinFrameCount;
TLDDisplaySettings LDSettings;
std::string LDPath;
std::string LDPaletteName;
std::filesystem::path LDPalettePath;

TLDFrameHeader LDFrameHeader{};
std::array<TLDPoint, LDMaxFramePoints> LDFrameBuffer{};

}  // namespace laser
