#pragma once
// The device side of the receive parser. It applies the same frame rules as
// the PC (length 6..1500, accepted command codes, Checksum8, end byte), but
// holds up to kCapacity bytes, because chunk answers of 1,036 bytes and more
// do not fit the PC's 1,024-byte TRxBuffer. Unlike the PC parser it reports
// every byte it drops, so the device can spot its switch command in between.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class FrameScanner {
public:
  static constexpr std::size_t kCapacity = 8192;

  enum class Kind {
    NeedMore,
    Noise,
    Frame
  };
  struct Item {
    Kind kind = Kind::NeedMore;
    std::uint8_t noise = 0;          // Kind::Noise: the dropped byte
    std::vector<std::uint8_t> frame; // Kind::Frame: the whole frame
  };

  // Appends bytes; anything beyond kCapacity is dropped (the caller reads no
  // more than Room()). Returns the number of bytes kept.
  std::size_t Append(std::span<const std::uint8_t> bytes);
  std::size_t Room() const { return kCapacity - Size(); }
  std::size_t Size() const { return buf_.size() - head_; }
  bool Empty() const { return Size() == 0; }

  // Removes and returns the first pending byte; 0 when empty.
  std::uint8_t PopFront();

  // The next frame or dropped byte. With flushPartial, a candidate frame that
  // is still incomplete counts as invalid (its first byte is dropped), so a
  // sender that stopped mid-frame cannot hold the input forever.
  Item Next(bool flushPartial = false);

private:
  void Compact();
  std::vector<std::uint8_t> buf_;
  std::size_t head_ = 0;
};
