// SPDX-License-Identifier: MIT
#include "xmp/xmp_packet.h"

#include <expat.h>

#include <cstdlib>
#include <cstring>

namespace exifinfo {
namespace {

// Expat joins a namespaced name as URI, this byte, local name. No URI or name holds it.
constexpr char kNameSeparator = '\x01';
constexpr size_t kFeedBytes = 64 * 1024;  // expat's buffer holds one piece, not the packet

enum Namespace : int {
  kNsRdf, kNsXml, kNsDc, kNsXmp, kNsPhotoshop, kNsLightroom, kNsExif, kNsRegions, kNsXmpNote, kNsPdf, kNsOther
};
constexpr const char* kNamespaceUris[] = {
    "http://www.w3.org/1999/02/22-rdf-syntax-ns#",
    "http://www.w3.org/XML/1998/namespace",
    "http://purl.org/dc/elements/1.1/",
    "http://ns.adobe.com/xap/1.0/",
    "http://ns.adobe.com/photoshop/1.0/",
    "http://ns.adobe.com/lightroom/1.0/",
    "http://ns.adobe.com/exif/1.0/",
    "http://www.metadataworkinggroup.com/schemas/regions/",
    "http://ns.adobe.com/xmp/note/",
    "http://ns.adobe.com/pdf/1.3/",
};

// The properties a record value is found under; a path of them leads to each value.
struct Property {
  Namespace ns;
  const char* local;
};
enum PropertyId : int {
  kPropRating, kPropLabel, kPropCreateDate, kPropTitle, kPropDescription, kPropRights, kPropSubject, kPropCreator,
  kPropCity, kPropState, kPropCountry, kPropDateCreated, kPropHierarchicalSubject, kPropDateTimeOriginal,
  kPropGpsLatitude, kPropGpsLongitude, kPropGpsAltitude, kPropGpsAltitudeRef, kPropRegions, kPropRegionList,
  kPropName, kPropHasExtendedXmp, kPropPdfTitle,
  kPropOther = -1
};
constexpr Property kProperties[] = {
    {kNsXmp, "Rating"}, {kNsXmp, "Label"}, {kNsXmp, "CreateDate"}, {kNsDc, "title"}, {kNsDc, "description"},
    {kNsDc, "rights"}, {kNsDc, "subject"}, {kNsDc, "creator"}, {kNsPhotoshop, "City"}, {kNsPhotoshop, "State"},
    {kNsPhotoshop, "Country"}, {kNsPhotoshop, "DateCreated"}, {kNsLightroom, "hierarchicalSubject"},
    {kNsExif, "DateTimeOriginal"}, {kNsExif, "GPSLatitude"}, {kNsExif, "GPSLongitude"}, {kNsExif, "GPSAltitude"},
    {kNsExif, "GPSAltitudeRef"}, {kNsRegions, "Regions"}, {kNsRegions, "RegionList"}, {kNsRegions, "Name"},
    {kNsXmpNote, "HasExtendedXMP"}, {kNsPdf, "Title"},
};

// Where each value lies and what it is: a text, a language alternative (its default), a list,
// or a text that stands in for a language alternative no packet gives (a PDF's title).
enum class Kind { kText, kAlt, kList, kFallback };
struct Target {
  int path[3];
  int depth;
  Kind kind;
  int slot;  // a MetaText, or a MetaList for kList
};
constexpr Target kTargets[] = {
    {{kPropRating}, 1, Kind::kText, kRating},
    {{kPropLabel}, 1, Kind::kText, kLabel},
    {{kPropCreateDate}, 1, Kind::kText, kXmpCreateDate},
    {{kPropTitle}, 1, Kind::kAlt, kTitle},
    {{kPropDescription}, 1, Kind::kAlt, kDescription},
    {{kPropRights}, 1, Kind::kAlt, kRights},
    {{kPropSubject}, 1, Kind::kList, kSubject},
    {{kPropCreator}, 1, Kind::kList, kCreator},
    {{kPropCity}, 1, Kind::kText, kCity},
    {{kPropState}, 1, Kind::kText, kState},
    {{kPropCountry}, 1, Kind::kText, kCountry},
    {{kPropDateCreated}, 1, Kind::kText, kDateCreated},
    {{kPropHierarchicalSubject}, 1, Kind::kList, kHierarchicalSubject},
    {{kPropDateTimeOriginal}, 1, Kind::kText, kXmpDateTimeOriginal},
    {{kPropGpsLatitude}, 1, Kind::kText, kXmpGpsLatitude},
    {{kPropGpsLongitude}, 1, Kind::kText, kXmpGpsLongitude},
    {{kPropGpsAltitude}, 1, Kind::kText, kXmpGpsAltitude},
    {{kPropGpsAltitudeRef}, 1, Kind::kText, kXmpGpsAltitudeRef},
    {{kPropRegions, kPropRegionList, kPropName}, 3, Kind::kList, kRegionName},
    {{kPropHasExtendedXmp}, 1, Kind::kText, kHasExtendedXmp},
    {{kPropPdfTitle}, 1, Kind::kFallback, kTitle},
};

// What an element is to RDF, from its place: outside the RDF, the RDF root, a node (a resource
// whose children are properties), a property, a container (Bag, Seq, Alt), an item of one, or
// something this reader passes over with all it holds.
enum class Role { kOutside, kRdf, kNode, kProperty, kContainer, kItem, kSkip };

struct Frame {
  Role role = Role::kOutside;
  bool pushed = false;      // pushed a property onto the path
  bool hasChild = false;    // holds an element: not a leaf, its text is no value
  bool collecting = false;  // a leaf whose path leads to a target: its text is gathered
  int lang = 0;             // 0 no xml:lang, 1 "x-default", 2 another language
};

struct Name {
  Namespace ns = kNsOther;
  const char* local = "";
};

Name Split(const char* name) {
  Name out;
  const char* separator = std::strchr(name, kNameSeparator);
  if (separator == nullptr) {
    out.local = name;
    return out;
  }
  const size_t uriLength = static_cast<size_t>(separator - name);
  out.local = separator + 1;
  for (int k = 0; k < kNsOther; ++k)
    if (std::strlen(kNamespaceUris[k]) == uriLength && std::memcmp(kNamespaceUris[k], name, uriLength) == 0) {
      out.ns = static_cast<Namespace>(k);
      break;
    }
  return out;
}

bool Is(const Name& name, Namespace ns, const char* local) { return name.ns == ns && std::strcmp(name.local, local) == 0; }

// Some writers capitalise a property's first letter ("dc:Creator"); readers take it as meant.
bool SameProperty(const char* local, const char* known) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return *local != '\0' && lower(*local) == lower(*known) && std::strcmp(local + 1, known + 1) == 0;
}

int PropertyOf(const Name& name) {
  if (name.ns == kNsOther || name.ns == kNsRdf || name.ns == kNsXml) return kPropOther;
  for (int k = 0; k < static_cast<int>(sizeof kProperties / sizeof kProperties[0]); ++k)
    if (name.ns == kProperties[k].ns && SameProperty(name.local, kProperties[k].local)) return k;
  return kPropOther;
}

class XmpParse {
 public:
  XmpParse(XML_Parser parser, MetaValues& out) : parser_(parser), out_(out) {}
  ~XmpParse() { std::free(text_); }
  XmpParse(const XmpParse&) = delete;
  XmpParse& operator=(const XmpParse&) = delete;

