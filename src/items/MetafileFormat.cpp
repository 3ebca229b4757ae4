#include "items/MetafileFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "items/DibFormat.h"

namespace {

// Record types, numbered as in the metafile format.
enum : uint32_t {
    kEmrHeader = 1,
    kEmrPolyBezier = 2,
    kEmrPolygon = 3,
    kEmrPolyline = 4,
    kEmrPolyBezierTo = 5,
    kEmrPolylineTo = 6,
    kEmrPolyPolyline = 7,
    kEmrPolyPolygon = 8,
    kEmrSetWindowExtEx = 9,
    kEmrSetWindowOrgEx = 10,
    kEmrSetViewportExtEx = 11,
    kEmrSetViewportOrgEx = 12,
    kEmrSetBrushOrgEx = 13,
    kEmrEof = 14,
    kEmrSetPixelV = 15,
    kEmrSetMapperFlags = 16,
    kEmrSetMapMode = 17,
    kEmrSetBkMode = 18,
    kEmrSetPolyFillMode = 19,
    kEmrSetRop2 = 20,
    kEmrSetStretchBltMode = 21,
    kEmrSetTextAlign = 22,
    kEmrSetColorAdjustment = 23,
    kEmrSetTextColor = 24,
    kEmrSetBkColor = 25,
    kEmrOffsetClipRgn = 26,
    kEmrMoveToEx = 27,
    kEmrSetMetaRgn = 28,
    kEmrExcludeClipRect = 29,
    kEmrIntersectClipRect = 30,
    kEmrScaleViewportExtEx = 31,
    kEmrScaleWindowExtEx = 32,
    kEmrSaveDc = 33,
    kEmrRestoreDc = 34,
    kEmrSetWorldTransform = 35,
    kEmrModifyWorldTransform = 36,
    kEmrSelectObject = 37,
    kEmrCreatePen = 38,
    kEmrCreateBrushIndirect = 39,
    kEmrDeleteObject = 40,
    kEmrAngleArc = 41,
    kEmrEllipse = 42,
    kEmrRectangle = 43,
    kEmrRoundRect = 44,
    kEmrArc = 45,
    kEmrChord = 46,
    kEmrPie = 47,
    kEmrSelectPalette = 48,
    kEmrCreatePalette = 49,
    kEmrSetPaletteEntries = 50,
    kEmrResizePalette = 51,
    kEmrRealizePalette = 52,
    kEmrExtFloodFill = 53,
    kEmrLineTo = 54,
    kEmrArcTo = 55,
    kEmrPolyDraw = 56,
    kEmrSetArcDirection = 57,
    kEmrSetMiterLimit = 58,
    kEmrBeginPath = 59,
    kEmrEndPath = 60,
    kEmrCloseFigure = 61,
    kEmrFillPath = 62,
    kEmrStrokeAndFillPath = 63,
    kEmrStrokePath = 64,
    kEmrFlattenPath = 65,
    kEmrWidenPath = 66,
    kEmrSelectClipPath = 67,
    kEmrAbortPath = 68,
    kEmrGdiComment = 70,
    kEmrFillRgn = 71,
    kEmrFrameRgn = 72,
    kEmrInvertRgn = 73,
    kEmrPaintRgn = 74,
    kEmrExtSelectClipRgn = 75,
    kEmrBitBlt = 76,
    kEmrStretchBlt = 77,
    kEmrMaskBlt = 78,
    kEmrPlgBlt = 79,
    kEmrSetDiBitsToDevice = 80,
    kEmrStretchDiBits = 81,
    kEmrExtCreateFontIndirectW = 82,
    kEmrExtTextOutA = 83,
    kEmrExtTextOutW = 84,
    kEmrPolyBezier16 = 85,
    kEmrPolygon16 = 86,
    kEmrPolyline16 = 87,
    kEmrPolyBezierTo16 = 88,
    kEmrPolylineTo16 = 89,
    kEmrPolyPolyline16 = 90,
    kEmrPolyPolygon16 = 91,
    kEmrPolyDraw16 = 92,
    kEmrCreateMonoBrush = 93,
    kEmrCreateDibPatternBrushPt = 94,
    kEmrExtCreatePen = 95,
    kEmrPolyTextOutA = 96,
    kEmrPolyTextOutW = 97,
    kEmrSetIcmMode = 98,
    kEmrCreateColorSpace = 99,
    kEmrSetColorSpace = 100,
    kEmrDeleteColorSpace = 101,
    kEmrPixelFormat = 104,
    kEmrSmallTextOut = 108,
    kEmrAlphaBlend = 114,
    kEmrSetLayout = 115,
    kEmrTransparentBlt = 116,
    kEmrGradientFill = 118,
    kEmrCreateColorSpaceW = 122,
};

constexpr uint32_t kEnhMetaSignature = 0x464D4520;  // " EMF"
// The first version of the header ends before the pixel-format fields.
constexpr size_t kSmallestHeader = 88;
// Header fields.
constexpr size_t kHeaderSignature = 40, kHeaderBytes = 48, kHeaderHandles = 56, kHeaderDescriptionChars = 60,
                 kHeaderDescription = 64, kHeaderPixelFormatBytes = 88, kHeaderPixelFormat = 92;

// Text output options.
constexpr uint32_t kEtoNoRect = 0x100;
constexpr uint32_t kEtoSmallChars = 0x200;
constexpr uint32_t kEtoPdy = 0x2000;

// Colour-table kinds of a bitmap (the records' iUsage).
constexpr uint32_t kDibPalColors = 1;
constexpr uint32_t kDibPalIndices = 2;

// Brush styles whose pattern is a bitmap.
constexpr uint32_t kBsDibPattern = 5;
constexpr uint32_t kBsDibPatternPt = 6;

constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kV5HeaderBytes = 124;
constexpr uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr uint32_t kDibJpeg = 4;
constexpr uint32_t kDibPng = 5;

constexpr uint32_t kRegionHeaderBytes = 32;
constexpr uint32_t kRegionRectBytes = 16;

constexpr uint32_t kGradientFillTriangle = 2;
constexpr uint32_t kDesignVectorStamp = 0x08007664;
constexpr uint32_t kMaxDesignAxes = 16;

// Bytes of a record's fixed part, which GDI reads whatever the record's size
// says; 8 (type and size) for types it does not know.
uint32_t FixedSize(uint32_t type) {
    switch (type) {
    case kEmrSetMetaRgn:
    case kEmrSaveDc:
    case kEmrRealizePalette:
    case kEmrBeginPath:
    case kEmrEndPath:
    case kEmrCloseFigure:
    case kEmrFlattenPath:
    case kEmrWidenPath:
    case kEmrAbortPath:
        return 8;
    case kEmrSetMapperFlags:
    case kEmrSetMapMode:
    case kEmrSetBkMode:
    case kEmrSetPolyFillMode:
    case kEmrSetRop2:
    case kEmrSetStretchBltMode:
    case kEmrSetTextAlign:
    case kEmrSetTextColor:
    case kEmrSetBkColor:
    case kEmrRestoreDc:
    case kEmrSelectObject:
    case kEmrDeleteObject:
    case kEmrSelectPalette:
    case kEmrSetArcDirection:
    case kEmrSetMiterLimit:
    case kEmrSelectClipPath:
    case kEmrSetIcmMode:
    case kEmrSetColorSpace:
    case kEmrDeleteColorSpace:
    case kEmrSetLayout:
    case kEmrGdiComment:
        return 12;
    case kEmrSetWindowExtEx:
    case kEmrSetWindowOrgEx:
    case kEmrSetViewportExtEx:
    case kEmrSetViewportOrgEx:
    case kEmrSetBrushOrgEx:
    case kEmrOffsetClipRgn:
    case kEmrMoveToEx:
    case kEmrLineTo:
    case kEmrResizePalette:
    case kEmrCreatePalette:
    case kEmrExtSelectClipRgn:
        return 16;
    case kEmrEof:
    case kEmrSetPixelV:
    case kEmrSetPaletteEntries:
        return 20;
    case kEmrExcludeClipRect:
    case kEmrIntersectClipRect:
    case kEmrScaleViewportExtEx:
    case kEmrScaleWindowExtEx:
    case kEmrCreateBrushIndirect:
    case kEmrEllipse:
    case kEmrRectangle:
    case kEmrExtFloodFill:
    case kEmrFillPath:
    case kEmrStrokeAndFillPath:
    case kEmrStrokePath:
        return 24;
    case kEmrCreatePen:
    case kEmrAngleArc:
    case kEmrPolyBezier:
    case kEmrPolygon:
    case kEmrPolyline:
    case kEmrPolyBezierTo:
    case kEmrPolylineTo:
    case kEmrPolyBezier16:
    case kEmrPolygon16:
    case kEmrPolyline16:
    case kEmrPolyBezierTo16:
    case kEmrPolylineTo16:
    case kEmrPolyDraw:
    case kEmrPolyDraw16:
    case kEmrInvertRgn:
    case kEmrPaintRgn:
        return 28;
    case kEmrSetColorAdjustment:
    case kEmrSetWorldTransform:
    case kEmrRoundRect:
    case kEmrPolyPolyline:
    case kEmrPolyPolygon:
    case kEmrPolyPolyline16:
    case kEmrPolyPolygon16:
    case kEmrFillRgn:
    case kEmrCreateMonoBrush:
    case kEmrCreateDibPatternBrushPt:
        return 32;
    case kEmrModifyWorldTransform:
    case kEmrSmallTextOut:
    case kEmrGradientFill:
        return 36;
    case kEmrArc:
    case kEmrChord:
    case kEmrPie:
    case kEmrArcTo:
    case kEmrFrameRgn:
    case kEmrPolyTextOutA:
    case kEmrPolyTextOutW:
        return 40;
    case kEmrPixelFormat:
        return 48;
    case kEmrExtCreatePen:
        return 52;
    case kEmrSetDiBitsToDevice:
    case kEmrExtTextOutA:
    case kEmrExtTextOutW:
        return 76;
    case kEmrStretchDiBits:
        return 80;
    case kEmrBitBlt:
        return 100;
    case kEmrExtCreateFontIndirectW:
        return 104;  // the handle and a LOGFONTW, the shortest font description
    case kEmrStretchBlt:
    case kEmrAlphaBlend:
    case kEmrTransparentBlt:
        return 108;
    case kEmrMaskBlt:
        return 128;
    case kEmrPlgBlt:
        return 140;
    case kEmrCreateColorSpace:
        return 340;
    case kEmrCreateColorSpaceW:
        return 608;
    default:
        return 8;
    }
}

// Records that name a slot of the playback handle table. GDI indexes its table
// with these values as they stand: creating and deleting write the slot, the
// others read it; only reads may name a stock object (high bit set).
enum class HandleUse { kWrite, kRead };
struct HandleField {
    uint32_t type;
    uint32_t offset;  // of the index in the record
    HandleUse use;
};
constexpr HandleField kHandleFields[] = {
    {kEmrCreatePen, 8, HandleUse::kWrite},
    {kEmrExtCreatePen, 8, HandleUse::kWrite},
    {kEmrCreateBrushIndirect, 8, HandleUse::kWrite},
    {kEmrCreateMonoBrush, 8, HandleUse::kWrite},
    {kEmrCreateDibPatternBrushPt, 8, HandleUse::kWrite},
    {kEmrExtCreateFontIndirectW, 8, HandleUse::kWrite},
    {kEmrCreatePalette, 8, HandleUse::kWrite},
    {kEmrCreateColorSpace, 8, HandleUse::kWrite},
    {kEmrCreateColorSpaceW, 8, HandleUse::kWrite},
    {kEmrDeleteObject, 8, HandleUse::kWrite},
    {kEmrDeleteColorSpace, 8, HandleUse::kWrite},
    {kEmrSelectObject, 8, HandleUse::kRead},
    {kEmrSelectPalette, 8, HandleUse::kRead},
    {kEmrSetPaletteEntries, 8, HandleUse::kRead},
    {kEmrResizePalette, 8, HandleUse::kRead},
    {kEmrSetColorSpace, 8, HandleUse::kRead},
    // After the bounds rectangle and the region data size.
    {kEmrFillRgn, 28, HandleUse::kRead},
    {kEmrFrameRgn, 28, HandleUse::kRead},
};

constexpr uint32_t kStockObjectFlag = 0x80000000u;

uint32_t ReadU32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

uint16_t ReadU16(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

bool HandleIndexFits(const HandleField& field, uint32_t index, uint32_t handles) {
    if (field.use == HandleUse::kRead) return (index & kStockObjectFlag) || index < handles;
    // Slot 0 is the metafile itself.
    return index != 0 && index < handles;
}

// One record's bytes. Offsets inside records are counted from the record's start.
class Record {
public:
    Record(const uint8_t* bytes, uint32_t size) : bytes_(bytes), size_(size) {}

    uint32_t Size() const { return size_; }
    const uint8_t* At(size_t offset) const { return bytes_ + offset; }

    // A field past the record reads as 0 and makes the record unsound: every
    // caller has checked that its fields are there, so this never decides alone.
    uint32_t U32(uint64_t offset) const {
        if (offset > size_ || size_ - offset < 4) {
            strayed_ = true;
            return 0;
        }
        return ReadU32(bytes_ + offset);
    }
    uint16_t U16(uint64_t offset) const {
        if (offset > size_ || size_ - offset < 2) {
            strayed_ = true;
            return 0;
        }
        return ReadU16(bytes_ + offset);
    }
    bool Strayed() const { return strayed_; }

    // Whether `count` items of `unit` bytes starting at `offset` lie inside the
    // record (counts are at most 33 bits and units small, so nothing overflows).
    bool Holds(uint64_t offset, uint64_t count, uint64_t unit) const {
        return offset <= size_ && count * unit <= size_ - offset;
    }

private:
    const uint8_t* bytes_;
    uint32_t size_;
    mutable bool strayed_ = false;
};

// Where a record keeps the four fields of one bitmap.
struct BitmapFields {
    uint32_t offBmi, cbBmi, offBits, cbBits;
};
constexpr BitmapFields kBltSource = {84, 88, 92, 96};    // BITBLT, STRETCHBLT, MASKBLT, ALPHABLEND, TRANSPARENTBLT
constexpr BitmapFields kMaskBltMask = {112, 116, 120, 124};
constexpr BitmapFields kPlgBltSource = {96, 100, 104, 108};
constexpr BitmapFields kPlgBltMask = {124, 128, 132, 136};
constexpr BitmapFields kDiBitsSource = {48, 52, 56, 60};  // SETDIBITSTODEVICE, STRETCHDIBITS
constexpr BitmapFields kBrushBitmap = {16, 20, 24, 28};   // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
constexpr BitmapFields kPenBitmap = {12, 16, 20, 24};     // EXTCREATEPEN

enum class Presence { kRequired, kOptional };

// Bytes of one colour-table entry for a bitmap's usage: palette indices, none,
// or colours (three bytes each after a core header).
uint32_t EntryBytes(uint32_t usage, bool core) {
    switch (usage) {
    case kDibPalColors:
        return 2;
    case kDibPalIndices:
        return 0;
    default:
        return core ? 3 : 4;
    }
}

// Whether a bitmap's header, colour table and bits lie inside the record and the
// header asks for no more bits than there are. GDI builds the bitmap from the
// header alone. `rows`, when given, is how many rows GDI takes from the bits
// (SETDIBITSTODEVICE), otherwise it takes the whole picture. An optional bitmap
// may be absent (offset and size 0).
bool BitmapFits(const Record& r, const BitmapFields& fields, uint32_t usage, Presence presence,
                std::optional<uint32_t> rows = std::nullopt) {
    const uint32_t offBmi = r.U32(fields.offBmi), cbBmi = r.U32(fields.cbBmi);
    const uint32_t offBits = r.U32(fields.offBits), cbBits = r.U32(fields.cbBits);
    if (presence == Presence::kOptional && offBmi == 0 && cbBmi == 0) return true;
    if (!r.Holds(offBmi, cbBmi, 1) || !r.Holds(offBits, cbBits, 1) || cbBmi < 4) return false;

    const uint32_t headerSize = r.U32(offBmi);
    uint64_t rowBytes = 0;    // uncompressed pictures only
    uint64_t bitsBytes = 0;   // what GDI reads of the bits
    if (headerSize == kCoreHeaderBytes) {
        if (cbBmi < kCoreHeaderBytes) return false;
        const int width = r.U16(offBmi + 4), height = r.U16(offBmi + 6), bits = r.U16(offBmi + 10);
        if (!IsValidDibDepth(bits)) return false;
        const uint64_t colors = bits <= 8 ? uint64_t{1} << bits : 0;
        if (kCoreHeaderBytes + colors * EntryBytes(usage, true) > cbBmi) return false;
        bitsBytes = ImageBytes(width, height, bits);
        if (bitsBytes == 0) return false;
        rowBytes = RowBytes(width, bits);
    } else {
        if (headerSize < sizeof(DibHeader) || headerSize > cbBmi) return false;
        const DibHeader h = ReadDibHeader(r.At(offBmi));
        const uint64_t masks = (h.biCompression == kDibBitFields && headerSize == sizeof(DibHeader)) ? 12 : 0;
        // GDI reads at most 256 colours, however many the header announces.
        const uint64_t colors = std::min<uint32_t>(ColorTableSize(h), 256);
        if (headerSize + masks + colors * EntryBytes(usage, false) > cbBmi) return false;
        if (headerSize >= kV5HeaderBytes) {
            // A colour profile is found from the header's start.
            const uint32_t type = r.U32(offBmi + 56), at = r.U32(offBmi + 112), bytes = r.U32(offBmi + 116);
            if ((type == kProfileLinked || type == kProfileEmbedded) && bytes != 0 &&
                !r.Holds(uint64_t{offBmi} + at, bytes, 1))
                return false;
        }
        const int64_t height = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
        switch (h.biCompression) {
        case kDibRgb:
        case kDibBitFields:
            bitsBytes = ImageBytes(h.biWidth, height, h.biBitCount);
            if (bitsBytes == 0) return false;
            rowBytes = RowBytes(h.biWidth, h.biBitCount);
            break;
        case kDibRle8:
        case kDibRle4:
            // Runs are as long as biSizeImage says; the picture they fill is
            // held to the same ceilings as a plain one.
            if (ImageBytes(h.biWidth, height, h.biBitCount) == 0 || h.biSizeImage == 0) return false;
            bitsBytes = h.biSizeImage;
            break;
        case kDibJpeg:
        case kDibPng:
            if (h.biSizeImage == 0) return false;
            bitsBytes = h.biSizeImage;
            break;
        default:
            return false;
        }
    }
    if (rows && rowBytes != 0) bitsBytes = rowBytes * *rows;
    return bitsBytes <= cbBits;
}

// One EMRTEXT at `at`: its string of `charBytes` characters and its spacing
// array (two values a character with ETO_PDY).
bool TextFits(const Record& r, uint64_t at, uint32_t charBytes) {
    const uint32_t chars = r.U32(at + 8), offString = r.U32(at + 12), options = r.U32(at + 16);
    const uint32_t offDx = r.U32(at + 36);
    if (!r.Holds(offString, chars, charBytes)) return false;
    const uint64_t spacing = (options & kEtoPdy) ? uint64_t{chars} * 2 : chars;
    return r.Holds(offDx, spacing, 4);
}

// A RGNDATA of `bytes` bytes at `at`: its header and the rectangles it counts.
bool RegionFits(const Record& r, uint64_t at, uint32_t bytes, Presence presence) {
    if (bytes == 0) return presence == Presence::kOptional;
    if (bytes < kRegionHeaderBytes || !r.Holds(at, bytes, 1)) return false;
    const uint32_t headerSize = r.U32(at), count = r.U32(at + 8);
    return headerSize >= kRegionHeaderBytes && headerSize <= bytes && count <= (bytes - headerSize) / kRegionRectBytes;
}

// POLYPOLYLINE, POLYPOLYGON and their 16-bit forms: the counts of the figures,
// then all their points, the counts adding up to the points.
bool PolyPolyFits(const Record& r, uint32_t pointBytes) {
    const uint32_t figures = r.U32(24), points = r.U32(28);
    if (!r.Holds(32, figures, 4) || !r.Holds(32 + uint64_t{figures} * 4, points, pointBytes)) return false;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < figures; ++i) sum += r.U32(32 + uint64_t{i} * 4);
    return sum == points;
}

bool GradientFits(const Record& r) {
    const uint32_t vertices = r.U32(24), shapes = r.U32(28), mode = r.U32(32);
    if (mode > kGradientFillTriangle) return false;
    const uint32_t corners = mode == kGradientFillTriangle ? 3 : 2;
    const uint64_t shapesAt = 36 + uint64_t{vertices} * 16;
    if (!r.Holds(36, vertices, 16) || !r.Holds(shapesAt, shapes, corners * 4)) return false;
    // Each shape names its corners by vertex index.
    for (uint64_t i = 0; i < uint64_t{shapes} * corners; ++i)
        if (r.U32(shapesAt + i * 4) >= vertices) return false;
    return true;
}

bool FontFits(const Record& r) {
    // The longest form of the description ends with a design vector: a stamp,
    // the number of axes and one value for each.
    constexpr uint64_t kStamp = 360, kAxes = 364, kValues = 368;
    if (r.Size() < kValues || r.U32(kStamp) != kDesignVectorStamp) return true;
    const uint32_t axes = r.U32(kAxes);
    return axes <= kMaxDesignAxes && r.Holds(kValues, axes, 4);
}

// The contents of a record of a known type, its fixed part being there.
bool ContentsFit(const Record& r, uint32_t type) {
    switch (type) {
    case kEmrPolyBezier:
    case kEmrPolygon:
    case kEmrPolyline:
    case kEmrPolyBezierTo:
    case kEmrPolylineTo:
        return r.Holds(28, r.U32(24), 8);
    case kEmrPolyBezier16:
    case kEmrPolygon16:
    case kEmrPolyline16:
    case kEmrPolyBezierTo16:
    case kEmrPolylineTo16:
        return r.Holds(28, r.U32(24), 4);
    case kEmrPolyPolyline:
    case kEmrPolyPolygon:
        return PolyPolyFits(r, 8);
    case kEmrPolyPolyline16:
    case kEmrPolyPolygon16:
        return PolyPolyFits(r, 4);
    case kEmrPolyDraw:
        return r.Holds(28, r.U32(24), 8 + 1);  // a point and a type byte each
    case kEmrPolyDraw16:
        return r.Holds(28, r.U32(24), 4 + 1);
    case kEmrExtTextOutA:
        return TextFits(r, 36, 1);
    case kEmrExtTextOutW:
        return TextFits(r, 36, 2);
    case kEmrPolyTextOutA:
    case kEmrPolyTextOutW: {
        const uint32_t strings = r.U32(36);
        if (!r.Holds(40, strings, 40)) return false;
        for (uint32_t i = 0; i < strings; ++i)
            if (!TextFits(r, 40 + uint64_t{i} * 40, type == kEmrPolyTextOutW ? 2 : 1)) return false;
        return true;
    }
    case kEmrSmallTextOut: {
        const uint32_t chars = r.U32(16), options = r.U32(20);
        // The bounds are left out with ETO_NO_RECT; ETO_SMALL_CHARS keeps one byte a character.
        return r.Holds((options & kEtoNoRect) ? 36 : 52, chars, (options & kEtoSmallChars) ? 1 : 2);
    }
    case kEmrExtCreateFontIndirectW:
        return FontFits(r);
    case kEmrCreatePalette:
        return r.Holds(16, r.U16(14), 4);
    case kEmrSetPaletteEntries:
        return r.Holds(20, r.U32(16), 4);
    case kEmrExtSelectClipRgn:
        // No region at all resets the clipping.
        return RegionFits(r, 16, r.U32(8), Presence::kOptional);
    case kEmrFillRgn:
        return RegionFits(r, 32, r.U32(24), Presence::kRequired);
    case kEmrFrameRgn:
        return RegionFits(r, 40, r.U32(24), Presence::kRequired);
    case kEmrInvertRgn:
    case kEmrPaintRgn:
        return RegionFits(r, 28, r.U32(24), Presence::kRequired);
    case kEmrGdiComment:
        return r.Holds(12, r.U32(8), 1);
    case kEmrExtCreatePen: {
        if (!r.Holds(52, r.U32(48), 4)) return false;
        // A bitmap pattern's colours are described as the brush's colour says.
        const uint32_t style = r.U32(36);
        const uint32_t usage = (style == kBsDibPattern || style == kBsDibPatternPt) ? r.U32(40) : 0;
        return BitmapFits(r, kPenBitmap, usage, Presence::kOptional);
    }
    case kEmrCreateMonoBrush:
    case kEmrCreateDibPatternBrushPt:
        return BitmapFits(r, kBrushBitmap, r.U32(12), Presence::kRequired);
    case kEmrBitBlt:
    case kEmrStretchBlt:
    case kEmrAlphaBlend:
    case kEmrTransparentBlt:
        return BitmapFits(r, kBltSource, r.U32(80), Presence::kOptional);
    case kEmrMaskBlt:
        return BitmapFits(r, kBltSource, r.U32(80), Presence::kOptional) &&
               BitmapFits(r, kMaskBltMask, r.U32(108), Presence::kOptional);
    case kEmrPlgBlt:
        return BitmapFits(r, kPlgBltSource, r.U32(92), Presence::kOptional) &&
               BitmapFits(r, kPlgBltMask, r.U32(120), Presence::kOptional);
    case kEmrSetDiBitsToDevice:
        return BitmapFits(r, kDiBitsSource, r.U32(64), Presence::kRequired, r.U32(72));
    case kEmrStretchDiBits:
        return BitmapFits(r, kDiBitsSource, r.U32(64), Presence::kRequired);
    case kEmrGradientFill:
        return GradientFits(r);
    default:
        return true;
    }
}

}  // namespace

