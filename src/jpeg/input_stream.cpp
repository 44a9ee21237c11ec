#include "jpeg/input_stream.h"

#include <cstring>

namespace exifinfo {
namespace {

// Past one stdio buffer, a seek costs less than reading the bytes through.
constexpr size_t kSeekThreshold = 4096;

}  // namespace

size_t InputStream::ReadBlock(uint8_t* out, size_t count) {
  if (file_ != nullptr) return fread_unlocked(out, 1, count, file_);
  const size_t available = static_cast<size_t>(end_ - next_);
  const size_t taken = count < available ? count : available;
  if (taken != 0) std::memcpy(out, next_, taken);
  next_ += taken;
  return taken;
}

bool InputStream::Skip(size_t count) {
  if (file_ == nullptr) {
    const size_t available = static_cast<size_t>(end_ - next_);
    next_ += count < available ? count : available;
    return count <= available;
  }
  if (count > kSeekThreshold && fileSize_ >= 0) {
    const off_t at = ftello(file_);
    if (at >= 0 && at <= fileSize_) {
      // The same outcome as reading: fewer bytes than promised leaves the stream at its end.
      if (static_cast<uint64_t>(fileSize_ - at) < count) {
        fseeko(file_, 0, SEEK_END);
        return false;
      }
      return fseeko(file_, static_cast<off_t>(count), SEEK_CUR) == 0;
    }
  }
  uint8_t scratch[kSeekThreshold];
  while (count != 0) {
    const size_t n = fread_unlocked(scratch, 1, count < sizeof scratch ? count : sizeof scratch, file_);
    if (n == 0) return false;
    count -= n;
  }
  return true;
}

}  // namespace exifinfo