  static void OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<XmpParse*>(self)->Start(name, attributes);
  }
  static void OnEnd(void* self, const XML_Char*) { static_cast<XmpParse*>(self)->End(); }
  static void OnText(void* self, const XML_Char* text, int length) {
    static_cast<XmpParse*>(self)->Text(text, static_cast<size_t>(length));
  }
  static void OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<XmpParse*>(self)->Stop(XmpOutcome::kRefused);
  }
  XmpOutcome outcome() const { return outcome_; }
  void Stop(XmpOutcome outcome) {
    if (outcome_ == XmpOutcome::kRead) outcome_ = outcome;
    XML_StopParser(parser_, XML_FALSE);
  }

 private:
  void Start(const XML_Char* rawName, const XML_Char** attributes);
  void End();
  void Text(const char* text, size_t length);
  void Attributes(const XML_Char** attributes, Frame& frame);
  void ValueElement(Frame& frame, const XML_Char** attributes, Role role);
  void PushPath(int property, Frame& frame);
  const Target* TargetOfPath() const;
  void Emit(const char* value, size_t length, int lang);

  XML_Parser parser_;
  MetaValues& out_;
  Frame frames_[kMaxXmpDepth + 1];
  int depth_ = 0;  // frames_[0] stands for what lies outside the root
  int path_[kMaxXmpDepth + 1] = {};
  int pathDepth_ = 0;
  char* text_ = nullptr;
  size_t textLength_ = 0, textCapacity_ = 0;
  XmpOutcome outcome_ = XmpOutcome::kRead;
};

