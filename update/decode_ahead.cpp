#include "update/decode_ahead.h"

#include <windows.h>

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
  // Without a thread to spare, every Drain decodes its file itself.
  if (wakeCaller_.Usable() && wakeDecoder_.Usable()) thread_ = Thread::Start([this] { Run(); });
}

DecodeAhead::~DecodeAhead() {
  {
    const Lock lock(section_);
    stopping_ = true;
  }
  Changed();
  thread_.Join();
}

void DecodeAhead::Changed() {
  wakeCaller_.Set();
  wakeDecoder_.Set();
}

void DecodeAhead::Add(void* packed) {
  {
    const Lock lock(section_);
    queued_.push_back(packed);
    ++added_;
  }
  Changed();
}

DecodeResult DecodeAhead::Drain(const WriteBlock& write) {
  std::size_t file = 0;
  bool decodeHere = false;
  void* packed = nullptr;
  {
    const Lock lock(section_);
    if (drained_ == added_) return DecodeResult::ReadFailed;  // nothing added to drain
    file = ++drained_;
    decodeHere = !thread_.Running();
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
      const Lock lock(section_);
      while (decoded_.empty()) wakeCaller_.WaitLeaving(section_);
      block = std::move(decoded_.front());
      decoded_.pop_front();
    }
    Changed();
    if (!writeFailed && !block->bytes.empty() && !write(block->bytes.data(), block->bytes.size())) {
      writeFailed = true;
      {
        const Lock lock(section_);
        abandonedThrough_ = file;
      }
      Changed();
    }
    const bool last = block->last;
    const DecodeResult result = block->result;
    block->bytes.clear();
    block->last = false;
    {
      const Lock lock(section_);
      spare_.push_back(std::move(block));
    }
    if (last) return writeFailed ? DecodeResult::WriteFailed : result;
  }
}

std::unique_ptr<DecodeAhead::Block> DecodeAhead::EmptyBlock() {
  {
    const Lock lock(section_);
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
    const Lock lock(section_);
    while (!stopping_ && file > abandonedThrough_ && decoded_.size() >= kBlocksAhead) {
      wakeDecoder_.WaitLeaving(section_);
    }
    if (stopping_ || (file <= abandonedThrough_ && !block->last)) return false;
    decoded_.push_back(std::move(block));
  }
  Changed();
  return true;
}

void DecodeAhead::Run() {
  for (std::size_t file = 1;; ++file) {
    void* packed = nullptr;
    {
      const Lock lock(section_);
      while (!stopping_ && queued_.empty()) wakeDecoder_.WaitLeaving(section_);
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
