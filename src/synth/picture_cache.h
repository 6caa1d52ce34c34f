// Converted pictures kept across stream starts: converting a 1080p background takes longer than
// the whole rest of a start-up, and a stop/start or a second graph asks for the same one again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_stamp.h"
#include "synth/frame_image.h"

namespace qp::synth {

// Any thread. An entry is used only while its file is the same file with the size and times
// it had when it was read: a copy keeps its source's last-write time, and pictures of one size
// have one file size, so the system's change time tells a replaced picture. Where that time is
// recent (a later change may get the same one on a coarse clock) or not kept by the file
// system, the entry is used only while the file's bytes hash as they did. A file that cannot be
// opened for reading is read every time and never kept, and its entries go: a picture that has
// become unreadable fails the start as a missing one does.
class PictureCache {
 public:
  enum class Outcome { kFromCache, kLoaded, kFailed };

  // Bounds on what is kept; the least recently used entries go first.
  static constexpr std::size_t kMaxEntries = 8;
  static constexpr std::size_t kMaxBytes = std::size_t{96} << 20;

  // As FrameImage::LoadPicture; on success `image` shares the cached pixels. On kFailed
  // `image` is as LoadPicture leaves it.
  Outcome Load(const char* path, int32_t requested_width, int32_t requested_height, uint32_t format,
               int32_t bit_count, FrameImage& image);
  void Clear();
  std::size_t Entries() const;

 private:
  struct Entry {
    std::string path;
    int32_t width, height;
    uint32_t format;
    int32_t bit_count;
    platform::FileStamp stamp;
    uint64_t content_hash;  // of the file's bytes; used while not `settled`
    bool settled;           // the change time alone tells a change
    FrameImage image;
    uint64_t last_use;
  };
  Entry* FindLocked(const char* path, int32_t width, int32_t height, uint32_t format,
                    int32_t bit_count);
  void KeepLocked(Entry entry);
  void DropLocked(const char* path);

  mutable std::mutex lock_;
  std::vector<Entry> entries_;  // lock_
  uint64_t uses_ = 0;           // lock_
};

// The one cache of the module.
PictureCache& SharedPictureCache();

}  // namespace qp::synth
