#include "platform/glyph.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/text.h"

namespace platform {
namespace {

// MulDiv as Windows rounds it: the exact quotient, halves away from zero.
int MulDiv(int a, int b, int c) {
  long long p = static_cast<long long>(a) * b;
  long long q = (p >= 0 ? p + c / 2 : p - c / 2) / c;
  return static_cast<int>(q);
}

void PutLE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void SetLE32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 26.6 FreeType coordinate as 16.16, or nullopt when it does not fit.
std::optional<int32_t> ToFixed(FT_Pos v) {
  if (v <= -(1L << 21) || v >= (1L << 21)) return std::nullopt;
  return static_cast<int32_t>(v * 1024);
}

// Writes one FreeType outline in the native format (see glyph.h). Consecutive on-curve points
// share one line record, each run of conic controls with the on-curve point that ends it is
// one quadratic record, consecutive cubic pieces share one cubic record. nullopt for an
// outline FreeType itself would reject (a contour starting on a cubic control, a lone cubic
// control) or one whose coordinates do not fit 16.16.
class NativeWriter {
 public:
  std::optional<std::vector<uint8_t>> Write(const FT_Outline& outline) {
    int first = 0;
    for (int c = 0; c < outline.n_contours; ++c) {
      int last = outline.contours[c];
      if (last < first || last >= outline.n_points) return std::nullopt;
      if (!Contour(outline, first, last)) return std::nullopt;
      first = last + 1;
    }
    return std::move(out_);
  }

 private:
  struct Pt {
    FT_Pos x, y;
    int tag;
  };

  bool Contour(const FT_Outline& o, int first, int last) {
    auto at = [&](int i) { return Pt{o.points[i].x, o.points[i].y, FT_CURVE_TAG(o.tags[i])}; };
    std::vector<Pt> walk;
    Pt start = at(first);
    int from = first + 1, to = last;
    if (start.tag == FT_CURVE_TAG_CUBIC) return false;
    if (start.tag == FT_CURVE_TAG_CONIC) {
      Pt end = at(last);
      if (end.tag == FT_CURVE_TAG_ON) {
        start = end;
        from = first;
        to = last - 1;
      } else {
        // Both ends are controls: the contour starts at the implied point between them,
        // computed the way FreeType computes it.
        start = Pt{(start.x + end.x) / 2, (start.y + end.y) / 2, FT_CURVE_TAG_ON};
        from = first;
      }
    }
    for (int i = from; i <= to; ++i) walk.push_back(at(i));

    polygon_at_ = out_.size();
    PutLE32(out_, 0);
    PutLE32(out_, kPolygonType);
    if (!Point(start)) return false;
    record_at_ = 0;
    record_type_ = 0;

    size_t i = 0;
    while (i < walk.size()) {
      const Pt& p = walk[i];
      if (p.tag == FT_CURVE_TAG_ON) {
        if (!Add(kPrimLine, p, true)) return false;
        ++i;
      } else if (p.tag == FT_CURVE_TAG_CONIC) {
        bool first_point = true;
        while (i < walk.size() && walk[i].tag == FT_CURVE_TAG_CONIC) {
          if (!Add(kPrimQSpline, walk[i], !first_point)) return false;
          first_point = false;
          ++i;
        }
        if (i < walk.size() && walk[i].tag == FT_CURVE_TAG_CUBIC) return false;
        if (!Add(kPrimQSpline, i < walk.size() ? walk[i] : start, true)) return false;
        if (i < walk.size()) ++i;
      } else {
        if (i + 1 >= walk.size() || walk[i + 1].tag != FT_CURVE_TAG_CUBIC) return false;
        if (i + 2 < walk.size() && walk[i + 2].tag != FT_CURVE_TAG_ON) return false;
        if (!Add(kPrimCSpline, walk[i], true) || !Add(kPrimCSpline, walk[i + 1], true) ||
            !Add(kPrimCSpline, i + 2 < walk.size() ? walk[i + 2] : start, true))
          return false;
        i += 3;
      }
    }
    SetLE32(out_, polygon_at_, static_cast<uint32_t>(out_.size() - polygon_at_));
    return true;
  }

  // Appends `p` to the open record when it has `type` and `join` allows it, else to a new one.
  bool Add(uint16_t type, const Pt& p, bool join) {
    if (!(join && record_type_ == type)) {
      record_at_ = out_.size();
      record_type_ = type;
      PutLE16(out_, type);
      PutLE16(out_, 0);
    }
    uint16_t count = static_cast<uint16_t>(out_[record_at_ + 2] | out_[record_at_ + 3] << 8);
    if (count == 0xFFFF) return false;
    ++count;
    out_[record_at_ + 2] = static_cast<uint8_t>(count);
    out_[record_at_ + 3] = static_cast<uint8_t>(count >> 8);
    return Point(p);
  }

  bool Point(const Pt& p) {
    auto x = ToFixed(p.x), y = ToFixed(p.y);
    if (!x || !y) return false;
    PutLE32(out_, static_cast<uint32_t>(*x));
    PutLE32(out_, static_cast<uint32_t>(*y));
    return true;
  }