const Target* XmpParse::TargetOfPath() const {
  for (const Target& t : kTargets) {
    if (t.depth != pathDepth_) continue;
    bool same = true;
    for (int k = 0; k < t.depth && same; ++k) same = t.path[k] == path_[k];
    if (same) return &t;
  }
  return nullptr;
}

void XmpParse::PushPath(int property, Frame& frame) {
  path_[pathDepth_++] = property;
  frame.pushed = true;
}

void XmpParse::Emit(const char* value, size_t length, int lang) {
  const Target* target = TargetOfPath();
  if (target == nullptr) return;
  switch (target->kind) {
    case Kind::kText:
      out_.SetText(static_cast<MetaText>(target->slot), value, length);
      return;
    case Kind::kAlt:
      // The default language, or a text with none; another language alone is no default.
      if (lang != 2) out_.SetText(static_cast<MetaText>(target->slot), value, length, lang == 1 ? 3 : 2);
      return;
    case Kind::kFallback:
      out_.SetText(static_cast<MetaText>(target->slot), value, length, 1);
      return;
    case Kind::kList:
      out_.AddItem(static_cast<MetaList>(target->slot), value, length);
      return;
  }
}

// A node's attributes (other than RDF's and XML's own) are properties with simple values; so
// are those of a property element that has no content (a structure written short).
void XmpParse::Attributes(const XML_Char** attributes, Frame& frame) {
  for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
    const Name name = Split(a[0]);
    if (Is(name, kNsXml, "lang")) {
      frame.lang = std::strcmp(a[1], "x-default") == 0 ? 1 : 2;
      continue;
    }
    if (name.ns == kNsRdf) {
      if (std::strcmp(name.local, "resource") == 0 && frame.role == Role::kProperty) Emit(a[1], std::strlen(a[1]), 0);
      continue;
    }
    if (name.ns == kNsXml || pathDepth_ >= kMaxXmpDepth) continue;
    path_[pathDepth_++] = PropertyOf(name);
    Emit(a[1], std::strlen(a[1]), 0);
    --pathDepth_;
  }
}

bool IsResourceParse(const XML_Char** attributes) {
  for (const XML_Char** a = attributes; a[0] != nullptr; a += 2)
    if (Is(Split(a[0]), kNsRdf, "parseType") && std::strcmp(a[1], "Resource") == 0) return true;
  return false;
}

// A property or a list's item: a structure when parsed as a resource, else a value whose text
// is gathered where its path leads to a target. Its attributes are properties either way.
void XmpParse::ValueElement(Frame& frame, const XML_Char** attributes, Role role) {
  if (IsResourceParse(attributes)) {
    frame.role = Role::kNode;
  } else {
    frame.role = role;
    frame.collecting = TargetOfPath() != nullptr;
    textLength_ = 0;
  }
  Attributes(attributes, frame);
}

void XmpParse::Start(const XML_Char* rawName, const XML_Char** attributes) {
  if (depth_ >= kMaxXmpDepth) return Stop(XmpOutcome::kTooDeep);
  Frame& parent = frames_[depth_];
  Frame& frame = frames_[++depth_];
  frame = Frame{};
  const Name name = Split(rawName);
  const bool container = Is(name, kNsRdf, "Bag") || Is(name, kNsRdf, "Seq") || Is(name, kNsRdf, "Alt");
  switch (parent.role) {
    case Role::kOutside:
      frame.role = Is(name, kNsRdf, "RDF") ? Role::kRdf : Role::kOutside;
      return;
    case Role::kRdf:
      frame.role = Role::kNode;
      return Attributes(attributes, frame);
    case Role::kNode:
      PushPath(PropertyOf(name), frame);
      return ValueElement(frame, attributes, Role::kProperty);
    case Role::kProperty:
    case Role::kItem:
      parent.hasChild = true;
      parent.collecting = false;
      frame.role = container ? Role::kContainer : Role::kNode;
      if (!container) Attributes(attributes, frame);
      return;
    case Role::kContainer:
      if (!Is(name, kNsRdf, "li")) {
        frame.role = Role::kSkip;
        return;
      }
      return ValueElement(frame, attributes, Role::kItem);
    case Role::kSkip:
      frame.role = Role::kSkip;
      return;
  }
}

