#pragma once
// Decoding packed files on a thread of its own, one after another in the
// order they were added, while the caller writes out what was decoded: the
// next file inflates while the last is written and flushed. Only this
// thread touches the file system's names; the decoding thread reads the
// handles it is given and nothing else.

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "fs/thread.h"
#include "update/decode.h"

enum class DecodeResult {
  Decoded,      // every member decoded to its verified end, all of it written
  Damaged,      // the packed data is not a whole gzip stream
  ReadFailed,   // the packed file could not be read
  WriteFailed,  // `write` refused a block
};

class DecodeAhead {
 public:
  // Starts the decoding thread; without one (none could be started), each
  // file decodes within its Drain.
  DecodeAhead();
  // Abandons whatever is still queued and waits for the thread.
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Queues the packed file open as `packed`, read from its start. It must
  // stay open until its Drain returns, or until this object is gone.
  void Add(void* packed);
  // The decoded bytes of the earliest queued file not yet drained, handed to
  // `write` in order; waits for them as needed. A file is drained once.
  [[nodiscard]] DecodeResult Drain(const WriteBlock& write);

 private:
  struct Block {
    std::vector<unsigned char> bytes;
    bool last = false;  // the file's end: `result` says how it ended
    DecodeResult result = DecodeResult::Decoded;
  };

  void Run();
  [[nodiscard]] std::unique_ptr<Block> EmptyBlock();
  [[nodiscard]] bool Hand(std::unique_ptr<Block>& block, std::size_t file);
  // Wakes both threads: each checks again what it waits for.
  void Changed();

  CriticalSection section_;
  WakeUp wakeCaller_;   // the caller of Drain waits on this
  WakeUp wakeDecoder_;  // the decoding thread waits on this
  std::deque<void*> queued_;                    // added, not yet taken by the thread
  std::deque<std::unique_ptr<Block>> decoded_;  // decoded, not yet drained
  std::vector<std::unique_ptr<Block>> spare_;   // drained, to be filled again
  std::size_t added_ = 0;                       // files added so far
  std::size_t drained_ = 0;                     // files whose Drain has begun
  std::size_t abandonedThrough_ = 0;            // files 1..this are no longer wanted
  bool stopping_ = false;
  Thread thread_;
};
