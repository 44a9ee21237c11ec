// SPDX-License-Identifier: MIT
// Writes the fuzzers' seed corpus: JPEG streams, EXIF blocks and photos in the other containers
// made with the test builders, plus the real files of a corpus folder (whole, and their APP1
// "Exif" contents).
// Usage: make_seeds READ_DIR EXIF_DIR CONTAINER_DIR [CORPUS_DIR]
#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "container_builders.h"

using namespace testing_builders;

namespace {

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<Bytes> TiffSeeds() {
  std::vector<Bytes> seeds;
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    TiffBuilder camera(order);
    camera.Directory().Ascii(0x010F, "Maker").Ascii(0x0110, "Model").Short(0x0112, 6).Rational(0x011A, 72, 1)
        .Short(0x0128, 2).Link(0x8769, 1).NextDirectory(3);
    camera.Directory().Rational(0x829A, 1, 100).Rational(0x829D, 28, 10).Short(0x8827, 100)
        .Undefined(0x9000, {'0', '2', '2', '1'}).Ascii(0x9003, "2024:01:02 03:04:05").SRational(0x9201, 8, 1)
        .Rational(0x9202, 4, 1).Short(0x9209, 0x19).Rational(0x920A, 50, 1)
        .Undefined(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'i', ' ', ' '}).Long(0xA002, 1600)
        .Long(0xA003, 1200).Link(0xA005, 2).Rational(0xA20E, 2000, 1).Short(0xA210, 3);
    camera.Directory().Ascii(0x0001, "R98");
    camera.Directory().Long(0x0201, 8).Long(0x0202, 16).Rational(0x011A, 180, 1);
    seeds.push_back(camera.Build());
    TiffBuilder loop(order);
    loop.Directory().Link(0x8769, 1).NextDirectory(TiffBuilder::kSelf);
    loop.Directory().Link(0xA005, 0).Double(0x9206, 1e300).Float(0x9203, -2.5f);
    seeds.push_back(loop.Build());
  }
  return seeds;
}

// The contents of each APP1 "Exif" section of a JPEG stream.
std::vector<Bytes> ExifSections(const Bytes& jpeg) {
  std::vector<Bytes> found;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (marker == 0xDA || length < 2 || at + 2 + length > jpeg.size()) break;
    if (marker == 0xE1 && length >= 6 && std::equal(jpeg.begin() + static_cast<long>(at) + 4,
                                                    jpeg.begin() + static_cast<long>(at) + 8, "Exif"))
      found.emplace_back(jpeg.begin() + static_cast<long>(at) + 4, jpeg.begin() + static_cast<long>(at + 2 + length));
    at += 2 + length;
  }
  return found;
}

