#include "update/decode_ahead.h"

#include <windows.h>

#include <system_error>

namespace {

// Decoded bytes are handed over in blocks of about this size, at most
// kBlocksAhead of them waiting: 16 MiB of memory, whatever the files'
// sizes. The decoding gets that far ahead while the main thread waits for
// a flush or a rename; less left it idle (measured: 2 MiB took 8 % longer).
constexpr std::size_t kHandOverSize = 1024 * 1024;
constexpr std::size_t kBlocksAhead = 16;

DecodeResult DecodeFrom(void* packed, const WriteBlock& write) {
  const HANDLE file = static_cast<HANDLE>(packed);
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return DecodeResult::ReadFailed;
  // A failed read or write says nothing about the packed data: it tells an
  // unreadable file or a full disk apart from damage.
  bool readFailed = false;
  bool writeFailed = false;
  const ReadBlock read = [&](unsigned char* buffer, std::size_t size) -> long {
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr)) {
      readFailed = true;
      return -1;
    }
    return static_cast<long>(got);
  };
  const WriteBlock written = [&](const unsigned char* data, std::size_t size) {
    if (write(data, size)) return true;
    writeFailed = true;
    return false;
  };
  if (DecodePackedStream(read, written)) return DecodeResult::Decoded;
  if (writeFailed) return DecodeResult::WriteFailed;
  return readFailed ? DecodeResult::ReadFailed : DecodeResult::Damaged;
}

}  // namespace

DecodeAhead::DecodeAhead() {
  try {
    thread_ = std::thread(&DecodeAhead::Run, this);
  } catch (const std::system_error&) {
    // No thread to spare: every Drain decodes its file itself.
  }
}

DecodeAhead::~DecodeAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DecodeAhead::Add(void* packed) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(packed);
    ++added_;
  }
  changed_.notify_all();
}

DecodeResult DecodeAhead::Drain(const WriteBlock& write) {
  std::size_t file = 0;
  bool decodeHere = false;
  void* packed = nullptr;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (drained_ == added_) return DecodeResult::ReadFailed;  // nothing added to drain
    file = ++drained_;
    decodeHere = !thread_.joinable();
    if (decodeHere) {
      packed = queued_.front();
      queued_.pop_front();
    }
  }
  if (decodeHere) return DecodeFrom(packed, write);
  bool writeFailed = false;
  for (;;) {
    std::unique_ptr<Block> block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !decoded_.empty(); });
      block = std::move(decoded_.front());
      decoded_.pop_front();
    }
    changed_.notify_all();
    if (!writeFailed && !block->bytes.empty() && !write(block->bytes.data(), block->bytes.size())) {
      writeFailed = true;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        abandonedThrough_ = file;
      }
      changed_.notify_all();
    }
    const bool last = block->last;
    const DecodeResult result = block->result;
    block->bytes.clear();
    block->last = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      spare_.push_back(std::move(block));
    }
    if (last) return writeFailed ? DecodeResult::WriteFailed : result;
  }
}

std::unique_ptr<DecodeAhead::Block> DecodeAhead::EmptyBlock() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
      std::unique_ptr<Block> block = std::move(spare_.back());
      spare_.pop_back();
      return block;
    }
  }
  auto block = std::make_unique<Block>();
  block->bytes.reserve(kHandOverSize + kUnpackBlockSize);
  return block;
}

// Queues a decoded block once there is room; false when it is not wanted:
// its file was abandoned (its last block is still queued), or all is ending.
bool DecodeAhead::Hand(std::unique_ptr<Block>& block, std::size_t file) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || file <= abandonedThrough_ || decoded_.size() < kBlocksAhead; });
    if (stopping_ || (file <= abandonedThrough_ && !block->last)) return false;
    decoded_.push_back(std::move(block));
  }
  changed_.notify_all();
  return true;
}

void DecodeAhead::Run() {
  for (std::size_t file = 1;; ++file) {
    void* packed = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
      if (stopping_) return;
      packed = queued_.front();
      queued_.pop_front();
    }
    std::unique_ptr<Block> filling = EmptyBlock();
    const WriteBlock collect = [&](const unsigned char* data, std::size_t size) {
      filling->bytes.insert(filling->bytes.end(), data, data + size);
      if (filling->bytes.size() < kHandOverSize) return true;
      if (!Hand(filling, file)) {
        filling->bytes.clear();
        return false;
      }
      filling = EmptyBlock();
      return true;
    };
    filling->result = DecodeFrom(packed, collect);
    filling->last = true;
    if (!Hand(filling, file)) return;  // only an ending refuses a file's last block
  }
}