void XmpParse::End() {
  if (depth_ == 0) return;
  Frame& frame = frames_[depth_];
  if (frame.collecting && !frame.hasChild) Emit(text_ != nullptr ? text_ : "", textLength_, frame.lang);
  if (frame.pushed) --pathDepth_;
  --depth_;
}

void XmpParse::Text(const char* text, size_t length) {
  if (!frames_[depth_].collecting) return;
  if (textLength_ + length > textCapacity_) {
    size_t next = textCapacity_ < 256 ? 256 : textCapacity_;
    while (next < textLength_ + length) next *= 2;
    char* grown = static_cast<char*>(std::realloc(text_, next));
    if (grown == nullptr) return Stop(XmpOutcome::kOutOfMemory);
    text_ = grown;
    textCapacity_ = next;
  }
  std::memcpy(text_ + textLength_, text, length);
  textLength_ += length;
}

}  // namespace

XmpOutcome ParseXmp(ByteView packet, MetaValues& out) {
  if (packet.size > kMaxXmpBytes) return XmpOutcome::kTooLarge;
  // Writers pad packets (blanks, NULs) and some put bytes before the first element.
  size_t first = 0, end = packet.size;
  while (first < end && packet.data[first] != '<') ++first;
  while (end > first && packet.data[end - 1] != '>') --end;
  const ByteView xml = packet.Slice(first, end - first);
  out.BeginPacket();
  if (xml.size == 0) return XmpOutcome::kDamaged;
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNameSeparator);
  if (parser == nullptr) return XmpOutcome::kOutOfMemory;
  XmpOutcome outcome;
  {
    XmpParse parse(parser, out);
    XML_SetUserData(parser, &parse);
    XML_SetElementHandler(parser, XmpParse::OnStart, XmpParse::OnEnd);
    XML_SetCharacterDataHandler(parser, XmpParse::OnText);
    XML_SetStartDoctypeDeclHandler(parser, XmpParse::OnDoctype);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    for (size_t at = 0; at < xml.size;) {
      const size_t piece = xml.size - at < kFeedBytes ? xml.size - at : kFeedBytes;
      const bool last = at + piece == xml.size;
      const XML_Status status =
          XML_Parse(parser, reinterpret_cast<const char*>(xml.At(at)), static_cast<int>(piece), last ? XML_TRUE : XML_FALSE);
      if (status != XML_STATUS_OK) {
        if (parse.outcome() == XmpOutcome::kRead)
          parse.Stop(XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY ? XmpOutcome::kOutOfMemory : XmpOutcome::kDamaged);
        break;
      }
      at += piece;
    }
    outcome = parse.outcome();
  }
  XML_ParserFree(parser);
  if (outcome == XmpOutcome::kRead && out.outOfMemory()) outcome = XmpOutcome::kOutOfMemory;
  return outcome;
}

const char* XmpOutcomeText(XmpOutcome outcome) {
  switch (outcome) {
    case XmpOutcome::kRead: return nullptr;
    case XmpOutcome::kDamaged: return "XMP packet is not well-formed XML: read up to the fault";
    case XmpOutcome::kTooLarge: return "XMP packet larger than 4 MiB: passed over";
    case XmpOutcome::kRefused: return "XMP packet declares a document type: passed over";
    case XmpOutcome::kTooDeep: return "XMP packet nested more than 64 deep: read up to there";
    case XmpOutcome::kOutOfMemory: return "XMP packet cut: out of memory";
  }
  return nullptr;
}

}  // namespace exifinfo
