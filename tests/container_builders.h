// SPDX-License-Identifier: MIT
// The smallest files of each container that hold a given TIFF block, for tests and fuzz seeds.
// Each shows the structure it builds; checksums (PNG's CRCs) are zeros, as no reader here
// checks them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "builders.h"

namespace testing_builders {

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
inline void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
inline Bytes Big32(uint32_t v) {
  Bytes b;
  PutU32(b, v, ByteOrder::kBig);
  return b;
}
inline Bytes Little32(uint32_t v) {
  Bytes b;
  PutU32(b, v, ByteOrder::kLittle);
  return b;
}
inline Bytes Big16(uint16_t v) {
  Bytes b;
  PutU16(b, v, ByteOrder::kBig);
  return b;
}

// An ISO base media box: 32-bit size, type, contents.
inline Bytes Box(const std::string& type, const Bytes& contents) {
  Bytes out = Big32(static_cast<uint32_t>(8 + contents.size()));
  Append(out, type);
  Append(out, contents);
  return out;
}
// A full box: version and flags before the contents.
inline Bytes FullBox(const std::string& type, uint8_t version, const Bytes& contents) {
  Bytes body = {version, 0, 0, 0};
  Append(body, contents);
  return Box(type, body);
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) Append(out, part);
  return out;
}

// HEIF/AVIF: ftyp, then meta (hdlr, pitm 1, iinf with the image item 1 and the Exif item 2,
// iref 2 cdsc 1, iloc, iprp with ispe and pixi for item 1), then mdat holding the Exif item
// (its 4-byte offset 6, "Exif" 0 0, the TIFF block). `exifFirst`: the mdat comes before meta.
struct HeifOptions {
  std::string brand = "heic";
  uint32_t width = 4032, height = 3024;
  uint8_t channels = 3;
  bool inIdat = false;  // the Exif item in meta's idat rather than in mdat
};
inline Bytes HeifWith(const Bytes& tiff, const HeifOptions& o = {}) {
  Bytes item = Big32(6);
  Append(item, ExifContents(tiff));
  const Bytes ftyp = Box("ftyp", Concat({Bytes(o.brand.begin(), o.brand.end()), Big32(0), Bytes{'m', 'i', 'f', '1'}}));
  const auto infe = [](uint16_t id, const std::string& type) {
    return FullBox("infe", 2, Concat({Big16(id), Big16(0), Bytes(type.begin(), type.end()), Bytes{0}}));
  };
  const Bytes iinf = FullBox("iinf", 0, Concat({Big16(2), infe(1, o.brand == "avif" ? "av01" : "hvc1"), infe(2, "Exif")}));
  const Bytes iref = FullBox("iref", 0, Box("cdsc", Concat({Big16(2), Big16(1), Big16(1)})));
  const Bytes ispe = FullBox("ispe", 0, Concat({Big32(o.width), Big32(o.height)}));
  const Bytes pixi = FullBox("pixi", 0, Concat({Bytes{o.channels}, Bytes(o.channels, 8)}));
  const Bytes iprp = Box("iprp", Concat({Box("ipco", Concat({ispe, pixi})),
                                         FullBox("ipma", 0, Concat({Big32(1), Big16(1), Bytes{2, 0x81, 0x82}}))}));
  const Bytes hdlr = FullBox("hdlr", 0, Concat({Big32(0), Bytes{'p', 'i', 'c', 't'}, Bytes(13, 0)}));
  // iloc version 1: offset, length and base offset of 4 bytes; item 2's one extent is patched in.
  const auto iloc = [&](uint32_t exifOffset, uint16_t method) {
    return FullBox("iloc", 1, Concat({Big16(0x4440), Big16(2), Big16(1), Big16(0), Big16(0), Big32(0), Big16(1),
                                      Big32(0), Big32(0), Big16(2), Big16(method), Big16(0), Big32(0), Big16(1),
                                      Big32(exifOffset), Big32(static_cast<uint32_t>(item.size()))}));
  };
  const Bytes idat = o.inIdat ? Box("idat", item) : Bytes{};
  const auto meta = [&](uint32_t exifOffset) {
    return FullBox("meta", 0, Concat({hdlr, FullBox("pitm", 0, Big16(1)), iinf, iref,
                                      iloc(exifOffset, o.inIdat ? 1 : 0), iprp, idat}));
  };
  const size_t metaSize = meta(0).size();
  const uint32_t exifAt = o.inIdat ? 0 : static_cast<uint32_t>(ftyp.size() + metaSize + 8);
  return Concat({ftyp, meta(exifAt), o.inIdat ? Bytes{} : Box("mdat", item)});
}