bool IsSoundEnhMetaFile(const uint8_t* bytes, size_t size) {
    if (!bytes || size < kSmallestHeader || size % 4 != 0 || size > std::numeric_limits<uint32_t>::max())
        return false;
    if (ReadU32(bytes) != kEmrHeader || ReadU32(bytes + kHeaderSignature) != kEnhMetaSignature ||
        ReadU32(bytes + kHeaderBytes) != size)
        return false;
    const uint32_t headerSize = ReadU32(bytes + 4);
    if (headerSize < kSmallestHeader || headerSize % 4 != 0 || headerSize > size) return false;
    // Bytes past the header's own size belong to the next record.
    const auto headerField = [&](size_t at) { return at + 4 <= headerSize ? ReadU32(bytes + at) : 0; };
    const uint32_t handles = ReadU16(bytes + kHeaderHandles);
    if (handles == 0) return false;  // slot 0 always holds the metafile

    const auto inside = [size](uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; };
    const uint32_t descriptionChars = headerField(kHeaderDescriptionChars);
    const uint32_t description = headerField(kHeaderDescription);
    if (descriptionChars && description && !inside(description, uint64_t{descriptionChars} * 2)) return false;
    const uint32_t pixelFormatBytes = headerField(kHeaderPixelFormatBytes);
    const uint32_t pixelFormat = headerField(kHeaderPixelFormat);
    if (pixelFormatBytes && pixelFormat && !inside(pixelFormat, pixelFormatBytes)) return false;

    size_t offset = 0;
    bool ended = false;
    while (offset < size) {
        if (ended || size - offset < 8) return false;
        const uint8_t* record = bytes + offset;
        const uint32_t type = ReadU32(record);
        const uint32_t length = ReadU32(record + 4);
        if (length < 8 || length % 4 != 0 || length > size - offset) return false;
        // The header comes first and only there.
        if ((offset == 0) != (type == kEmrHeader)) return false;
        if (type != kEmrHeader) {
            if (length < FixedSize(type)) return false;
            const Record r(record, length);
            if (!ContentsFit(r, type) || r.Strayed()) return false;
        }
        if (type == kEmrEof) {
            const uint32_t entries = ReadU32(record + 8);
            const uint32_t at = ReadU32(record + 12);
            if (entries && (at > length || uint64_t{entries} * 4 > length - at)) return false;
            ended = true;
        }
        for (const HandleField& field : kHandleFields) {
            if (field.type != type) continue;
            if (length < field.offset + sizeof(uint32_t)) return false;
            if (!HandleIndexFits(field, ReadU32(record + field.offset), handles)) return false;
        }
        offset += length;
    }
    return ended;
}
