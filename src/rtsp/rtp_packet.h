#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbisan {

// One RTP packet (RFC 3550 fixed header, CSRC list, header extension and an
// owned copy of the payload without padding). A record can be parsed into
// again and again; buffers keep their capacity so that a reused record does
// not allocate per packet.
class CRTPPacket {
 public:
  CRTPPacket() = default;
  virtual ~CRTPPacket() = default;

  // Replaces the whole contents with the packet in data[0..length). Returns
  // false (and leaves an empty record) when the bytes are not a valid packet.
  bool Parse(const uint8_t* data, size_t length);

  uint8_t GetCsrcCount() const { return csrcCount_; }
  const std::vector<uint8_t>& GetCsrcList() const { return csrcList_; }
  // Network byte order, as received.
  uint32_t GetSsrc() const { return ssrc_; }
  uint8_t GetMarker() const { return marker_; }
  uint8_t GetPadding() const { return padding_; }
  uint8_t GetPayloadType() const { return payloadType_; }
  uint16_t GetSequenceNumber() const { return sequenceNumber_; }
  uint32_t GetTimestamp() const { return timestamp_; }
  uint16_t GetExtensionProfile() const { return extensionProfile_; }
  // In 32-bit words.
  uint16_t GetExtensionLength() const { return extensionLength_; }
  const std::vector<uint8_t>& GetExtensionData() const { return extensionData_; }
  uint32_t GetPayloadLength() const { return payloadLength_; }
  // Valid for GetPayloadLength() bytes; nullptr when the payload is empty.
  const uint8_t* GetPayload() const { return payloadLength_ ? payload_.data() : nullptr; }

  // Empties the record (keeps buffer capacity).
  void Clear();

 private:
  uint8_t csrcCount_ = 0;
  std::vector<uint8_t> csrcList_;
  uint32_t ssrc_ = 0;
  uint8_t marker_ = 0;
  uint8_t padding_ = 0;
  uint8_t payloadType_ = 0;
  uint16_t sequenceNumber_ = 0;
  uint32_t timestamp_ = 0;
  uint16_t extensionProfile_ = 0;
  uint16_t extensionLength_ = 0;
  std::vector<uint8_t> extensionData_;
  uint32_t payloadLength_ = 0;
  std::vector<uint8_t> payload_;
};

}  // namespace orbisan
