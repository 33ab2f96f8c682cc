// Glyph outlines in the TrueType native outline format, made from FreeType outlines of a font
// that fontconfig resolves from a name, weight and slant.
//
// The native format is a run of polygons, each a 16-byte header followed by curve records,
// all little-endian, coordinates in 16.16 fixed point (signed integer word above the
// fraction word), origin at the character origin on the base line, y growing upwards:
//   polygon header: uint32 cb (bytes of the polygon, header included), uint32 type (24),
//                   fixed x, fixed y of the contour's start point (an on-curve point);
//   curve record:   uint16 type, uint16 point count n, then n points (fixed x, fixed y).
// Record types: 1 lines to each point in turn; 2 a quadratic spline whose points are
// off-curve controls except the last, with the on-curve point between two consecutive
// controls left implicit (their midpoint), as TrueType stores it; 3 cubic pieces, three
// points each (two controls and the end point). The contour closes with a straight line from
// the last point back to the start when they differ.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr uint32_t kPolygonType = 24;
inline constexpr uint16_t kPrimLine = 1;
inline constexpr uint16_t kPrimQSpline = 2;
inline constexpr uint16_t kPrimCSpline = 3;
inline constexpr uint32_t kPolygonHeaderSize = 16;
inline constexpr uint32_t kCurveHeaderSize = 4;
inline constexpr uint32_t kFixedPointSize = 8;

// Answer of GetGlyphOutline when no outline can be had.
inline constexpr uint32_t kGlyphError = 0xFFFFFFFF;

// The screen resolution font sizes are converted at: a point is 96/72 pixels.
inline constexpr int kScreenPixelsPerInch = 96;

class FontFace;

// A font described by its attributes, the way a form's font object holds it: a family name,
// a size kept both in points and as a pixel height (a negative height is the em height
// without internal leading, a positive one the cell height), bold and italic. The FreeType
// face behind it is resolved on first use and again after the name or style changed.
// Single-threaded; copying is deleted (the face is owned), Assign copies the attributes.
class Font {
 public:
  Font();
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Takes over name, height and style of `other`; the face is resolved anew when needed.
  void Assign(const Font& other);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  // The size in points: -Height x 72 / 96, rounded (height -1365 reads 1024).
  int Size() const;
  // Sets the height to -(points x 96 / 72), rounded (1024 points give -1365).
  void SetSize(int points);
  int Height() const { return height_; }
  void SetHeight(int pixels) { height_ = pixels; }
  bool Bold() const { return bold_; }
  void SetBold(bool bold);
  bool Italic() const { return italic_; }
  void SetItalic(bool italic);

  // True when fontconfig resolves the attributes to a scalable font file that FreeType opens.
  // The first call after a change of name or style does the look-up (a few milliseconds);
  // later ones are cheap. Never throws.
  bool HasHandle();

  // The resolved face, or nullptr (what HasHandle says). Owned by the font.
  FontFace* Face();

 private:
  std::string name_;
  int height_;
  bool bold_ = false;
  bool italic_ = false;
  bool resolved_ = false;
  std::unique_ptr<FontFace> face_;
};

// How GetGlyphOutline reads the character code.
enum class GlyphCoding {
  kAnsi,  // a Windows-1252 byte (0..255); larger codes have no glyph
  kWide,  // a UTF-16 code unit, taken as the Unicode code point it names
};

// A 2 x 2 transform in 16.16 fixed point applied to the outline: x' = m11 x + m21 y,
// y' = m12 x + m22 y.
struct GlyphMatrix {
  int32_t m11 = 0x10000;
  int32_t m12 = 0;
  int32_t m21 = 0;
  int32_t m22 = 0x10000;
};

// The native outline of the glyph of `code` in `font`, loaded unhinted at the font's em size
// in pixels (-Height for a negative height; a positive height is the cell height, ascent
// plus descent), transformed by `matrix`. A code the font has no glyph for gives the font's
// missing-glyph outline (glyph 0), as the screen font would show it.
// With `buffer` null or `buffer_size` 0: returns the bytes the outline needs, 0 for a glyph
// without outline (the space). Otherwise writes the outline into `buffer` and returns the
// bytes written. Returns kGlyphError when the font has no handle, its height is 0, the code
// cannot be read, the glyph does not load as an outline, or `buffer_size` is too small.
// Never throws; single-threaded.
uint32_t GetGlyphOutline(Font& font, uint32_t code, GlyphCoding coding, const GlyphMatrix& matrix,
                         void* buffer, uint32_t buffer_size);

}  // namespace platform
