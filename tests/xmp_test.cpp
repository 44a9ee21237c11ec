// SPDX-License-Identifier: MIT
// XMP packets and IPTC blocks read into values: the forms RDF writers use, the bounds, and the
// packets that attack XML readers.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "xmp/iptc.h"
#include "xmp/meta_record.h"
#include "xmp/xmp_packet.h"

namespace {

using exifinfo::ByteView;
using exifinfo::MetaValues;
using exifinfo::XmpOutcome;

ByteView View(const std::string& s) { return ByteView{reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::string Packet(const std::string& rdf, const std::string& before = "") {
  return before + "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>" + rdf +
         "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>" + std::string(64, ' ') + std::string(3, '\0');
}

std::string Text(const MetaValues& m, exifinfo::MetaText slot) {
  if (!m.has(slot)) return "(absent)";
  const ByteView t = m.text(slot);
  return std::string(reinterpret_cast<const char*>(t.data), t.size);
}

std::vector<std::string> List(const MetaValues& m, exifinfo::MetaList slot) {
  std::vector<std::string> out;
  m.ForEachItem(slot, [&](ByteView item) { out.emplace_back(reinterpret_cast<const char*>(item.data), item.size); });
  return out;
}

constexpr char kDc[] = " xmlns:dc='http://purl.org/dc/elements/1.1/'";
constexpr char kXmp[] = " xmlns:xmp='http://ns.adobe.com/xap/1.0/'";
constexpr char kPs[] = " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'";

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t k = 0; k < times; ++k) out += piece;
  return out;
}

struct PacketCase {
  const char* name;
  std::string packet;
  XmpOutcome outcome;
  std::map<exifinfo::MetaText, std::string> texts;
  std::map<exifinfo::MetaList, std::vector<std::string>> lists;
};

// Each packet gives exactly these texts and lists (every other slot absent), with this outcome.
TEST(Xmp, PacketsGiveTheirValues) {
  using namespace exifinfo;
  const std::string regionList =
      "<rdf:Description xmlns:mwg-rs='http://www.metadataworkinggroup.com/schemas/regions/'><mwg-rs:Regions "
      "rdf:parseType='Resource'><mwg-rs:RegionList><rdf:Bag><rdf:li rdf:parseType='Resource'><mwg-rs:Name>Anna"
      "</mwg-rs:Name><mwg-rs:Type>Face</mwg-rs:Type></rdf:li><rdf:li><rdf:Description mwg-rs:Name='Ben'/></rdf:li>"
      "</rdf:Bag></mwg-rs:RegionList></mwg-rs:Regions><mwg-rs:Name>not a region</mwg-rs:Name></rdf:Description>";
  const PacketCase cases[] = {
      {"attributes", Packet(std::string("<rdf:Description") + kXmp + kPs +
                            " xmp:Rating='4' xmp:Label='Red' photoshop:City='Paris' photoshop:Country='France'/>"),
       XmpOutcome::kRead, {{kRating, "4"}, {kLabel, "Red"}, {kCity, "Paris"}, {kCountry, "France"}}, {}},
      {"elements under any prefix, entities and references",
       Packet("<rdf:Description xmlns:foo='http://purl.org/dc/elements/1.1/'><foo:subject><rdf:Bag><rdf:li>a</rdf:li>"
              "<rdf:li>b &amp; &#233;</rdf:li></rdf:Bag></foo:subject><foo:title><rdf:Alt><rdf:li xml:lang='de'>Titel"
              "</rdf:li><rdf:li xml:lang='x-default'>Title</rdf:li></rdf:Alt></foo:title></rdf:Description>"),
       XmpOutcome::kRead, {{kTitle, "Title"}}, {{kSubject, {"a", "b & \xC3\xA9"}}}},
      {"another language alone is no default; a text without one is",
       Packet(std::string("<rdf:Description") + kDc + "><dc:title><rdf:Alt><rdf:li xml:lang='fr'>Titre</rdf:li></rdf:Alt>"
              "</dc:title><dc:rights><rdf:Alt><rdf:li>(c) me</rdf:li></rdf:Alt></dc:rights><dc:description>plain"
              "</dc:description></rdf:Description>"),
       XmpOutcome::kRead, {{kRights, "(c) me"}, {kDescription, "plain"}}, {}},
      {"a PDF's title stands in for a title, never over one",
       Packet("<rdf:Description xmlns:pdf='http://ns.adobe.com/pdf/1.3/' pdf:Title='PDF' pdf:Creator='an app'/>"
              "<rdf:Description" + std::string(kDc) + "><dc:title><rdf:Alt><rdf:li xml:lang='x-default'>DC</rdf:li>"
              "</rdf:Alt></dc:title></rdf:Description>"),
       XmpOutcome::kRead, {{kTitle, "DC"}}, {}},
      {"a PDF's title alone", Packet("<rdf:Description xmlns:pdf='http://ns.adobe.com/pdf/1.3/' pdf:Title='PDF'/>"),
       XmpOutcome::kRead, {{kTitle, "PDF"}}, {}},
      {"face regions in both struct forms", Packet(regionList), XmpOutcome::kRead, {}, {{kRegionName, {"Anna", "Ben"}}}},
      {"lists, a capitalised property, and two descriptions",
       Packet(std::string("<rdf:Description") + kDc + "><dc:Creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bo</rdf:li>"
              "</rdf:Seq></dc:Creator></rdf:Description><rdf:Description xmlns:lr='http://ns.adobe.com/lightroom/1.0/'>"
              "<lr:hierarchicalSubject><rdf:Bag><rdf:li>Places|Paris</rdf:li></rdf:Bag></lr:hierarchicalSubject>"
              "</rdf:Description>"),
       XmpOutcome::kRead, {}, {{kCreator, {"Ann", "Bo"}}, {kHierarchicalSubject, {"Places|Paris"}}}},
      {"dates and a position", Packet(std::string("<rdf:Description") + kPs + kXmp +
                                      " xmlns:exif='http://ns.adobe.com/exif/1.0/' photoshop:DateCreated='2019-07-24'"
                                      " xmp:CreateDate='2019-07-24T11:25+03:00' exif:GPSLatitude='48,51.5N'"
                                      " exif:GPSLongitude='2,21,0W' exif:GPSAltitude='35/1' exif:GPSAltitudeRef='1'/>"),
       XmpOutcome::kRead,
       {{kDateCreated, "2019-07-24"}, {kXmpCreateDate, "2019-07-24T11:25+03:00"}, {kXmpGpsLatitude, "48,51.5N"},
        {kXmpGpsLongitude, "2,21,0W"}, {kXmpGpsAltitude, "35/1"}, {kXmpGpsAltitudeRef, "1"}},
       {}},
      // What attacks XML readers, and what breaks packets.
      {"a billion laughs", "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'><!ENTITY lol2 '&lol;&lol;&lol;'>"
                           "<!ENTITY lol3 '&lol2;&lol2;&lol2;'>]>" + Packet(std::string("<rdf:Description") + kXmp +
                                                                             " xmp:Label='&lol3;'/>"),
       XmpOutcome::kRefused, {}, {}},
      {"an external entity", "<!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>" +
                                 Packet(std::string("<rdf:Description") + kXmp + " xmp:Label='&e;'/>"),
       XmpOutcome::kRefused, {}, {}},
      {"an entity never declared", Packet(std::string("<rdf:Description") + kXmp + " xmp:Rating='1'/><rdf:Description" +
                                          kXmp + " xmp:Label='&e;'/>"),
       XmpOutcome::kDamaged, {{kRating, "1"}}, {}},
      {"broken UTF-8", Packet(std::string("<rdf:Description") + kXmp + " xmp:Rating='2'/><rdf:Description" + kXmp +
                              " xmp:Label='\xC3\x28'/>"),
       XmpOutcome::kDamaged, {{kRating, "2"}}, {}},
      {"an unclosed element", Packet(std::string("<rdf:Description") + kXmp + " xmp:Rating='3'><xmp:Label>Blue"),
       XmpOutcome::kDamaged, {{kRating, "3"}}, {}},
      {"nested past the bound", Packet(std::string("<rdf:Description") + kXmp + " xmp:Rating='5'/>" +
                                       Repeat("<a>", 80) + Repeat("</a>", 80)),
       XmpOutcome::kTooDeep, {{kRating, "5"}}, {}},
      {"200,000 items", Packet(std::string("<rdf:Description") + kDc + "><dc:subject><rdf:Bag>" +
                               Repeat("<rdf:li>k</rdf:li>", 200000) + "</rdf:Bag></dc:subject></rdf:Description>"),
       XmpOutcome::kRead, {}, {{kSubject, std::vector<std::string>(MetaValues::kMaxListItems, "k")}}},
      {"a packet of 5 MiB", Packet(std::string("<rdf:Description") + kXmp + " xmp:Rating='1'/>" +
                                   Repeat(" ", 5 << 20)),
       XmpOutcome::kTooLarge, {}, {}},
      {"no XML at all", std::string(100, '\0'), XmpOutcome::kDamaged, {}, {}},
  };
  for (const PacketCase& c : cases) {
    MetaValues values;
    EXPECT_EQ(exifinfo::ParseXmp(View(c.packet), values), c.outcome) << c.name;
    for (int t = 0; t < kMetaTextCount; ++t) {
      const auto slot = static_cast<MetaText>(t);
      const auto expected = c.texts.find(slot);
      EXPECT_EQ(Text(values, slot), expected == c.texts.end() ? "(absent)" : expected->second) << c.name << " text " << t;
    }
    for (int l = 0; l < kMetaListCount; ++l) {
      const auto slot = static_cast<MetaList>(l);
      const auto expected = c.lists.find(slot);
      EXPECT_EQ(List(values, slot), expected == c.lists.end() ? std::vector<std::string>{} : expected->second)
          << c.name << " list " << l;
    }
    EXPECT_EQ(values.listCut(), std::string(c.name) == "200,000 items") << c.name;
  }
}

// The first packet that has a value keeps it; within a packet the default language wins.
TEST(Xmp, EarlierPacketsKeepTheirValues) {
  using namespace exifinfo;
  MetaValues values;
  ParseXmp(View(Packet(std::string("<rdf:Description") + kXmp + kDc + " xmp:Label='first'><dc:subject><rdf:Bag>"
                       "<rdf:li>one</rdf:li></rdf:Bag></dc:subject></rdf:Description>")),
           values);
  ParseXmp(View(Packet(std::string("<rdf:Description") + kXmp + kDc + " xmp:Label='second' xmp:Rating='2'>"
                       "<dc:subject><rdf:Bag><rdf:li>two</rdf:li></rdf:Bag></dc:subject></rdf:Description>")),
           values);
  EXPECT_EQ(Text(values, kLabel), "first");
  EXPECT_EQ(Text(values, kRating), "2");
  EXPECT_EQ(List(values, kSubject), std::vector<std::string>{"one"});
}

std::string Dataset(int record, int number, const std::string& value) {
  std::string out = {'\x1C', static_cast<char>(record), static_cast<char>(number)};
  if (value.size() < 0x8000) return out + char(value.size() >> 8) + char(value.size() & 0xFF) + value;
  // An extended dataset: the length in 4 bytes of its own.
  return out + "\x80\x04" + char(value.size() >> 24) + char(value.size() >> 16 & 0xFF) + char(value.size() >> 8 & 0xFF) +
         char(value.size() & 0xFF) + value;
}

// Texts by the character set record 1 names, else UTF-8 where well-formed and Latin-1 where not;
// lists in order; a dataset cut by the block's end ends the block.
TEST(Iptc, DatasetsGiveTheirValues) {
  using namespace exifinfo;
  const struct {
    const char* name;
    std::string iim;
    std::string city;
    std::vector<std::string> keywords;
  } cases[] = {
      {"UTF-8 declared", Dataset(1, 90, "\x1B%G") + Dataset(2, 90, "Z\xC3\xBCrich"), "Z\xC3\xBCrich", {}},
      {"Latin-1", Dataset(2, 90, "Z\xFCrich") + Dataset(2, 25, "caf\xE9"), "Z\xC3\xBCrich", {"caf\xC3\xA9"}},
      {"UTF-8 undeclared", Dataset(2, 90, "Z\xC3\xBCrich"), "Z\xC3\xBCrich", {}},
      {"keywords, an extended dataset, NUL padding",
       Dataset(2, 25, "a") + Dataset(2, 25, std::string("b\0\0", 3)) + Dataset(2, 25, std::string(40000, 'c')), "(absent)",
       {"a", "b", std::string(40000, 'c')}},
      {"cut by the end", Dataset(2, 25, "kept") + Dataset(2, 90, "lost").substr(0, 7), "(absent)", {"kept"}},
      {"a stray byte ends the block", Dataset(2, 25, "kept") + "x" + Dataset(2, 90, "lost"), "(absent)", {"kept"}},
  };
  for (const auto& c : cases) {
    MetaValues values;
    ParseIptc(View(c.iim), values);
    EXPECT_EQ(Text(values, kIptcCity), c.city) << c.name;
    EXPECT_EQ(List(values, kKeywords), c.keywords) << c.name;
  }
  // Photoshop's resources: the IPTC block is resource 0x0404, after others, names padded to even.
  const std::string iim = Dataset(2, 5, "Name");
  const std::string resources = std::string("8BIM\x04\x0C\x03" "abc", 10) + std::string("\0\0\0\x01x\0", 6) +
                                std::string("8BIM\x04\x04\0\0\0\0\0", 11) + char(iim.size()) + iim;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(IptcOfPhotoshop(View(resources)).data), iim.size()), iim);
  EXPECT_EQ(IptcOfPhotoshop(View(resources.substr(0, resources.size() - 1))).size, 0u);  // cut: none
}

