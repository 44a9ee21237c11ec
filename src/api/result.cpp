// SPDX-License-Identifier: MIT
#include "api/result.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/fields.h"
#include "report/report_text.h"
#include "text/json_text.h"
#include "text/utf8.h"
#include "xmp/meta_record.h"

namespace exifinfo_api {
namespace {

// Carves one allocation into the struct and the blocks it points to, in order.
class Layout {
 public:
  size_t Reserve(size_t bytes, size_t alignment) {
    used_ = (used_ + alignment - 1) / alignment * alignment;
    const size_t at = used_;
    used_ += bytes;
    return at;
  }
  size_t size() const { return used_; }

 private:
  size_t used_ = sizeof(exifinfo_photo);
};


// The number of characters in well-formed UTF-8: every byte but the continuation bytes.
size_t CodePoints(const char* text, size_t length) {
  size_t continuations = 0;
  for (size_t i = 0; i < length; ++i) continuations += (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80;
  return length - continuations;
}


// How each source of fields.h fills its member, and the bytes its text takes.
#define EXIFINFO_FILL_REPORT_TEXT(member, index) photo->member = reportTexts + texts.at[index]
#define EXIFINFO_FILL_REPORT_INT32(member, index) photo->member = i.member
#define EXIFINFO_FILL_REPORT_FLOAT(member, index) photo->member = i.member
#define EXIFINFO_FILL_TEXT_TEXT(member, index) \
  photo->member = extras.textPresent[index] ? put(extras.texts[index], extras.textLengths[index]) : absentText
#define EXIFINFO_FILL_CAPTURE_TIME_TEXT(member, index) \
  photo->member = extras.captureTime[0] != '\0' ? put(extras.captureTime, std::strlen(extras.captureTime)) : absentText
#define EXIFINFO_FILL_GPS_DATE_TIME_TEXT(member, index) \
  photo->member = extras.gpsDateTime[0] != '\0' ? put(extras.gpsDateTime, std::strlen(extras.gpsDateTime)) : absentText
#define EXIFINFO_FILL_CAPTURE_TIME_SOURCE_TEXT(member, index) \
  photo->member = extras.captureTimeSource[0] != '\0' ? put(extras.captureTimeSource, std::strlen(extras.captureTimeSource)) : absentText
#define EXIFINFO_FILL_INT_INT32(member, index) photo->member = extras.ints[index]
#define EXIFINFO_FILL_HAS_GPS_INT32(member, index) photo->member = extras.hasGps
#define EXIFINFO_FILL_DOUBLE_DOUBLE(member, index) photo->member = extras.doubles[index]
#define EXIFINFO_BYTES_TEXT(index) extras.textLengths[index] + 1
#define EXIFINFO_BYTES_CAPTURE_TIME(index) std::strlen(extras.captureTime) + 1
#define EXIFINFO_BYTES_GPS_DATE_TIME(index) std::strlen(extras.gpsDateTime) + 1
#define EXIFINFO_BYTES_CAPTURE_TIME_SOURCE(index) std::strlen(extras.captureTimeSource) + 1
#define EXIFINFO_FILL_META_TEXT_TEXT(member, index) \
  photo->member = meta.has(index) ? put(reinterpret_cast<const char*>(meta.text(index).data), meta.text(index).size) : absentText
#define EXIFINFO_FILL_CITY_TEXT(member, index) \
  photo->member = meta.has(city) ? put(reinterpret_cast<const char*>(meta.text(city).data), meta.text(city).size) : absentText
#define EXIFINFO_FILL_DATE_CREATED_TEXT(member, index) \
  photo->member = dateCreatedLength != 0 ? put(dateCreated, dateCreatedLength) : absentText
#define EXIFINFO_FILL_WARNING_TEXT(member, index) photo->member = warning != nullptr ? put(warning, std::strlen(warning)) : absentText
#define EXIFINFO_FILL_RATING_DOUBLE(member, index) photo->member = rating
#define EXIFINFO_FILL_SIDECAR_TEXT(member, index) photo->member = absentText
#define EXIFINFO_FILL_META_LIST_LIST(member, index) photo->member = lists.Put(index, base)
#define EXIFINFO_BYTES_META_TEXT(index) (meta.has(index) ? meta.text(index).size + 1 : 0)
#define EXIFINFO_BYTES_CITY(index) (meta.has(city) ? meta.text(city).size + 1 : 0)
#define EXIFINFO_BYTES_DATE_CREATED(index) dateCreatedLength + 1
#define EXIFINFO_BYTES_WARNING(index) (warning != nullptr ? std::strlen(warning) + 1 : 0)
#define EXIFINFO_BYTES_RATING(index) 0
#define EXIFINFO_BYTES_SIDECAR(index) 0
#define EXIFINFO_BYTES_META_LIST(index) 0
#define EXIFINFO_BYTES_INT(index) 0
#define EXIFINFO_BYTES_HAS_GPS(index) 0
#define EXIFINFO_BYTES_DOUBLE(index) 0

// Which record keys have a value: the keys of each member type, by offset and bit, taken from
// the record table once at compile time, so a result checks each member with no dispatch. A
// text is absent when it is the result's one absent text (a text the file has but leaves empty
// is its own ""); a flag, an ending or a container is always present, the caller's keys never.
struct KeysOfType {
  size_t count = 0;
  uint16_t offset[kRecordCount] = {};
  uint8_t bit[kRecordCount] = {};
};
constexpr KeysOfType KeysOf(int type) {
  KeysOfType keys;
  for (size_t i = 0; i < kRecordCount; ++i)
    if (kRecord[i].type == type) {
      keys.offset[keys.count] = static_cast<uint16_t>(kRecord[i].offset);
      keys.bit[keys.count++] = static_cast<uint8_t>(i);
    }
  return keys;
}
constexpr uint64_t AlwaysPresent(size_t word) {
  uint64_t bits = 0;
  for (size_t i = 0; i < kRecordCount; ++i)
    if (i / 64 == word && (kRecord[i].type == EXIFINFO_TYPE_FLAG || kRecord[i].type == EXIFINFO_TYPE_ENDING ||
                           kRecord[i].type == EXIFINFO_TYPE_CONTAINER))
      bits |= uint64_t{1} << (i % 64);
  return bits;
}
constexpr KeysOfType kTextKeys = KeysOf(EXIFINFO_TYPE_TEXT), kIntKeys = KeysOf(EXIFINFO_TYPE_INT32),
                     kDoubleKeys = KeysOf(EXIFINFO_TYPE_DOUBLE), kListKeys = KeysOf(EXIFINFO_TYPE_LIST);
static_assert(sizeof(exifinfo_photo) <= UINT16_MAX && kRecordCount <= UINT8_MAX, "offsets and bits fit the table");

void MarkPresent(exifinfo_photo* photo, const char* absentText) {
  const char* base = reinterpret_cast<const char*>(photo);
  uint64_t* bits = photo->record_present;
  bits[0] = AlwaysPresent(0), bits[1] = AlwaysPresent(1);
  const auto mark = [&](bool present, uint8_t bit) { bits[bit / 64] |= uint64_t{present} << (bit % 64); };
  for (size_t k = 0; k < kTextKeys.count; ++k) {
    const char* text;
    std::memcpy(&text, base + kTextKeys.offset[k], sizeof text);
    mark(text != absentText, kTextKeys.bit[k]);
  }
  for (size_t k = 0; k < kIntKeys.count; ++k) {
    int32_t value;
    std::memcpy(&value, base + kIntKeys.offset[k], sizeof value);
    mark(value != exifinfo::kAbsentInt, kIntKeys.bit[k]);
  }
  for (size_t k = 0; k < kDoubleKeys.count; ++k) {
    double value;
    std::memcpy(&value, base + kDoubleKeys.offset[k], sizeof value);
    mark(std::isfinite(value), kDoubleKeys.bit[k]);
  }
  for (size_t k = 0; k < kListKeys.count; ++k) {
    const char* const* items;
    std::memcpy(&items, base + kListKeys.offset[k], sizeof items);
    mark(items[0] != nullptr, kListKeys.bit[k]);
  }
}

// The lists of a result, laid out together: for each, its items' pointers, a null, and the
// items as one JSON array (what exifinfo_record_value gives), one place past the null; then the
// items' texts and the arrays' texts. A list with no items is the shared empty one.
class ListLayout {
 public:
  explicit ListLayout(const exifinfo::MetaValues& meta) : meta_(meta) {}
  // False when memory ran out making the JSON texts.
  bool Measure() {
    slots_ = 2;  // the empty list
    for (int l = 0; l < exifinfo::kMetaListCount; ++l) {
      const auto list = static_cast<exifinfo::MetaList>(l);
      if (meta_.count(list) == 0) continue;
      slots_ += meta_.count(list) + 2;
      json_[l].Append('[');
      bool first = true;
      meta_.ForEachItem(list, [&](exifinfo::ByteView item) {
        textBytes_ += item.size + 1;
        if (!first) json_[l].Append(',');
        first = false;
        exifinfo::AppendJsonString(json_[l], reinterpret_cast<const char*>(item.data), item.size);
      });
      json_[l].Append(']');
      if (json_[l].failed()) return false;
      textBytes_ += json_[l].size() + 1;
    }
    return true;
  }
  size_t bytes() const { return slots_ * sizeof(const char*) + textBytes_; }
  void Place(char* at) {
    slot_ = reinterpret_cast<const char**>(at);
    text_ = at + slots_ * sizeof(const char*);
    empty_ = slot_;
    slot_[0] = nullptr;
    slot_[1] = "[]";
    slot_ += 2;
  }
  const char* const* Put(exifinfo::MetaList list, char*) {
    if (meta_.count(list) == 0) return empty_;
    const char** items = slot_;
    meta_.ForEachItem(list, [&](exifinfo::ByteView item) { *slot_++ = Text(reinterpret_cast<const char*>(item.data), item.size); });
    *slot_++ = nullptr;
    *slot_++ = Text(json_[list].data(), json_[list].size());
    return items;
  }

 private:
  const char* Text(const char* text, size_t length) {
    if (length != 0) std::memcpy(text_, text, length);
    text_[length] = '\0';
    const char* at = text_;
    text_ += length + 1;
    return at;
  }
  const exifinfo::MetaValues& meta_;
  exifinfo::TextBuffer json_[exifinfo::kMetaListCount];
  size_t slots_ = 0, textBytes_ = 0;
  const char** slot_ = nullptr;
  const char** empty_ = nullptr;
  char* text_ = nullptr;
};

}  // namespace

int MakeResult(const Gathered& g, exifinfo_photo** out) {
  const exifinfo::ImageInfo& i = *g.info;
  // Each text decoded once; the report is formatted from the same bytes.
  exifinfo::RecordTexts texts;
  exifinfo::DecodeRecordTexts(i, texts);
  char report[exifinfo::kReportUtf8Capacity];
  const size_t utf8Length = exifinfo::FormatReportUtf8(i, texts, report, sizeof report);
  const bool ascii = exifinfo::IsAscii(report, utf8Length);  // nearly every report
  const size_t wideLength = ascii ? utf8Length : CodePoints(report, utf8Length);
  const size_t lastErrorLength = std::strlen(g.lastError);
  // XMP and IPTC, read now that the read is over.
  exifinfo::MetaValues meta;
  const char* warning = g.packets != nullptr && !g.packets->empty() ? g.packets->Read(meta) : nullptr;
  exifinfo::FinishedExtras extras;  // 19 KiB of stack beside the report's 8: well within any thread's
  exifinfo::FinishExtras(*g.extras, i, extras, &meta);
  const exifinfo::MetaText city = meta.has(exifinfo::kCity) ? exifinfo::kCity : exifinfo::kIptcCity;
  char dateCreated[exifinfo::kMetaDateBytes];
  const size_t dateCreatedLength = exifinfo::MetaDateCreated(meta, dateCreated);
  double rating = std::nan("");
  if (meta.has(exifinfo::kRating) && !exifinfo::XmpNumber(meta.text(exifinfo::kRating), rating)) rating = std::nan("");
  ListLayout lists(meta);
  if (!lists.Measure()) return ENOMEM;
  size_t extraBytes = 0;
#define EXIFINFO_BYTES(member, type, source, index, meaning) extraBytes += EXIFINFO_BYTES_##source(index);
  EXIFINFO_EXTRA_FIELDS(EXIFINFO_BYTES)
  EXIFINFO_FILE_FIELDS(EXIFINFO_BYTES)
  EXIFINFO_TAIL_FIELDS(EXIFINFO_BYTES)
  EXIFINFO_META_FIELDS(EXIFINFO_BYTES)
#undef EXIFINFO_BYTES

  // The values' texts lie one after another, in member order (Version to Comments, then
  // ModifyDate to GPSDateTime, then file.Make to file.LensInfo, then CaptureTimeSource to
  // Caption), then the lists, last_error and the report: a binding copies the struct and its
  // texts in one piece, up to the report's end.
  constexpr int kLastText = exifinfo::RecordTexts::kCount - 1;
  const size_t textsBytes = texts.at[kLastText] + texts.length[kLastText] + 1;
  Layout layout;
  const size_t textsAt = layout.Reserve(textsBytes, 1);
  const size_t extrasAt = layout.Reserve(extraBytes, 1);
  const size_t listsAt = layout.Reserve(lists.bytes(), alignof(const char*));
  const size_t absentAt = layout.Reserve(1, 1);
  const size_t lastErrorAt = layout.Reserve(lastErrorLength + 1, 1);
  const size_t reportAt = layout.Reserve(utf8Length + 1, 1);
  const size_t wideAt = layout.Reserve((wideLength + 1) * sizeof(wchar_t), alignof(wchar_t));
  const size_t thumbnailAt = layout.Reserve(g.thumbnailLength, 1);

  auto* base = static_cast<char*>(std::malloc(layout.size()));
  if (base == nullptr) return ENOMEM;
  auto* photo = new (base) exifinfo_photo{};
  photo->size = sizeof(exifinfo_photo);
  std::memcpy(base + textsAt, texts.bytes, textsBytes);
  const char* const reportTexts = base + textsAt;
#define EXIFINFO_FILL(member, type, source, index, meaning) EXIFINFO_FILL_##source##_##type(member, index);
  EXIFINFO_REPORT_FIELDS(EXIFINFO_FILL)
  photo->HasExif = i.HasExif ? 1 : 0;
  photo->ending = static_cast<int32_t>(g.read.ending);
  photo->read_errno = g.read.readError;
  photo->container = static_cast<int32_t>(g.container);
  photo->requests = g.read.requests;
  photo->bytes_read = g.read.bytesRead;
  if (g.pieces != nullptr && g.pieces->needsMore()) {
    photo->ending = EXIFINFO_NEEDS_MORE;
    photo->read_errno = 0;
    photo->next_offset = g.pieces->neededOffset();
    photo->next_length = g.pieces->neededLength();
  }

  std::memcpy(base + lastErrorAt, g.lastError, lastErrorLength + 1);
  photo->last_error = base + lastErrorAt;
  std::memcpy(base + reportAt, report, utf8Length);
  base[reportAt + utf8Length] = '\0';
  photo->report = base + reportAt;
  photo->report_length = utf8Length;
  auto* reportWide = reinterpret_cast<wchar_t*>(base + wideAt);
  if (ascii) {
    exifinfo::WidenAscii(report, utf8Length, reportWide);
  } else {
    exifinfo::Utf8ToWide(report, utf8Length, reportWide, wideLength);  // well-formed: wideLength characters
  }
  reportWide[wideLength] = L'\0';
  photo->report_wide = reportWide;
  photo->report_wide_length = wideLength;
  if (g.thumbnail != nullptr) {
    std::memcpy(base + thumbnailAt, g.thumbnail, g.thumbnailLength);
    photo->thumbnail = reinterpret_cast<const unsigned char*>(base + thumbnailAt);
    photo->thumbnail_size = g.thumbnailLength;
    photo->thumbnail_offset = g.thumbnailOffset;
  }
  TextPacker packer{base + extrasAt};
  char* const absentText = base + absentAt;
  *absentText = '\0';
  const auto put = [&](const char* text, size_t length) { return packer.Put(text, length); };
  EXIFINFO_EXTRA_FIELDS(EXIFINFO_FILL)  // the texts in member order, one after another
#define EXIFINFO_FILL_FILE(member, type, source, index, meaning) EXIFINFO_FILL_##source##_##type(file.member, index);
  EXIFINFO_FILE_FIELDS(EXIFINFO_FILL_FILE)
#undef EXIFINFO_FILL_FILE
  EXIFINFO_TAIL_FIELDS(EXIFINFO_FILL)
  lists.Place(base + listsAt);
  EXIFINFO_META_FIELDS(EXIFINFO_FILL)
#undef EXIFINFO_FILL
  MarkPresent(photo, absentText);
  *out = photo;
  return 0;
}


}  // namespace exifinfo_api