// PNG: the signature, IHDR, optionally an IDAT before the eXIf chunk, eXIf, IEND.
inline Bytes PngChunk(const std::string& type, const Bytes& data) {
  Bytes out = Big32(static_cast<uint32_t>(data.size()));
  Append(out, type);
  Append(out, data);
  Append(out, Big32(0));  // CRC, unchecked
  return out;
}
// The older PNG form: the block as a raw profile in a text chunk ("tEXt", "zTXt" deflated, or
// "iTXt" deflated), "Exif" 0 0 first, its hex in lines of 72 digits.
inline Bytes PngRawProfile(const Bytes& tiff, const std::string& type) {
  Bytes block = Concat({Bytes{'E', 'x', 'i', 'f', 0, 0}, tiff});
  std::string text = "\nexif\n" + std::string(8 - std::to_string(block.size()).size(), ' ') + std::to_string(block.size()) + "\n";
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < block.size(); ++i) {
    text += kHex[block[i] >> 4], text += kHex[block[i] & 15];
    if (i % 36 == 35 || i + 1 == block.size()) text += '\n';
  }
  Bytes body(text.begin(), text.end());
  if (type != "tEXt") {
    uLongf size = compressBound(static_cast<uLong>(body.size()));
    Bytes deflated(size);
    compress(deflated.data(), &size, body.data(), static_cast<uLong>(body.size()));
    deflated.resize(size);
    body = deflated;
  }
  Bytes data;
  Append(data, std::string("Raw profile type exif"));
  data.push_back(0);
  if (type == "zTXt") data.push_back(0);
  if (type == "iTXt") Append(data, Bytes{1, 0, 0, 0});  // compressed, deflate, no language, no translation
  Append(data, body);
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Append(out, PngChunk("IHDR", Concat({Big32(640), Big32(480), Bytes{8, 2, 0, 0, 0}})));
  Append(out, PngChunk("tEXt", Concat({Bytes{'C', 'o', 'm', 'm', 'e', 'n', 't', 0}, Bytes(30, 'x')})));
  Append(out, PngChunk(type, data));
  Append(out, PngChunk("IDAT", Bytes(300, 0x55)));
  Append(out, PngChunk("IEND", {}));
  return out;
}
inline Bytes PngWith(const Bytes& tiff, uint32_t width = 640, uint32_t height = 480, uint8_t colourType = 2,
                     bool idatFirst = true) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Append(out, PngChunk("IHDR", Concat({Big32(width), Big32(height), Bytes{8, colourType, 0, 0, 0}})));
  if (idatFirst) Append(out, PngChunk("IDAT", Bytes(300, 0x55)));
  Append(out, PngChunk("eXIf", tiff));
  if (!idatFirst) Append(out, PngChunk("IDAT", Bytes(300, 0x55)));
  Append(out, PngChunk("IEND", {}));
  return out;
}

// WebP: RIFF, VP8X with a canvas, a VP8 frame, then the EXIF chunk (with "Exif" 0 0 first when
// `exifHeader`), each chunk padded to even.
inline Bytes RiffChunk(const std::string& type, const Bytes& data) {
  Bytes out(type.begin(), type.end());
  Append(out, Little32(static_cast<uint32_t>(data.size())));
  Append(out, data);
  if (data.size() % 2 != 0) out.push_back(0);
  return out;
}
inline Bytes WebpWith(const Bytes& tiff, uint32_t width = 800, uint32_t height = 600, bool exifHeader = false) {
  const uint32_t w = width - 1, h = height - 1;
  const Bytes vp8x = {0x08, 0, 0, 0, static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
                      static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h >> 16)};
  Bytes vp8 = {0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A, static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
               static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8)};
  vp8.resize(41, 0);  // odd: padded
  const Bytes exif = exifHeader ? ExifContents(tiff) : tiff;
  const Bytes body = Concat({Bytes{'W', 'E', 'B', 'P'}, RiffChunk("VP8X", vp8x), RiffChunk("VP8 ", vp8), RiffChunk("EXIF", exif)});
  return Concat({Bytes{'R', 'I', 'F', 'F'}, Little32(static_cast<uint32_t>(body.size())), body});
}

