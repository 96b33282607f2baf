#include "rtsp/rtp_sequencer.h"

#include <algorithm>

#include "rtsp/rtp_loss_counter.h"

namespace orbisan {

namespace {

// Beyond these the numbering itself has jumped (RFC 3550 A.1): the new
// numbers are taken once the next packet follows them.
constexpr int kMaxDropout = 3000;
constexpr int kMaxMisorder = 100;

}  // namespace

void CRtpSequencer::Reset() {
  haveSource_ = false;
  candidateCount_ = 0;
  candidates_.clear();
  started_ = false;
  pendingLoss_ = 0;
  deliveredBits_ = 0;
  for (Held& h : held_) h.used = false;
  heldCount_ = 0;
  jump_.used = false;
}

CRtpSequencer::Source CRtpSequencer::AcceptSource(const CRTPPacket& packet, uint64_t nowMs) {
  const uint32_t ssrc = packet.GetSsrc();
  if (!haveSource_ || ssrc == ssrc_) {
    haveSource_ = true;
    ssrc_ = ssrc;
    sourceSeenMs_ = nowMs;
    candidateCount_ = 0;
    if (!candidates_.empty()) candidates_.clear();
    return Source::kOwn;
  }
  // Another source: mixed in (never taken while the stream's own runs), or
  // the encoder restarted with a new identity and its own numbering.
  if (candidateCount_ == 0 || ssrc != candidate_) {
    candidate_ = ssrc;
    candidateCount_ = 0;
    candidates_.clear();
  }
  if (++candidateCount_ < kSourcePersistPackets || nowMs - sourceSeenMs_ < kSourceSilenceMs) {
    if (candidates_.size() == kCandidateHold) candidates_.erase(candidates_.begin());
    candidates_.push_back(packet);
    return Source::kForeign;
  }
  ssrc_ = ssrc;
  sourceSeenMs_ = nowMs;
  candidateCount_ = 0;
  ++sourceChanges_;
  for (Held& h : held_) h.used = false;
  heldCount_ = 0;
  jump_.used = false;
  started_ = false;
  pendingLoss_ = kRestart;
  return Source::kChanged;
}

void CRtpSequencer::RememberDelivered(uint16_t sequence) {
  const uint16_t step = static_cast<uint16_t>(sequence - lastDelivered_);
  deliveredBits_ = (step >= 64 || !started_ ? 0 : deliveredBits_ << step) | 1;
  lastDelivered_ = sequence;
}

bool CRtpSequencer::WasDelivered(uint16_t sequence) const {
  const uint16_t back = static_cast<uint16_t>(lastDelivered_ - sequence);
  return back < 64 && ((deliveredBits_ >> back) & 1) != 0;
}

void CRtpSequencer::Deliver(const CRTPPacket& packet, IRtpSequencedSink& sink) {
  const uint32_t lost = pendingLoss_;
  pendingLoss_ = 0;
  RememberDelivered(packet.GetSequenceNumber());
  started_ = true;
  next_ = static_cast<uint16_t>(packet.GetSequenceNumber() + 1);
  sink.SequencedPacket(packet, lost);
}

void CRtpSequencer::Drain(IRtpSequencedSink& sink) {
  while (heldCount_ > 0) {
    Held& h = held_[next_ % kWindow];
    if (!h.used || h.packet.GetSequenceNumber() != next_) return;
    h.used = false;
    --heldCount_;
    Deliver(h.packet, sink);
  }
}

void CRtpSequencer::SkipGap(IRtpSequencedSink& sink) {
  for (uint16_t k = 1; k < kWindow && heldCount_ > 0; ++k) {
    const Held& h = held_[static_cast<uint16_t>(next_ + k) % kWindow];
    if (!h.used || h.packet.GetSequenceNumber() != static_cast<uint16_t>(next_ + k)) continue;
    if (pendingLoss_ != kRestart) pendingLoss_ += k;
    next_ = static_cast<uint16_t>(next_ + k);
    Drain(sink);
    return;
  }
}

void CRtpSequencer::ReleaseAll(IRtpSequencedSink& sink) {
  while (heldCount_ > 0) SkipGap(sink);
}

uint64_t CRtpSequencer::Flush(uint64_t nowMs, IRtpSequencedSink& sink) {
  while (heldCount_ > 0) {
    uint64_t oldest = nowMs;
    for (const Held& h : held_) {
      if (h.used && h.arrivedMs < oldest) oldest = h.arrivedMs;
    }
    if (nowMs - oldest < waitMs_) return waitMs_ - (nowMs - oldest);
    SkipGap(sink);
  }
  return 0;
}

void CRtpSequencer::Push(const CRTPPacket& packet, uint64_t nowMs, IRtpSequencedSink& sink) {
  if (IsRtcp(packet)) {
    ++rtcp_;
    return;
  }
  switch (AcceptSource(packet, nowMs)) {
    case Source::kForeign:
      ++foreign_;
      return;
    case Source::kChanged: {
      // The new source's first packets, held while it proved itself, go first.
      std::vector<CRTPPacket> held;
      held.swap(candidates_);
      foreign_ -= held.size();
      for (const CRTPPacket& early : held) PushAccepted(early, nowMs, sink);
      break;
    }
    case Source::kOwn:
      break;
  }
  PushAccepted(packet, nowMs, sink);
}

void CRtpSequencer::PushAccepted(const CRTPPacket& packet, uint64_t nowMs, IRtpSequencedSink& sink) {
  const uint16_t sequence = packet.GetSequenceNumber();
  if (!started_) {
    next_ = sequence;
    Deliver(packet, sink);
    return;
  }
  const int distance = static_cast<int16_t>(static_cast<uint16_t>(sequence - next_));
  if (distance == 0) {
    // The packet a held one waited for: put back in order.
    if (heldCount_ > 0 && counter_ != nullptr) counter_->CountReordered();
    Deliver(packet, sink);
    Drain(sink);
  } else if (distance > 0 && distance < kWindow) {
    Held& h = held_[sequence % kWindow];
    if (h.used) {
      if (counter_ != nullptr) counter_->CountDuplicate();
      return;
    }
    h.packet = packet;
    h.arrivedMs = nowMs;
    h.used = true;
    ++heldCount_;
  } else if (distance < 0 && distance > -kMaxMisorder) {
    // Behind: a repeat of one already handed on, or one whose gap was given up.
    if (!WasDelivered(sequence)) {
      waitMs_ = std::min(kMaxWaitMs, 2 * waitMs_);
    } else if (counter_ != nullptr) {
      counter_->CountDuplicate();
    }
    return;
  } else if (distance > 0 && distance < kMaxDropout) {
    // Beyond the window: what is missing in front of it is lost.
    ReleaseAll(sink);
    const uint16_t missing = static_cast<uint16_t>(sequence - next_);
    if (pendingLoss_ != kRestart) pendingLoss_ += missing;
    next_ = sequence;
    Deliver(packet, sink);
  } else {
    // The numbering jumped: taken when the next packet confirms it, so that
    // a stray packet does not throw the stream's numbering away.
    if (!jump_.used || sequence != static_cast<uint16_t>(jump_.packet.GetSequenceNumber() + 1)) {
      jump_.packet = packet;
      jump_.used = true;
      return;
    }
    ReleaseAll(sink);
    jump_.used = false;
    started_ = false;
    pendingLoss_ = kRestart;
    next_ = jump_.packet.GetSequenceNumber();
    Deliver(jump_.packet, sink);
    Deliver(packet, sink);
    return;
  }
  if (heldCount_ > 0) Flush(nowMs, sink);
}

}  // namespace orbisan
