#include "synth/picture_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace qp::synth {
namespace {

constexpr uint64_t kMixA = 0x9E3779B97F4A7C15;
constexpr uint64_t kMixB = 0xC2B2AE3D27D4EB4F;

uint64_t RotateLeft(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

uint64_t Mix(uint64_t lane, uint64_t word) { return RotateLeft(lane + word * kMixB, 31) * kMixA; }

// A fast hash of a whole file's bytes, in four independent lanes of 8 bytes: a change of any
// one 8-byte word always changes it. Reading and hashing a 1080p picture (6 MiB) takes 2-3 ms
// under Wine, against 25-50 ms for its conversion. Not cryptographic: whoever can replace the
// file can show any picture anyway. False when the file cannot be opened or read to its end.
bool HashFileContents(const char* path, uint64_t& hash) {
  // A multiple of the 32-byte block: every read but the last fills it.
  constexpr std::size_t kChunk = std::size_t{256} << 10;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunk]);
  if (!buffer) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  uint64_t lanes[4] = {kMixA, kMixB, ~kMixA, ~kMixB};
  uint64_t length = 0;
  uint64_t tail = 0;
  bool good = true;
  for (;;) {
    std::size_t filled = 0;
    while (filled < kChunk) {
      const std::size_t got = std::fread(buffer.get() + filled, 1, kChunk - filled, file);
      if (got == 0) break;
      filled += got;
    }
    if (std::ferror(file)) {
      good = false;
      break;
    }
    length += filled;
    const std::size_t whole = filled / 32 * 32;
    for (std::size_t at = 0; at < whole; at += 32) {
      uint64_t words[4];
      std::memcpy(words, buffer.get() + at, sizeof words);
      for (int i = 0; i < 4; ++i) lanes[i] = Mix(lanes[i], words[i]);
    }
    if (filled < kChunk) {
      for (std::size_t at = whole; at < filled; ++at) tail = Mix(tail, buffer[at]);
      break;
    }
  }
  std::fclose(file);
  if (!good) return false;
  uint64_t h = RotateLeft(lanes[0], 1) + RotateLeft(lanes[1], 7) + RotateLeft(lanes[2], 12) +
               RotateLeft(lanes[3], 18);
  h = Mix(h ^ tail, length);
  h ^= h >> 33;
  h *= kMixB;
  h ^= h >> 29;
  hash = h;
  return true;
}

// Whether a change of the file after `now` must give it another change time than `stamp`'s:
// true once that time lies well before `now`, even on a coarse clock (a Windows tick is
// 15.6 ms) or a file server's clock a little off this one. A change time equal to the last
// write may be a file system's copy of it (FAT), which a copy sets back: the bytes decide.
bool Settled(const platform::FileStamp& stamp, int64_t now) {
  constexpr int64_t kMarginSeconds = 2;
  return stamp.changed != 0 && stamp.changed != stamp.modified &&
         stamp.changed < now - kMarginSeconds * platform::kFileTimeUnitsPerSecond;
}

}  // namespace

PictureCache::Outcome PictureCache::Load(const char* path, int32_t requested_width,
                                         int32_t requested_height, uint32_t format,
                                         int32_t bit_count, FrameImage& image) {
  // Taken before anything of the file is looked at: a change after it gets a later time.
  const int64_t now = platform::FileTimeNow();
  platform::FileStamp stamp;
  const bool stamped = path != nullptr && platform::ReadFileStamp(path, stamp);
  const bool settled = stamped && Settled(stamp, now);
  uint64_t content_hash = 0;
  bool hashed = false;
  if (path != nullptr) {
    FrameImage cached;
    uint64_t cached_hash = 0;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!stamped) DropLocked(path);
      Entry* entry = stamped
                         ? FindLocked(path, requested_width, requested_height, format, bit_count)
                         : nullptr;
      if (entry != nullptr && entry->stamp == stamp) {
        if (entry->settled) {
          entry->last_use = ++uses_;
          image = entry->image;
          return Outcome::kFromCache;
        }
        cached = entry->image;
        cached_hash = entry->content_hash;
      }
    }
    // A recent change time may be shared by a later change: only the bytes tell.
    if (cached.Pixels() != nullptr) {
      hashed = HashFileContents(path, content_hash);
      if (hashed && content_hash == cached_hash) {
        std::lock_guard<std::mutex> hold(lock_);
        Entry* entry = FindLocked(path, requested_width, requested_height, format, bit_count);
        if (entry != nullptr && entry->stamp == stamp && entry->content_hash == content_hash) {
          entry->settled = settled;
          entry->last_use = ++uses_;
        }
        image = cached;
        return Outcome::kFromCache;
      }
    }
  }
  // Not under the lock: another start-up need not wait for this conversion.
  if (stamped && !settled && !hashed) hashed = HashFileContents(path, content_hash);
  if (!image.LoadPicture(path, requested_width, requested_height, format, bit_count))
    return Outcome::kFailed;
  // A file that changed while it was read may hold either version: not kept. A settled change
  // time alone tells that; a recent one needs the bytes again.
  platform::FileStamp after;
  uint64_t hash_after = 0;
  if (!(settled || hashed) || !platform::ReadFileStamp(path, after) || !(after == stamp) ||
      (hashed && (!HashFileContents(path, hash_after) || hash_after != content_hash)) ||
      image.PixelBytes() > kMaxBytes)
    return Outcome::kLoaded;
  try {
    Entry entry{path,  requested_width, requested_height, format, bit_count,
                stamp, content_hash,    settled,          image,  0};
    std::lock_guard<std::mutex> hold(lock_);
    KeepLocked(std::move(entry));
  } catch (const std::bad_alloc&) {
    // Only the keeping failed; the image itself is good.
  }
  return Outcome::kLoaded;
}

PictureCache::Entry* PictureCache::FindLocked(const char* path, int32_t width, int32_t height,
                                              uint32_t format, int32_t bit_count) {
  for (Entry& entry : entries_) {
    if (entry.width == width && entry.height == height && entry.format == format &&
        entry.bit_count == bit_count && entry.path == path)
      return &entry;
  }
  return nullptr;
}

void PictureCache::KeepLocked(Entry entry) {
  // The older entry for the same request is out of date.
  std::erase_if(entries_, [&](const Entry& e) {
    return e.width == entry.width && e.height == entry.height && e.format == entry.format &&
           e.bit_count == entry.bit_count && e.path == entry.path;
  });
  entry.last_use = ++uses_;
  const std::size_t adding = entry.image.PixelBytes();
  for (;;) {
    std::size_t bytes = adding;
    for (const Entry& e : entries_) bytes += e.image.PixelBytes();
    if (entries_.empty() || (entries_.size() < kMaxEntries && bytes <= kMaxBytes)) break;
    entries_.erase(
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.last_use < b.last_use; }));
  }
  entries_.push_back(std::move(entry));
}

void PictureCache::DropLocked(const char* path) {
  std::erase_if(entries_, [&](const Entry& e) { return e.path == path; });
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