// The XMP target's seeds: a first byte saying what follows (0 a packet, 1 IPTC, 2 JPEG sections
// each after a 2-byte length, odd lengths APP13).
void WriteMetaSeeds(const std::string& dir) {
  const std::string packet =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
      "xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
      "xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
      "xmlns:mwg-rs='http://www.metadataworkinggroup.com/schemas/regions/' xmp:Rating='4' "
      "xmpNote:HasExtendedXMP='AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA' exif:GPSLatitude='48,51.5N'><dc:subject><rdf:Bag>"
      "<rdf:li>a</rdf:li></rdf:Bag></dc:subject><dc:title><rdf:Alt><rdf:li xml:lang='x-default'>T &amp; &#233;</rdf:li>"
      "</rdf:Alt></dc:title><mwg-rs:Regions rdf:parseType='Resource'><mwg-rs:RegionList><rdf:Bag><rdf:li "
      "rdf:parseType='Resource'><mwg-rs:Name>Anna</mwg-rs:Name></rdf:li></rdf:Bag></mwg-rs:RegionList>"
      "</mwg-rs:Regions></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  const std::string iim = std::string("\x1C\x01\x5A\x00\x03\x1B%G\x1C\x02\x19\x00\x02k1\x1C\x02\x37\x00\x08"
                                      "20190724\x1C\x02\x3C\x00\x0B" "112540+0300", 40);
  const auto section = [](const std::string& contents) {
    return std::string{static_cast<char>(contents.size() >> 8), static_cast<char>(contents.size() & 0xFF)} + contents;
  };
  const std::string xmpHeader("http://ns.adobe.com/xap/1.0/\0", 29), extHeader("http://ns.adobe.com/xmp/extension/\0", 35);
  const std::string part = extHeader + std::string(32, 'A') + std::string("\0\0\0\x10\0\0\0\0", 8) + "<x:a>rest</x:a>!";
  const std::string resources = std::string("Photoshop 3.0\0" "8BIM\x04\x04\0\0\0\0\0", 25) + char(iim.size()) + iim + " ";
  const auto seed = [](char kind, const std::string& rest) {
    const std::string bytes = kind + rest;
    return Bytes(bytes.begin(), bytes.end());
  };
  Write(dir + "/packet", seed(0, packet));
  Write(dir + "/iptc", seed(1, iim));
  const std::string sections = section(xmpHeader + packet + (packet.size() % 2 ? "" : " ")) + section(part) + section(resources);
  Write(dir + "/sections", seed(2, sections));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_seeds READ_DIR EXIF_DIR CONTAINER_DIR [CORPUS_DIR [XMP_DIR]]\n");
    return 2;
  }
  const std::string readDir = argv[1], exifDir = argv[2], containerDir = argv[3];
  int n = 0;
  for (const Bytes& tiff : TiffSeeds()) {
    Write(exifDir + "/built-" + std::to_string(n), ExifContents(tiff));
    Write(readDir + "/built-" + std::to_string(n),
          JpegBuilder().Soi().Comment("note\r\n").App1Exif(tiff).BaselineFrame(480, 640).QuantTable().StartOfScan().Build());
    const std::string k = std::to_string(n);
    Write(containerDir + "/tiff-" + k, tiff);
    Write(containerDir + "/heic-" + k, HeifWith(tiff));
    HeifOptions idat;
    idat.inIdat = true, idat.brand = "avif";
    Write(containerDir + "/avif-idat-" + k, HeifWith(tiff, idat));
    Write(containerDir + "/png-" + k, PngWith(tiff));
    Write(containerDir + "/webp-" + k, WebpWith(tiff, 33, 17, n % 2 == 0));
    Write(containerDir + "/jxl-" + k, JxlWith(tiff, n % 2 == 0));
    Write(containerDir + "/png-profile-" + k, PngRawProfile(tiff, n % 3 == 0 ? "tEXt" : n % 3 == 1 ? "zTXt" : "iTXt"));
    Write(containerDir + "/raf-" + k, RafWith(JpegBuilder().Soi().App1Exif(tiff).BaselineFrame(8, 8).StartOfScan().Build()));
    Write(containerDir + "/cr3-" + k, Cr3With(tiff, tiff));
    Write(containerDir + "/mrw-" + k, MrwWith(tiff));
    ++n;
  }
  Write(containerDir + "/bigtiff-ii", BigTiffWith(ByteOrder::kLittle, "Maker", 640, 480));
  Write(containerDir + "/bigtiff-mm", BigTiffWith(ByteOrder::kBig, "Maker", 640, 480));
  // Videos: keyed metadata and user data, both headers' versions, moov first and last, no ftyp.
  MovieOptions movie;
  movie.mdatBytes = 64;
  movie.keyed = {{"com.apple.quicktime.make", "Apple"}, {"com.apple.quicktime.creationdate", "2025-01-02T04:04:05+0100"},
                 {"com.apple.quicktime.location.ISO6709", "+59.3250+018.0667+012.500/"}};
  Write(containerDir + "/mov-keyed", MovieWith(movie));
  movie.keyed.clear();
  movie.userData = {{"\xA9mak", "Tolvane"}, {"\xA9xyz", "-33.8568+151.2153/"}};
  movie.brand = "isom", movie.moovFirst = true, movie.mvhdVersion = 1;
  Write(containerDir + "/mp4-user-data", MovieWith(movie));
  movie.brand = "", movie.userData.clear();
  Write(containerDir + "/mov-no-ftyp", MovieWith(movie));
  Write(readDir + "/no-exif", JpegBuilder().Soi().Segment(0xE0, "JFIF").Frame(0xC2, 10, 20, 1).StartOfScan().Build());
  if (argc > 5) WriteMetaSeeds(argv[5]);
  if (argc > 4 && argv[4][0] != '\0') {
    DIR* dir = opendir(argv[4]);
    while (dir != nullptr) {
      const dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      const std::string name = entry->d_name, path = std::string(argv[4]) + "/" + name;
      if (name[0] == '.' || name == "expected" || name == "README.md" || name == "SHA256SUMS") continue;
      std::ifstream in(path, std::ios::binary);
      const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.size() > 65536) continue;  // the reader never looks past the headers anyway
      Write(readDir + "/corpus-" + name, bytes);
      int k = 0;
      for (const Bytes& section : ExifSections(bytes)) Write(exifDir + "/corpus-" + name + "-" + std::to_string(k++), section);
    }
    if (dir != nullptr) closedir(dir);
  }
  return 0;
}
