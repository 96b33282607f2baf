#include "rtsp/rtp_packet.h"

#include <cstring>

namespace orbisan {

namespace {

constexpr size_t kFixedHeaderSize = 12;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t ReadU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

CRTPPacket::CRTPPacket(const CRTPPacket& other) { *this = other; }

CRTPPacket& CRTPPacket::operator=(const CRTPPacket& other) {
  if (this == &other) return *this;
  csrcCount_ = other.csrcCount_;
  csrcList_ = other.csrcList_;
  ssrc_ = other.ssrc_;
  marker_ = other.marker_;
  padding_ = other.padding_;
  payloadType_ = other.payloadType_;
  sequenceNumber_ = other.sequenceNumber_;
  timestamp_ = other.timestamp_;
  extensionProfile_ = other.extensionProfile_;
  extensionLength_ = other.extensionLength_;
  extensionData_ = other.extensionData_;
  payloadLength_ = other.payloadLength_;
  const uint8_t* payload = other.GetPayload();
  if (payload != nullptr) {
    payload_.assign(payload, payload + payloadLength_);
  } else {
    payload_.clear();
  }
  payloadData_ = payload_.data();
  return *this;
}

void CRTPPacket::Clear() {
  csrcCount_ = 0;
  csrcList_.clear();
  ssrc_ = 0;
  marker_ = 0;
  padding_ = 0;
  payloadType_ = 0;
  sequenceNumber_ = 0;
  timestamp_ = 0;
  extensionProfile_ = 0;
  extensionLength_ = 0;
  extensionData_.clear();
  payloadLength_ = 0;
  payload_.clear();
  payloadData_ = nullptr;
}

bool CRTPPacket::ParseImpl(const uint8_t* data, size_t length, bool copyPayload) {
  Clear();
  // A packet must carry at least one byte after the fixed header.
  if (data == nullptr || length <= kFixedHeaderSize || length > UINT32_MAX) return false;
  if ((data[0] >> 6) != 2) return false;

  const uint8_t cc = data[0] & 0x0F;
  const bool hasPadding = (data[0] & 0x20) != 0;
  const bool hasExtension = (data[0] & 0x10) != 0;
  size_t offset = kFixedHeaderSize;

  if (cc > 0) {
    const size_t csrcBytes = 4u * cc;
    if (length - offset <= csrcBytes) return false;
    csrcList_.assign(data + offset, data + offset + csrcBytes);
    offset += csrcBytes;
  }

  uint16_t extProfile = 0;
  uint16_t extLength = 0;
  if (hasExtension) {
    if (length - offset < 4) {
      csrcList_.clear();
      return false;
    }
    extProfile = ReadU16(data + offset);
    extLength = ReadU16(data + offset + 2);
    const size_t extBytes = 4u * extLength;
    if (length - offset < 4 + extBytes) {
      csrcList_.clear();
      return false;
    }
    extensionData_.assign(data + offset + 4, data + offset + 4 + extBytes);
    offset += 4 + extBytes;
  }

  size_t paddingBytes = 0;
  if (hasPadding) paddingBytes = data[length - 1];
  if (offset + paddingBytes > length) {
    csrcList_.clear();
    extensionData_.clear();
    return false;
  }

  csrcCount_ = cc;
  padding_ = hasPadding ? 1 : 0;
  marker_ = (data[1] >> 7) & 1;
  payloadType_ = data[1] & 0x7F;
  sequenceNumber_ = ReadU16(data + 2);
  timestamp_ = ReadU32(data + 4);
  std::memcpy(&ssrc_, data + 8, sizeof ssrc_);  // kept in network order
  extensionProfile_ = extProfile;
  extensionLength_ = extLength;

  const size_t payloadBytes = length - offset - paddingBytes;
  payloadLength_ = static_cast<uint32_t>(payloadBytes);
  if (payloadBytes == 0) return true;
  if (copyPayload) {
    payload_.assign(data + offset, data + offset + payloadBytes);
    payloadData_ = payload_.data();
  } else {
    payloadData_ = data + offset;
  }
  return true;
}

}  // namespace orbisan