// JPEG XL's container: the signature box, ftyp "jxl ", an Exif box (4-byte offset 0, TIFF).
// The codestream starts with a 1920 x 1080 size header (a 16:9 ratio), as cjxl writes it; it
// comes after the Exif box or, as a partial codestream box with its index, before it.
inline Bytes JxlWith(const Bytes& tiff, bool codestreamFirst = false) {
  const Bytes head = {0xFF, 0x0A, 0xBA, 0x21, 0x05, 0x09, 0xC5, 0x85};
  const Bytes exif = Box("Exif", Concat({Big32(0), tiff}));
  const Bytes codestream = codestreamFirst ? Box("jxlp", Concat({Big32(0), head})) : Box("jxlc", head);
  return Concat({Bytes{0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'},
                 Box("ftyp", Concat({Bytes{'j', 'x', 'l', ' '}, Big32(0), Bytes{'j', 'x', 'l', ' '}})),
                 codestreamFirst ? codestream : exif, codestreamFirst ? exif : codestream});
}

// CR3: ftyp "crx ", moov holding Canon's uuid box with CMT1 (IFD0) and CMT2 (the EXIF
// directory), each a TIFF block of its own.
// `movie`: more of moov after the uuid box (a movie header and tracks).
inline Bytes Cr3With(const Bytes& ifd0, const Bytes& exif, const Bytes& movie = {}) {
  const Bytes uuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0, 0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
  return Concat({Box("ftyp", Concat({Bytes{'c', 'r', 'x', ' '}, Big32(1), Bytes{'c', 'r', 'x', ' '}})),
                 Box("moov", Concat({Box("uuid", Concat({uuid, Box("CMT1", ifd0), Box("CMT2", exif)})), movie})),
                 Box("mdat", Bytes(64, 0))});
}

// MRW: "\0MRM" and the length of the header's blocks: PRD with the raw image's size after the
// sensor's (2448 x 3264 under 2460 x 3272, heights first), TTW holding the TIFF block, WBG; then
// image data.
inline Bytes MrwWith(const Bytes& tiff) {
  const auto block = [](const char (&name)[5], const Bytes& contents) {
    return Concat({Bytes(name, name + 4), Big32(static_cast<uint32_t>(contents.size())), contents});
  };
  const Bytes prd = Concat({Bytes{'2', '1', '8', '1', '0', '0', '0', '2'}, Big16(2460), Big16(3272), Big16(2448),
                            Big16(3264), Bytes(8, 0)});
  const Bytes blocks = Concat({block("\0PRD", prd), block("\0TTW", tiff), block("\0WBG", Bytes(4, 0))});
  return Concat({Bytes{0, 'M', 'R', 'M'}, Big32(static_cast<uint32_t>(blocks.size())), blocks, Bytes(64, 0x5A)});
}

// RAF: the magic, the embedded JPEG's big-endian offset and length at byte 84, the JPEG.
// After the JPEG, the RAF directory: the full sensor 4352 x 1444 (0x0100), an entry of 8 bytes,
// and the cropped image 4256 x 1424 (0x0111), each height first.
inline Bytes RafWith(const Bytes& jpeg) {
  Bytes out;
  Append(out, std::string("FUJIFILMCCD-RAW 0201FF383501"));
  out.resize(84, 0);
  Append(out, Big32(100));
  Append(out, Big32(static_cast<uint32_t>(jpeg.size())));
  const Bytes directory = {0, 0, 0, 3, 0x01, 0x00, 0, 4, 0x05, 0xA4, 0x11, 0x00, 0x01, 0x30, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8,
                           0x01, 0x11, 0, 4, 0x05, 0x90, 0x10, 0xA0};
  Append(out, Big32(static_cast<uint32_t>(100 + jpeg.size())));
  Append(out, Big32(static_cast<uint32_t>(directory.size())));
  Append(out, jpeg);
  Append(out, directory);
  return out;
}

// BigTIFF with IFD0 (ImageWidth, ImageLength, Make as an inline 8-byte text, a LONG8 link to
// an EXIF directory holding ExposureTime inline as 8 bytes) in either byte order.
inline Bytes BigTiffWith(ByteOrder order, const std::string& make7, uint32_t width, uint32_t height) {
  const auto u16 = [&](Bytes& out, uint16_t v) { PutU16(out, v, order); };
  const auto u32 = [&](Bytes& out, uint32_t v) { PutU32(out, v, order); };
  const auto u64 = [&](Bytes& out, uint64_t v) {
    if (order == ByteOrder::kBig) u32(out, static_cast<uint32_t>(v >> 32)), u32(out, static_cast<uint32_t>(v));
    else u32(out, static_cast<uint32_t>(v)), u32(out, static_cast<uint32_t>(v >> 32));
  };
  Bytes out = {static_cast<uint8_t>(order == ByteOrder::kBig ? 'M' : 'I'), static_cast<uint8_t>(order == ByteOrder::kBig ? 'M' : 'I')};
  u16(out, 43), u16(out, 8), u16(out, 0), u64(out, 16);
  const uint64_t exifAt = 16 + 8 + 4 * 20 + 8;
  u64(out, 4);
  u16(out, 0x0100), u16(out, 4), u64(out, 1), u32(out, width), u32(out, 0);
  u16(out, 0x0101), u16(out, 4), u64(out, 1), u32(out, height), u32(out, 0);
  u16(out, 0x010F), u16(out, 2), u64(out, make7.size() + 1);
  Bytes text(make7.begin(), make7.end());
  text.resize(8, 0);
  Append(out, text);
  u16(out, 0x8769), u16(out, 18), u64(out, 1), u64(out, exifAt);
  u64(out, 0);
  u64(out, 1);
  u16(out, 0x829A), u16(out, 5), u64(out, 1), u32(out, 1), u32(out, 250);  // 1/250 s, inline
  u64(out, 0);
  return out;
}

// A video: ftyp (none for an old QuickTime file), then mdat and moov in either order. moov holds
// mvhd, an audio track, the video track (tkhd with its size and matrix, mdia's handler and one
// visual sample entry of its depth), and Apple's keyed metadata or QuickTime user data.
struct MovieOptions {
  std::string brand = "qt  ";  // "" for no ftyp
  bool moovFirst = false;
  uint8_t mvhdVersion = 0;
  uint64_t created = 3818631845, modified = 3818632140;  // 2025-01-02 03:04:05 and 03:09:00 UTC
  uint32_t scale = 600;
  uint64_t duration = 2401;
  int32_t a = 0x10000, b = 0, c = 0, d = 0x10000;  // the track matrix's rotation part
  uint32_t width = 1920, height = 1080;
  uint16_t depth = 24;
  std::vector<std::pair<std::string, std::string>> keyed;  // key name, UTF-8 value
  std::vector<std::pair<std::string, std::string>> userData;  // ©-type, text
  uint32_t mdatBytes = 4000;
};
inline std::string IndexType(uint32_t index) {
  const Bytes b = Big32(index);
  return std::string(b.begin(), b.end());
}
inline Bytes MovieWith(const MovieOptions& o) {
  const Bytes matrix = Concat({Big32(static_cast<uint32_t>(o.a)), Big32(static_cast<uint32_t>(o.b)), Big32(0),
                               Big32(static_cast<uint32_t>(o.c)), Big32(static_cast<uint32_t>(o.d)), Big32(0),
                               Big32(0), Big32(0), Big32(0x40000000)});
  const auto time = [&](uint64_t t) {
    return o.mvhdVersion == 1 ? Concat({Big32(static_cast<uint32_t>(t >> 32)), Big32(static_cast<uint32_t>(t))})
                              : Big32(static_cast<uint32_t>(t));
  };
  const Bytes mvhd = FullBox("mvhd", o.mvhdVersion, Concat({time(o.created), time(o.modified), Big32(o.scale),
                                                             time(o.duration), Big32(0x10000), Big16(0x100),
                                                             Bytes(10, 0), matrix, Bytes(24, 0), Big32(3)}));
  const auto track = [&](uint32_t id, const std::string& handler, uint32_t w, uint32_t h) {
    const Bytes tkhd = FullBox("tkhd", 0, Concat({Big32(0), Big32(0), Big32(id), Big32(0), Big32(2400), Bytes(8, 0),
                                                  Big32(0), Big32(0), matrix, Big32(w << 16), Big32(h << 16)}));
    const Bytes hdlr = FullBox("hdlr", 0, Concat({Bytes{'m', 'h', 'l', 'r'}, Bytes(handler.begin(), handler.end()), Bytes(13, 0)}));
    const Bytes entry = Box("avc1", Concat({Bytes(6, 0), Big16(1), Bytes(16, 0), Big16(static_cast<uint16_t>(w)),
                                            Big16(static_cast<uint16_t>(h)), Big32(0x480000), Big32(0x480000), Big32(0),
                                            Big16(1), Bytes(32, 0), Big16(o.depth), Big16(0xFFFF)}));
    const Bytes stbl = Box("stbl", Concat({FullBox("stsd", 0, Concat({Big32(1), entry})), FullBox("stsz", 0, Bytes(8, 0))}));
    // QuickTime's data handler in minf is no media handler: only mdia's says the track's kind.
    const Bytes dhlr = FullBox("hdlr", 0, Concat({Bytes{'d', 'h', 'l', 'r'}, Bytes{'a', 'l', 'i', 's'}, Bytes(13, 0)}));
    return Box("trak", Concat({tkhd, Box("mdia", Concat({hdlr, Box("minf", Concat({dhlr, stbl}))}))}));
  };
  Bytes moovBody = Concat({mvhd, track(1, "soun", 0, 0), track(2, "vide", o.width, o.height)});
  if (!o.keyed.empty()) {
    Bytes keys = Big32(static_cast<uint32_t>(o.keyed.size())), items;
    for (size_t i = 0; i < o.keyed.size(); ++i) {
      const std::string& name = o.keyed[i].first;
      Append(keys, Concat({Big32(static_cast<uint32_t>(8 + name.size())), Bytes{'m', 'd', 't', 'a'}, Bytes(name.begin(), name.end())}));
      const std::string& value = o.keyed[i].second;
      Append(items, Box(IndexType(static_cast<uint32_t>(i + 1)),
                        Box("data", Concat({Big32(1), Big32(0), Bytes(value.begin(), value.end())}))));
    }
    const Bytes hdlr = FullBox("hdlr", 0, Concat({Big32(0), Bytes{'m', 'd', 't', 'a'}, Bytes(13, 0)}));
    Append(moovBody, Box("meta", Concat({hdlr, FullBox("keys", 0, keys), Box("ilst", items)})));
  }
  if (!o.userData.empty()) {
    Bytes udta;
    for (const auto& [type, text] : o.userData)
      Append(udta, Box(type, Concat({Big16(static_cast<uint16_t>(text.size())), Big16(0x55C4), Bytes(text.begin(), text.end())})));
    Append(moovBody, Box("udta", Concat({udta, Big32(0)})));  // QuickTime ends user data with a 32-bit zero
  }
  const Bytes moov = Box("moov", moovBody);
  const Bytes mdat = Box("mdat", Bytes(o.mdatBytes, 0x5A));
  const Bytes ftyp = o.brand.empty() ? Bytes{}
                                     : Box("ftyp", Concat({Bytes(o.brand.begin(), o.brand.end()), Big32(0),
                                                           Bytes(o.brand.begin(), o.brand.end())}));
  return o.moovFirst ? Concat({ftyp, moov, mdat}) : Concat({ftyp, Box("wide", {}), mdat, moov});
}

}  // namespace testing_builders
