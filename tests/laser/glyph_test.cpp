// The glyph source over the real DejaVu Sans: outlines checked against FreeType's own walk of
// the same glyph, and the converter's strokes of a few characters.
#include "platform/glyph.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_BBOX_H

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "laser/UTTF2Vct.h"
#include "platform/text.h"

namespace platform {

const char kDejaVuFile[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// An OpenType font with CFF (cubic) outlines.
const char kCantarellFile[] = "/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf";

namespace {
// The matrix the converter asks with.
const GlyphMatrix kMatrix{0x10001, 1, 1, 0x10001};

using Segments = std::vector<std::string>;

std::string Pt(long x, long y) {
  return std::to_string(x) + "," + std::to_string(y);
}

// The segments FreeType's FT_Outline_Decompose gives for the glyph of `cp` in the font file at
// 1365 pixels, with the same transform; lines of length zero are left out.
Segments FreeTypeSegments(const char* file, char32_t cp) {
  FT_Library lib;
  EXPECT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  EXPECT_EQ(FT_New_Face(lib, file, 0, &face), 0);
  FT_Set_Char_Size(face, 0, 1365 * 64, 72, 72);
  FT_Matrix m{kMatrix.m11, kMatrix.m21, kMatrix.m12, kMatrix.m22};
  FT_Set_Transform(face, &m, nullptr);
  EXPECT_EQ(FT_Load_Char(face, cp, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
  struct Walk {
    Segments out;
    FT_Vector at{};
  } walk;
  FT_Outline_Funcs funcs{};
  funcs.move_to = [](const FT_Vector* to, void* u) {
    auto* w = static_cast<Walk*>(u);
    w->out.push_back("M " + Pt(to->x, to->y));
    w->at = *to;
    return 0;
  };
  funcs.line_to = [](const FT_Vector* to, void* u) {
    auto* w = static_cast<Walk*>(u);
    if (to->x != w->at.x || to->y != w->at.y) w->out.push_back("L " + Pt(to->x, to->y));
    w->at = *to;
    return 0;
  };
  funcs.conic_to = [](const FT_Vector* c, const FT_Vector* to, void* u) {
    auto* w = static_cast<Walk*>(u);
    w->out.push_back("Q " + Pt(c->x, c->y) + " " + Pt(to->x, to->y));
    w->at = *to;
    return 0;
  };
  funcs.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* u) {
    auto* w = static_cast<Walk*>(u);
    w->out.push_back("C " + Pt(c1->x, c1->y) + " " + Pt(c2->x, c2->y) + " " + Pt(to->x, to->y));
    w->at = *to;
    return 0;
  };
  EXPECT_EQ(FT_Outline_Decompose(&face->glyph->outline, &funcs, &walk), 0);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return walk.out;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

// The segments a native outline describes, in FreeType's 26.6 units, implied points computed
// as FreeType computes them; nullopt when the buffer is not well formed: polygon headers of
// type 24 whose sizes tile the buffer exactly, records of type 1..3 that tile each polygon, a
// quadratic record of at least two points, a cubic one of whole pieces, every coordinate a
// whole 26.6 value.
std::optional<Segments> NativeSegments(const std::vector<uint8_t>& b) {
  Segments out;
  size_t at = 0;
  bool exact = true;
  auto point = [&](size_t p) {
    int32_t x = static_cast<int32_t>(Le32(b, p)), y = static_cast<int32_t>(Le32(b, p + 4));
    if (x % 1024 != 0 || y % 1024 != 0) exact = false;
    return FT_Vector{x / 1024, y / 1024};
  };
  auto line = [&](FT_Vector& cur, FT_Vector to) {
    if (to.x != cur.x || to.y != cur.y) out.push_back("L " + Pt(to.x, to.y));
    cur = to;
  };
  while (at < b.size()) {
    if (b.size() - at < 16 || Le32(b, at + 4) != 24) return std::nullopt;
    size_t cb = Le32(b, at), end = at + cb;
    if (cb < 16 || cb > b.size() - at) return std::nullopt;
    FT_Vector start = point(at + 8), cur = start;
    out.push_back("M " + Pt(start.x, start.y));
    for (size_t r = at + 16; r < end;) {
      if (end - r < 4) return std::nullopt;
      uint16_t type = static_cast<uint16_t>(b[r] | b[r + 1] << 8);
      size_t n = static_cast<size_t>(b[r + 2] | b[r + 3] << 8);
      if (n == 0 || 4 + 8 * n > end - r) return std::nullopt;
      std::vector<FT_Vector> pts;
      for (size_t k = 0; k < n; ++k) pts.push_back(point(r + 4 + 8 * k));
      if (type == 1) {
        for (auto p : pts) line(cur, p);
      } else if (type == 2) {
        if (n < 2) return std::nullopt;
        for (size_t k = 0; k + 1 < n; ++k) {
          FT_Vector to = pts[k + 1];
          if (k + 2 < n)
            to = FT_Vector{(pts[k].x + pts[k + 1].x) / 2, (pts[k].y + pts[k + 1].y) / 2};
          out.push_back("Q " + Pt(pts[k].x, pts[k].y) + " " + Pt(to.x, to.y));
          cur = to;
        }
      } else if (type == 3) {
        if (n % 3 != 0) return std::nullopt;
        for (size_t k = 0; k < n; k += 3) {
          out.push_back("C " + Pt(pts[k].x, pts[k].y) + " " + Pt(pts[k + 1].x, pts[k + 1].y) + " " +
                        Pt(pts[k + 2].x, pts[k + 2].y));
          cur = pts[k + 2];
        }
      } else {
        return std::nullopt;
      }
      r += 4 + 8 * n;
    }
    line(cur, start);
    at = end;
  }
  if (!exact) return std::nullopt;
  return out;
}

std::vector<uint8_t> Outline(Font& font, uint32_t code, GlyphCoding coding) {
  uint32_t size = GetGlyphOutline(font, code, coding, kMatrix, nullptr, 0);
  if (size == kGlyphError) return {0xEE};
  std::vector<uint8_t> bytes(size);
  if (size > 0) {
    EXPECT_EQ(GetGlyphOutline(font, code, coding, kMatrix, bytes.data(), size), size);
  }
  return bytes;
}

Font& DejaVu() {
  static Font font;
  font.SetName("DejaVu Sans");
  font.SetSize(1024);
  return font;
}

TEST(Glyph, EveryPrintableAnsiCharacterMatchesFreeType) {
  struct Case {
    const char* family;
    const char* file;
    int record_type;  // the curve records the font's outlines need
  } cases[] = {{"DejaVu Sans", kDejaVuFile, 2}, {"Cantarell", kCantarellFile, 3}};
  for (const auto& c : cases) {
    Font font;
    font.SetName(c.family);
    font.SetSize(1024);
    ASSERT_TRUE(font.HasHandle()) << c.family;
    int curves = 0;
    for (int ch = 0x21; ch <= 0xFF; ++ch) {
      if (ch == 0x7F || ch == 0x81 || ch == 0x8D || ch == 0x8F || ch == 0x90 || ch == 0x9D)
        continue;
      auto bytes = Outline(font, static_cast<uint32_t>(ch), GlyphCoding::kAnsi);
      auto ours = NativeSegments(bytes);
      ASSERT_TRUE(ours.has_value()) << c.family << ": malformed outline of " << ch;
      EXPECT_EQ(*ours, FreeTypeSegments(c.file, AnsiToUnicode(static_cast<unsigned char>(ch))))
          << c.family << " " << ch;
      const char kind = c.record_type == 2 ? 'Q' : 'C';
      curves += std::count_if(ours->begin(), ours->end(),
                              [&](const std::string& seg) { return seg[0] == kind; }) > 0;
    }
    EXPECT_GT(curves, 100) << c.family << ": characters with curves";
  }
}

TEST(Glyph, CodesAreReadAsWindows1252OrUtf16) {
  Font& font = DejaVu();
  struct Case {
    uint32_t ansi;
    uint32_t wide;
  } cases[] = {{0x80, 0x20AC}, {0x9F, 0x0178}, {0xE4, 0x00E4}, {0x8C, 0x0152}, {'A', 'A'}};
  for (const auto& c : cases) {
    auto ansi = Outline(font, c.ansi, GlyphCoding::kAnsi);
    EXPECT_GT(ansi.size(), 16u) << c.ansi;
    EXPECT_EQ(ansi, Outline(font, c.wide, GlyphCoding::kWide)) << c.ansi;
  }
  EXPECT_NE(Outline(font, 0x20AC, GlyphCoding::kWide), Outline(font, 0xAC, GlyphCoding::kAnsi));
}

TEST(Glyph, EmptyGlyphAndFailureAnswers) {
  Font& font = DejaVu();
  EXPECT_EQ(GetGlyphOutline(font, ' ', GlyphCoding::kAnsi, kMatrix, nullptr, 0), 0u);
  EXPECT_EQ(GetGlyphOutline(font, 0x100, GlyphCoding::kAnsi, kMatrix, nullptr, 0), kGlyphError);
  EXPECT_EQ(GetGlyphOutline(font, 0x10000, GlyphCoding::kWide, kMatrix, nullptr, 0), kGlyphError);
  uint32_t size = GetGlyphOutline(font, 'I', GlyphCoding::kAnsi, kMatrix, nullptr, 0);
  ASSERT_NE(size, kGlyphError);
  std::vector<uint8_t> small(size - 1);
  EXPECT_EQ(GetGlyphOutline(font, 'I', GlyphCoding::kAnsi, kMatrix, small.data(), size - 1),
            kGlyphError);
  Font zero;
  zero.SetName("DejaVu Sans");
  zero.SetHeight(0);
  EXPECT_EQ(GetGlyphOutline(zero, 'I', GlyphCoding::kAnsi, kMatrix, nullptr, 0), kGlyphError);
}

TEST(Glyph, PositiveHeightIsTheCellHeight) {
  // DejaVu Sans: 2048 units per em, Windows ascent 1901 + descent 483 = 2384.
  Font em, cell;
  em.SetName("DejaVu Sans");
  cell.SetName("DejaVu Sans");
  em.SetHeight(-2048);
  cell.SetHeight(2384);
  EXPECT_EQ(Outline(em, 'H', GlyphCoding::kAnsi), Outline(cell, 'H', GlyphCoding::kAnsi));
}

TEST(Font, SizeAndHeightStayInStep) {
  struct Case {
    int size;
    int height;
  } by_size[] = {{1024, -1365}, {28, -37}, {8, -11}, {12, -16}};
  for (const auto& c : by_size) {
    Font f;
    f.SetSize(c.size);
    EXPECT_EQ(f.Height(), c.height) << c.size;
    EXPECT_EQ(f.Size(), c.size) << c.size;
  }
  struct HeightCase {
    int height;
    int size;
  } by_height[] = {{-37, 28}, {-1365, 1024}, {-11, 8}, {-13, 10}, {-15, 11}};
  for (const auto& c : by_height) {
    Font f;
    f.SetHeight(c.height);
    EXPECT_EQ(f.Size(), c.size) << c.height;
  }
}

TEST(Font, AssignCopiesTheAttributes) {
  Font a, b;
  a.SetName("DejaVu Sans");
  a.SetHeight(-37);
  a.SetBold(true);
  a.SetItalic(true);
  b.Assign(a);
  EXPECT_EQ(b.Name(), "DejaVu Sans");
  EXPECT_EQ(b.Height(), -37);
  EXPECT_TRUE(b.Bold());
  EXPECT_TRUE(b.Italic());
  ASSERT_TRUE(b.HasHandle());
  // Bold and oblique resolve to other faces, so the outlines differ from the regular ones.
  b.SetSize(1024);
  EXPECT_NE(Outline(b, 'I', GlyphCoding::kAnsi), Outline(DejaVu(), 'I', GlyphCoding::kAnsi));
}

}  // namespace
}  // namespace platform

namespace laser {
namespace {

TEST(TTTFToVectorConverter, DejaVuSansGlyphs) {
  TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("DejaVu Sans");
  font.SetHeight(-37);
  ttf.SetFont(font);
  ttf.SetPrecision(1);
  EXPECT_EQ(ttf.Font().Size(), 28);

  auto i = ttf.ConvertChar('I');
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->Count(), 4);
  EXPECT_EQ(i->BoundingRect(), (TRect{134, 0, 269, 995}));
  EXPECT_EQ(ttf.Font().Size(), 1024);
  EXPECT_EQ(font.Size(), 28) << "the caller's font is not touched";

  auto o = ttf.ConvertChar('O');
  ASSERT_NE(o, nullptr);
  std::vector<int32_t> contours;
  for (const TStroke& s : o->Strokes())
    if (contours.empty() || contours.back() != s.Contour) contours.push_back(s.Contour);
  EXPECT_EQ(contours, (std::vector<int32_t>{0, 1}));

  EXPECT_EQ(ttf.ConvertChar(' '), nullptr);

  // Eight segments per quadratic piece: more strokes, the same extent within rounding.
  ttf.SetPrecision(8);
  auto o8 = ttf.ConvertChar('O');
  ASSERT_NE(o8, nullptr);
  EXPECT_GT(o8->Count(), 4 * o->Count());
  TRect r1 = o->BoundingRect(), r8 = o8->BoundingRect();
  EXPECT_NEAR(r8.Left, r1.Left, 2);
  EXPECT_NEAR(r8.Right, r1.Right, 2);
}

TEST(TTTFToVectorConverter, UnicodeReadsTheCodeAsUtf16) {
  TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("DejaVu Sans");
  ttf.SetFont(font);
  auto euro_ansi = ttf.ConvertChar(0x80);
  ttf.UNICODE = true;
  auto euro_wide = ttf.ConvertChar(0x20AC);
  ASSERT_NE(euro_ansi, nullptr);
  ASSERT_NE(euro_wide, nullptr);
  EXPECT_EQ(euro_ansi->Strokes(), euro_wide->Strokes());
}

}  // namespace
}  // namespace laser

namespace laser {
namespace {

TEST(TTTFToVectorConverter, CubicOutlinesGiveTheirShapes) {
  // Cantarell's outlines are cubic (CFF): each piece becomes Precision strokes.
  TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("Cantarell");
  ttf.SetFont(font);
  ttf.SetPrecision(4);
  auto o = ttf.ConvertChar('O');
  ASSERT_NE(o, nullptr);
  std::vector<int32_t> per_contour(2);
  for (const TStroke& s : o->Strokes()) {
    ASSERT_TRUE(s.Contour == 0 || s.Contour == 1) << s.Contour;
    ++per_contour[static_cast<size_t>(s.Contour)];
  }
  EXPECT_GE(per_contour[0], 16);  // at least four pieces of four strokes
  EXPECT_GE(per_contour[1], 16);

  // The strokes reach the outline's true extent.
  FT_Library lib;
  FT_Face face;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, platform::kCantarellFile, 0, &face), 0);
  FT_Set_Char_Size(face, 0, 1365 * 64, 72, 72);
  ASSERT_EQ(FT_Load_Char(face, 'O', FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
  FT_BBox box;
  FT_Outline_Get_BBox(&face->glyph->outline, &box);
  TRect r = o->BoundingRect();
  EXPECT_NEAR(r.Left, box.xMin / 64.0, 2);
  EXPECT_NEAR(r.Right, box.xMax / 64.0, 2);
  EXPECT_NEAR(r.Top, box.yMin / 64.0, 2);
  EXPECT_NEAR(r.Bottom, box.yMax / 64.0, 2);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

}  // namespace
}  // namespace laser
