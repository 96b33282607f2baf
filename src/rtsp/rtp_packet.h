#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbisan {

// One RTP packet (RFC 3550 fixed header, CSRC list, header extension and the
// payload without padding). A record can be parsed into again and again;
// buffers keep their capacity so that a reused record does not allocate per
// packet. The payload is either an owned copy (Parse) or a view of the
// caller's bytes (ParseInPlace), which the receive path uses to avoid a copy.
class CRTPPacket {
 public:
  CRTPPacket() = default;
  virtual ~CRTPPacket() = default;
  // A copy always owns its payload, whatever the original referred to.
  CRTPPacket(const CRTPPacket& other);
  CRTPPacket& operator=(const CRTPPacket& other);

  // Replaces the whole contents with the packet in data[0..length). Returns
  // false (and leaves an empty record) when the bytes are not a valid packet.
  bool Parse(const uint8_t* data, size_t length) { return ParseImpl(data, length, true); }
  // The same, but the payload refers into data, which must outlive every use
  // of the record's payload.
  bool ParseInPlace(const uint8_t* data, size_t length) { return ParseImpl(data, length, false); }

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
  const uint8_t* GetPayload() const { return payloadLength_ ? payloadData_ : nullptr; }

  // Empties the record (keeps buffer capacity).
  void Clear();

 private:
  bool ParseImpl(const uint8_t* data, size_t length, bool copyPayload);

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
  std::vector<uint8_t> payload_;  // the owned copy, when there is one
  const uint8_t* payloadData_ = nullptr;
};

}  // namespace orbisan
