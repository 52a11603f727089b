#pragma once
// The one receive buffer and the parser that finds complete, valid frames in
// the byte stream from the DTU.

#include <cstdint>
#include <optional>

#include "link/device_frame.h"
#include "link/link_constants.h"

struct TRxBuffer {
  std::uint8_t Data[k7v::kRxBufferSize] = {};
  std::uint16_t Count = 0;                 // received, not yet consumed
  std::uint16_t ReadPos = 0;               // first unconsumed byte
  std::uint16_t WritePos = 0;              // where the next received byte goes
  std::uint16_t Free = k7v::kRxBufferSize; // room after WritePos
};

// Where ReadFrame takes its bytes from: the serial port, or a fake in tests.
class RxSource {
public:
  virtual ~RxSource() = default;
  // Bytes waiting at the port; 0 when the query fails.
  virtual std::uint16_t RxBytesWaiting() = 0;
  // Reads up to n waiting bytes into dest; returns how many were read, 0 on failure.
  virtual std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) = 0;
};

void ResetRxBuffer(TRxBuffer& rx);
void CompactRxBuffer(TRxBuffer& rx);
void ConsumeRx(TRxBuffer& rx, std::uint16_t n);

// Takes in what is waiting at src and returns the next complete, valid frame,
// already consumed from rx and held in place in rx.Data; nullopt when none.
std::optional<TDeviceFrame> ReadFrame(TRxBuffer& rx, RxSource& src,
                                      std::uint16_t maxFrameLength = k7v::kMaxFrameLength);