  std::vector<uint8_t> out_;
  size_t polygon_at_ = 0;
  size_t record_at_ = 0;
  uint16_t record_type_ = 0;
};

}  // namespace

// The FreeType library and face of one resolved font, with the last outline built, so the
// size request and the fetch that follows it load the glyph once.
class FontFace {
 public:
  ~FontFace() {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  static std::unique_ptr<FontFace> Open(const std::string& file, int index) {
    auto face = std::unique_ptr<FontFace>(new FontFace);
    if (FT_Init_FreeType(&face->library_) != 0) {
      face->library_ = nullptr;
      return nullptr;
    }
    if (FT_New_Face(face->library_, file.c_str(), index, &face->face_) != 0) {
      face->face_ = nullptr;
      return nullptr;
    }
    if (!FT_IS_SCALABLE(face->face_)) return nullptr;
    return face;
  }

  // The native outline, or nullopt on failure; empty for a glyph without contours.
  const std::optional<std::vector<uint8_t>>& Outline(FT_UInt glyph, FT_F26Dot6 em,
                                                     const GlyphMatrix& m) {
    if (cached_ && glyph == glyph_ && em == em_ && std::memcmp(&m, &matrix_, sizeof m) == 0)
      return bytes_;
    cached_ = true;
    glyph_ = glyph;
    em_ = em;
    matrix_ = m;
    bytes_.reset();
    FT_Matrix ft{m.m11, m.m21, m.m12, m.m22};
    if (FT_Set_Char_Size(face_, 0, em, 72, 72) != 0) return bytes_;
    FT_Set_Transform(face_, &ft, nullptr);
    FT_Error error = FT_Load_Glyph(face_, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
    FT_Set_Transform(face_, nullptr, nullptr);
    if (error != 0 || face_->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return bytes_;
    bytes_ = NativeWriter().Write(face_->glyph->outline);
    return bytes_;
  }

  // The em size in 26.6 pixels for a font height, 0 when there is none.
  FT_F26Dot6 EmSize(int height) const {
    if (height < 0) return static_cast<FT_F26Dot6>(-static_cast<long long>(height) * 64);
    if (height == 0) return 0;
    long long cell = face_->ascender - face_->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0)
      cell = os2->usWinAscent + os2->usWinDescent;
    if (cell <= 0) return 0;
    return static_cast<FT_F26Dot6>(static_cast<long long>(height) * 64 * face_->units_per_EM /
                                   cell);
  }

  FT_Face face() const { return face_; }

 private:
  FontFace() = default;

  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  bool cached_ = false;
  FT_UInt glyph_ = 0;
  FT_F26Dot6 em_ = 0;
  GlyphMatrix matrix_;
  std::optional<std::vector<uint8_t>> bytes_;
};

namespace {

// The font file and face index fontconfig chooses for the attributes.
std::unique_ptr<FontFace> Resolve(const std::string& name, bool bold, bool italic) {
  // Fontconfig keeps its configuration and caches for the process; they are given back at
  // exit so that leak checkers see only what the program itself still holds.
  static const bool fini_at_exit = std::atexit(FcFini) == 0;
  (void)fini_at_exit;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  std::string utf8 = AnsiToUtf8(name);
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;
  std::unique_ptr<FontFace> face;
  FcChar8* file = nullptr;
  int index = 0;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    face = FontFace::Open(reinterpret_cast<const char*>(file), index);
  }
  FcPatternDestroy(match);
  return face;
}

}  // namespace

Font::Font() : name_("Arial"), height_(-MulDiv(8, kScreenPixelsPerInch, 72)) {}
Font::~Font() = default;

void Font::Assign(const Font& other) {
  if (&other == this) return;
  SetName(other.name_);
  height_ = other.height_;
  SetBold(other.bold_);
  SetItalic(other.italic_);
}

void Font::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  resolved_ = false;
}

int Font::Size() const {
  return -MulDiv(height_, 72, kScreenPixelsPerInch);
}

void Font::SetSize(int points) {
  height_ = -MulDiv(points, kScreenPixelsPerInch, 72);
}

void Font::SetBold(bool bold) {
  if (bold == bold_) return;
  bold_ = bold;
  resolved_ = false;
}

void Font::SetItalic(bool italic) {
  if (italic == italic_) return;
  italic_ = italic;
  resolved_ = false;
}

FontFace* Font::Face() {
  if (!resolved_) {
    face_.reset();
    face_ = Resolve(name_, bold_, italic_);
    resolved_ = true;
  }
  return face_.get();
}

bool Font::HasHandle() {
  return Face() != nullptr;
}

uint32_t GetGlyphOutline(Font& font, uint32_t code, GlyphCoding coding, const GlyphMatrix& matrix,
                         void* buffer, uint32_t buffer_size) {
  FontFace* face = font.Face();
  if (!face) return kGlyphError;
  FT_ULong cp;
  if (coding == GlyphCoding::kAnsi) {
    if (code > 0xFF) return kGlyphError;
    cp = AnsiToUnicode(static_cast<unsigned char>(code));
  } else {
    if (code > 0xFFFF) return kGlyphError;
    cp = code;
  }
  FT_F26Dot6 em = face->EmSize(font.Height());
  if (em <= 0) return kGlyphError;
  const auto& bytes = face->Outline(FT_Get_Char_Index(face->face(), cp), em, matrix);
  if (!bytes) return kGlyphError;
  auto size = static_cast<uint32_t>(bytes->size());
  if (!buffer || buffer_size == 0) return size;
  if (buffer_size < size) return kGlyphError;
  std::memcpy(buffer, bytes->data(), size);
  return size;
}

}  // namespace platform
