#pragma once
// Protocol and timing constants of the DTU link, with their units.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace k7v {
using namespace std::chrono_literals;

// Frame layout: AA cmd len_lo len_hi payload... checksum BB
inline constexpr std::uint8_t kFrameStart = 0xAA;
inline constexpr std::uint8_t kFrameEnd = 0xBB;
inline constexpr std::size_t kFrameOverhead = 6;        // bytes around the payload
inline constexpr std::size_t kPayloadOffset = 4;        // payload starts at frame offset 4
inline constexpr std::uint16_t kMaxFrameLength = 1500;  // largest length field the parser accepts
inline constexpr std::size_t kRxBufferSize = 1024;      // the one receive buffer
inline constexpr std::size_t kMaxRxBytesPerRead = 4096; // bytes one ReadFrame call takes in at most
inline constexpr std::size_t kMaxKeptInput =
    65536; // received bytes the engine keeps unread; the oldest go

// Command codes.
inline constexpr std::uint8_t kCmdSwitchAnswer = 0x01;   // DTU: configuration mode entered, version
inline constexpr std::uint8_t kCmdLeaveConfig = 0x02;    // PC: leave configuration mode
inline constexpr std::uint8_t kCmdReadParams = 0x03;     // PC asks / DTU answers with TAppParams
inline constexpr std::uint8_t kCmdWriteParams = 0x04;    // PC sends TAppParams / DTU answers result
inline constexpr std::uint8_t kCmdSysInfo = 0x07;        // product information
inline constexpr std::uint8_t kCmdDownloadStart = 0xE1;  // PC announces a firmware image
inline constexpr std::uint8_t kCmdChunk = 0xE2;          // DTU requests / PC answers a piece
inline constexpr std::uint8_t kCmdDownloadDone = 0xE3;   // DTU: image received and verified
inline constexpr std::uint8_t kCmdDownloadFailed = 0xE4; // DTU: image refused

// Switch command: always six bytes on the wire.
inline constexpr std::size_t kSwitchCommandLength = 6;

// Time-outs.
inline constexpr auto kConnectTimeout = 2s;         // answer to the switch command
inline constexpr auto kReturnAfterDownload = 20s;   // a unit answers the switch command again
                                                    // after a download (it may restart)
inline constexpr auto kParamTimeout = 3s;           // answers to commands 3, 4 and 7
inline constexpr auto kWriteTimeoutBase = 100ms;    // a write may take this ...
inline constexpr auto kWriteTimeoutPerByte = 100ms; // ... plus this per byte

// Parameter record and product information.
inline constexpr std::size_t kAppParamsSize = 693;
inline constexpr std::size_t kAppParamsFrameLength = kAppParamsSize + kFrameOverhead; // 699
inline constexpr std::size_t kSysInfoMinPayload = 49;

// Firmware image and download.
inline constexpr std::size_t kFirmwareImageSize = 102400; // largest body that can be downloaded
inline constexpr std::size_t kImageVersionSize = 8;       // version text at the start of a file
inline constexpr std::size_t kDownloadStartLength = 34;
inline constexpr std::size_t kDownloadNameSize = 13;
inline constexpr std::size_t kDownloadVersionSize = 9;
inline constexpr std::size_t kChunkRequestLength = 12;
inline constexpr std::size_t kChunkAnswerCapacity = 1101; // buffer for one chunk answer
inline constexpr std::size_t kMaxChunkData = kChunkAnswerCapacity - 12; // 1089 data bytes
inline constexpr auto kDownloadStallLimit =
    10s; // no request for this long: the unit stopped asking
inline constexpr unsigned kRepeatedPieceLimit =
    50; // the same offset asked this often in a row ends it

} // namespace k7v
