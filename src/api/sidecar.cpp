// SPDX-License-Identifier: MIT
// A photo's result with its XMP sidecar's values laid over it: the members taken from either
// result as the sidecar rules say, then every text, list and block they point to copied into
// one allocation of the new result's own, so that it outlives both.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <new>

#include "api/fields.h"
#include "api/result.h"

#define EXIFINFO_EXPORT extern "C" __attribute__((visibility("default")))

namespace exifinfo_api {
namespace {

// What a sidecar's XMP says of these wins over what the photo's embedded XMP and IPTC say.
constexpr const char* kSidecarKeys[] = {"Rating", "Label",   "Subject", "HierarchicalSubject", "Title",
                                        "Description", "Creator", "Rights", "City", "State", "Country",
                                        "RegionName", "DateCreated"};

constexpr size_t RecordIndex(const char* key) {
  for (size_t i = 0; i < kRecordCount; ++i)
    if (SameName(kRecord[i].key, key)) return i;
  return kRecordCount;
}

bool Present(const exifinfo_photo& photo, size_t index) { return (photo.record_present[index / 64] >> (index % 64)) & 1; }
void SetPresent(exifinfo_photo& photo, size_t index, bool present) {
  const uint64_t bit = uint64_t{1} << (index % 64);
  photo.record_present[index / 64] = present ? photo.record_present[index / 64] | bit : photo.record_present[index / 64] & ~bit;
}

// The record key's member and its bit, from `from` into `to`.
void Take(exifinfo_photo& to, const exifinfo_photo& from, size_t index) {
  const RecordKey& key = kRecord[index];
  std::memcpy(reinterpret_cast<char*>(&to) + key.offset, reinterpret_cast<const char*>(&from) + key.offset,
              SizeOf(static_cast<exifinfo_type>(key.type)));
  SetPresent(to, index, Present(from, index));
}

// Every text and list member, by offset, whichever table lists it.
template <typename Visit>
void ForEachPointerMember(Visit visit) {
  const auto each = [&](const Field* table, size_t count) {
    for (size_t k = 0; k < count; ++k)
      if (table[k].type == EXIFINFO_TYPE_TEXT || table[k].type == EXIFINFO_TYPE_LIST) visit(table[k].offset, table[k].type);
  };
  each(kFields, kFieldCount);
  each(kFileFields, sizeof kFileFields / sizeof kFileFields[0]);
  each(kTailFields, sizeof kTailFields / sizeof kTailFields[0]);
  each(kMetaFields, sizeof kMetaFields / sizeof kMetaFields[0]);
  visit(offsetof(exifinfo_photo, last_error), EXIFINFO_TYPE_TEXT);
}

template <typename T>
T& MemberAt(exifinfo_photo& photo, size_t offset) {
  return *reinterpret_cast<T*>(reinterpret_cast<char*>(&photo) + offset);
}

// A list's items, its null, and its JSON array after the null.
size_t ListSlots(const char* const* items) {
  size_t count = 0;
  while (items[count] != nullptr) ++count;
  return count + 2;
}

// Copies what `shallow` points to into a new allocation whose struct points there instead.
int DeepCopy(const exifinfo_photo& shallow, exifinfo_photo** out) {
  exifinfo_photo measured = shallow;
  size_t pointers = 0, texts = 0;
  ForEachPointerMember([&](size_t offset, int type) {
    if (type == EXIFINFO_TYPE_TEXT) {
      texts += std::strlen(MemberAt<const char*>(measured, offset)) + 1;
      return;
    }
    const char* const* items = MemberAt<const char* const*>(measured, offset);
    const size_t slots = ListSlots(items);
    pointers += slots;
    for (size_t k = 0; k < slots; ++k)
      if (k != slots - 2) texts += std::strlen(items[k]) + 1;
  });
  texts += shallow.report_length + 1;
  const size_t pointersAt = (sizeof(exifinfo_photo) + alignof(const char*) - 1) / alignof(const char*) * alignof(const char*);
  const size_t textsAt = pointersAt + pointers * sizeof(const char*);
  const size_t wideAt = (textsAt + texts + alignof(wchar_t) - 1) / alignof(wchar_t) * alignof(wchar_t);
  const size_t thumbnailAt = wideAt + (shallow.report_wide_length + 1) * sizeof(wchar_t);
  char* base = static_cast<char*>(std::malloc(thumbnailAt + shallow.thumbnail_size));
  if (base == nullptr) return ENOMEM;
  auto* photo = new (base) exifinfo_photo(shallow);
  auto** slot = reinterpret_cast<const char**>(base + pointersAt);
  TextPacker packer{base + textsAt};
  const auto copy = [&](const char* from, size_t length) { return packer.Put(from, length); };
  ForEachPointerMember([&](size_t offset, int type) {
    if (type == EXIFINFO_TYPE_TEXT) {
      const char*& member = MemberAt<const char*>(*photo, offset);
      member = copy(member, std::strlen(member));
      return;
    }
    const char* const*& member = MemberAt<const char* const*>(*photo, offset);
    const size_t slots = ListSlots(member);
    const char** items = slot;
    for (size_t k = 0; k < slots; ++k) items[k] = member[k] == nullptr ? nullptr : copy(member[k], std::strlen(member[k]));
    slot += slots;
    member = items;
  });
  photo->report = copy(shallow.report, shallow.report_length);
  auto* wide = reinterpret_cast<wchar_t*>(base + wideAt);
  std::wmemcpy(wide, shallow.report_wide, shallow.report_wide_length + 1);
  photo->report_wide = wide;
  if (shallow.thumbnail != nullptr) {
    std::memcpy(base + thumbnailAt, shallow.thumbnail, shallow.thumbnail_size);
    photo->thumbnail = reinterpret_cast<const unsigned char*>(base + thumbnailAt);
  }
  *out = photo;
  return 0;
}

}  // namespace
}  // namespace exifinfo_api

EXIFINFO_EXPORT int exifinfo_apply_sidecar(const exifinfo_photo* photo, const exifinfo_photo* sidecar, const char* name,
                                           exifinfo_photo** out) {
  using namespace exifinfo_api;
  if (out != nullptr) *out = nullptr;
  if (photo == nullptr || sidecar == nullptr || out == nullptr || photo->size != sizeof(exifinfo_photo) ||
      sidecar->size != sizeof(exifinfo_photo))
    return EINVAL;
  exifinfo_photo merged = *photo;
  for (const char* key : kSidecarKeys) {
    const size_t index = RecordIndex(key);
    if (Present(*sidecar, index)) Take(merged, *sidecar, index);
  }
  // The capture time: EXIF's and a video's own stay; the sidecar's comes before the rest.
  const bool ownTime = std::strcmp(photo->CaptureTimeSource, "exif") == 0 || std::strcmp(photo->CaptureTimeSource, "quicktime") == 0;
  if (!ownTime && Present(*sidecar, RecordIndex("CaptureTime"))) {
    Take(merged, *sidecar, RecordIndex("CaptureTime"));
    Take(merged, *sidecar, RecordIndex("CaptureTimeSource"));
  }
  if (photo->HasGPS == 0 && sidecar->HasGPS != 0) {
    for (const char* key : {"HasGPS", "GPSLatitude", "GPSLongitude", "GPSAltitude"}) Take(merged, *sidecar, RecordIndex(key));
  }
  if (photo->warning[0] == '\0' && sidecar->warning[0] != '\0') Take(merged, *sidecar, RecordIndex("warning"));
  merged.sidecar = name != nullptr ? name : "";
  SetPresent(merged, RecordIndex("sidecar"), true);
  return DeepCopy(merged, out);
}
