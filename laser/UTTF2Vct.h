// Turns one character of a TrueType font into straight line strokes. Curved outline pieces
// are cut into `Precision` straight segments each. The text-to-points builder calls
// ConvertChar once for every character of the display text that is not a space.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "platform/glyph.h"

namespace laser {

// One straight stroke of a glyph in glyph units (device pixels of the font at its conversion
// size, origin at the character origin on the base line, y growing upwards).
struct TStroke {
  int32_t Contour = 0;  // outline contour (polygon) of the glyph, counted from 0
  int32_t X1 = 0, Y1 = 0;
  int32_t X2 = 0, Y2 = 0;

  bool operator==(const TStroke&) const = default;
};

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;

  bool operator==(const TRect&) const = default;
};

// Raised by TStrokeCollection::GetStroke for an index outside the list, with the text "error".
class EListError : public std::out_of_range {
 public:
  EListError() : std::out_of_range("error") {}
};

// The strokes of one glyph, in the order the outline gives them. Owns its records.
class TStrokeCollection {
 public:
  int Count() const { return static_cast<int>(strokes_.size()); }
  // Copies stroke `index` (0-based) into `stroke`. Throws EListError outside 0..Count-1.
  void GetStroke(int index, TStroke& stroke) const;
  void Add(const TStroke& stroke) { strokes_.push_back(stroke); }
  // Removes every stroke.
  void Clear() { strokes_.clear(); }
  // Left/Top = the smallest X/Y of any stroke end, Right/Bottom = the largest; (0, 0, 0, 0)
  // for an empty list.
  TRect BoundingRect() const;
  const std::vector<TStroke>& Strokes() const { return strokes_; }

 private:
  std::vector<TStroke> strokes_;
};

// Anything that turns a character code into strokes: the converter below, or a test's fake.
class TStrokeSource {
 public:
  virtual ~TStrokeSource() = default;
  // The strokes of the glyph of `ch` (an 8-bit ANSI code zero-extended, or a UTF-16 unit),
  // owned by the caller; nullptr when the character has no outline or cannot be converted.
  virtual std::unique_ptr<TStrokeCollection> ConvertChar(uint32_t ch) = 0;
};

// The strokes of a glyph outline in the native format (platform/glyph.h), each quadratic or
// cubic piece cut into `precision` segments. The buffer is checked as it is walked: nullptr
// unless every polygon header has the polygon type and a size within the buffer and every
// record's points fit the polygon's bytes left (and a cubic record holds whole pieces).
// Records of unknown type add nothing and leave the current point where it was.
std::unique_ptr<TStrokeCollection> StrokesFromNativeOutline(std::span<const uint8_t> buffer,
                                                            int precision);

// The converter component: a font of its own, the precision, and the choice of code reading.
class TTTFToVectorConverter : public TStrokeSource {
 public:
  // Font "Arial" at 28 points, Precision 8, UNICODE false.
  TTTFToVectorConverter();
  TTTFToVectorConverter(const TTTFToVectorConverter&) = delete;
  TTTFToVectorConverter& operator=(const TTTFToVectorConverter&) = delete;

  // The converter's own font; after a conversion its size reads 1024 points.
  platform::Font& Font() { return font_; }
  // Copies the attributes of `value` into the converter's font; the caller keeps its font.
  void SetFont(const platform::Font& value) { font_.Assign(value); }
  int Precision() const { return precision_; }
  // Takes 1..100; any other value is ignored.
  void SetPrecision(int value);
  // Read the character code as UTF-16 rather than as a Windows-1252 byte.
  bool UNICODE = false;

  // The strokes of the glyph of `ch` taken at 1024 points (the font keeps that size), or
  // nullptr when the font has no handle, the glyph has no outline (the space), the outline
  // request fails or the outline is malformed. Never throws.
  std::unique_ptr<TStrokeCollection> ConvertChar(uint32_t ch) override;

 private:
  platform::Font font_;
  int precision_ = 8;
};

}  // namespace laser
