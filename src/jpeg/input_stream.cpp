#include "jpeg/input_stream.h"

#include <cstring>

namespace exifinfo {

size_t InputStream::ReadBlock(uint8_t* out, size_t count) {
  if (file_ != nullptr) return fread_unlocked(out, 1, count, file_);
  const size_t available = static_cast<size_t>(end_ - next_);
  const size_t taken = count < available ? count : available;
  if (taken != 0) std::memcpy(out, next_, taken);
  next_ += taken;
  return taken;
}

}  // namespace exifinfo
