#include "synth/picture_cache.h"

#include <algorithm>
#include <new>
#include <utility>

namespace qp::synth {

PictureCache::Outcome PictureCache::Load(const char* path, int32_t requestedWidth,
                                         int32_t requestedHeight, uint32_t format,
                                         int32_t bitCount, FrameImage& image) {
  platform::FileStamp stamp;
  const bool stamped = path != nullptr && platform::ReadFileStamp(path, stamp);
  if (stamped) {
    std::lock_guard<std::mutex> hold(lock_);
    for (Entry& entry : entries_) {
      if (entry.width == requestedWidth && entry.height == requestedHeight &&
          entry.format == format && entry.bitCount == bitCount && entry.path == path) {
        if (!(entry.stamp == stamp)) break;  // changed on disk: read again below
        entry.lastUse = ++uses_;
        image = entry.image;
        return Outcome::kFromCache;
      }
    }
  }
  // Not under the lock: another start-up need not wait for this conversion.
  if (!image.LoadPicture(path, requestedWidth, requestedHeight, format, bitCount))
    return Outcome::kFailed;
  // A file that changed while it was read may hold either version: not kept.
  platform::FileStamp after;
  if (!stamped || !platform::ReadFileStamp(path, after) || !(after == stamp) ||
      image.PixelBytes() > kMaxBytes)
    return Outcome::kLoaded;
  try {
    Entry entry{path, requestedWidth, requestedHeight, format, bitCount, stamp, image, 0};
    std::lock_guard<std::mutex> hold(lock_);
    KeepLocked(std::move(entry));
  } catch (const std::bad_alloc&) {
    // Only the keeping failed; the image itself is good.
  }
  return Outcome::kLoaded;
}

void PictureCache::KeepLocked(Entry entry) {
  // The older entry for the same request is out of date.
  std::erase_if(entries_, [&](const Entry& e) {
    return e.width == entry.width && e.height == entry.height && e.format == entry.format &&
           e.bitCount == entry.bitCount && e.path == entry.path;
  });
  entry.lastUse = ++uses_;
  const std::size_t adding = entry.image.PixelBytes();
  for (;;) {
    std::size_t bytes = adding;
    for (const Entry& e : entries_) bytes += e.image.PixelBytes();
    if (entries_.empty() || (entries_.size() < kMaxEntries && bytes <= kMaxBytes)) break;
    entries_.erase(std::min_element(entries_.begin(), entries_.end(),
                                    [](const Entry& a, const Entry& b) {
                                      return a.lastUse < b.lastUse;
                                    }));
  }
  entries_.push_back(std::move(entry));
}

void PictureCache::Clear() {
  std::vector<Entry> dropped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dropped.swap(entries_);
  }
}

std::size_t PictureCache::Entries() const {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_.size();
}

PictureCache& SharedPictureCache() {
  static PictureCache cache;
  return cache;
}

}  // namespace qp::synth