// Dates as EXIF writes its times, and numbers and coordinates in XMP's forms.
TEST(Xmp, DatesNumbersAndCoordinates) {
  using namespace exifinfo;
  const std::pair<std::string, std::string> dates[] = {
      {"2019-07-24T11:25:40.5+03:00", "2019:07:24 11:25:40.5+03:00"}, {"2019-07-24T11:25Z", "2019:07:24 11:25:00Z"},
      {"2019-07-24", "2019:07:24"}, {"2019-07", "2019:07"}, {"2019", "2019"}, {"July 2019", "July 2019"}};
  for (const auto& [xmp, exif] : dates) {
    char out[kMetaDateBytes];
    const size_t n = XmpDateAsExif(View(xmp), out);
    EXPECT_EQ(std::string(out, n), exif) << xmp;
  }
  const std::pair<std::string, double> coordinates[] = {{"48,51.5N", 48 + 51.5 / 60}, {"2,21,0W", -(2 + 21 / 60.0)},
                                                        {"-33.5", -33.5}, {"10,20,30,40N", NAN}, {"N", NAN}, {"1,xS", NAN}};
  for (const auto& [text, degrees] : coordinates) {
    double out = NAN;
    EXPECT_EQ(XmpCoordinate(View(text), out), !std::isnan(degrees)) << text;
    if (!std::isnan(degrees)) {
      EXPECT_DOUBLE_EQ(out, degrees) << text;
    }
  }
  const std::pair<std::string, double> numbers[] = {{"5", 5}, {"-1", -1}, {"2.5", 2.5}, {"1234/10", 123.4}, {"1/0", NAN},
                                                    {"five", NAN}, {"", NAN}};
  for (const auto& [text, value] : numbers) {
    double out = NAN;
    EXPECT_EQ(XmpNumber(View(text), out), !std::isnan(value)) << text;
    if (!std::isnan(value)) {
      EXPECT_DOUBLE_EQ(out, value) << text;
    }
  }
}

}  // namespace
