#pragma once

#include <cstdint>

#include "strandline/media_sample.h"
#include "strandline/stream_request.h"

namespace orbisan::ipcapture {

// Starts and stops the video streams of the device's inputs.
//
// StopCapture and StopStream may be called from inside the stream's own
// IVideoFrameSink::OnFrame or OnSignalLost (motion frames and played-back
// frames included): the call then returns at once, the stream delivers
// nothing more, and its threads are joined later on a driver thread (Close
// waits for them). Called from anywhere else they return once the stream's
// threads have ended. Either way no frame and no signal loss of the stopped
// streams reaches a sink after the call returned: a callback under way on
// another thread is waited for, so the host must not call them holding a
// lock that its own callbacks wait for.
//
// GetParameter("StreamStatistics:<input>[:<kind>]", buffer, bytes) fills the
// buffer with the UTF-16 text "rtp_lost=N frames_dropped=M failure=TEXT ..."
// for a running stream (kind 0 recording, 1 live, 2 remote); false when no
// such stream runs. The fields, in this order (later versions only add
// fields at the end; an empty value is a figure not known):
//   rtp_lost        RTP packets missing from the sequence or dropped by the driver
//   frames_dropped  frames begun but never delivered
//   failure         why the stream last failed to start or ended (empty when
//                   nothing failed; may hold spaces)
//   frames, key_frames, bytes   delivered to the sink since the start
//   fps, kbps       over the last ten whole seconds (or since the start)
//   rtp_duplicates, rtp_reordered   RTP packets that came again (dropped), and
//                   late ones put back in their place
//   jitter_ms       RFC 3550 interarrival jitter of the RTP stream (90 kHz clock)
//   reconnects      times the stream came back after it had run
//   signal_lost     outages told to the sink through OnSignalLost
//   seconds_since_last_frame   empty before the first frame
//   camera_clock_offset_ms     the camera's RTCP sender-report clock minus the
//                   host's UTC clock on arrival; empty while the camera sent none
//   last_failure    the same text as failure, last so that it runs to the end
// The text is cut to fit the buffer (with its terminating 0).
class IIPVideoCapture {
 public:
  virtual ~IIPVideoCapture() = default;
  virtual uint32_t GetChannelCount() = 0;
  virtual bool StartCapture(uint32_t input, IVideoFrameSink* sink, IStreamRequest* request) = 0;
  virtual bool StopCapture(uint32_t input) = 0;
  virtual bool ChangeFrameSize(uint32_t input, IFrameSize* size, uint32_t frameRate) = 0;
  virtual uint32_t QueryReserved() = 0;  // always 0
  // state: 0 streaming, 1 connecting, 2 signal lost or stopped.
  virtual bool GetStreamState(uint32_t input, uint32_t* state, uint32_t* reserved, uint8_t* reservedText,
                              uint32_t reservedTextSize) = 0;
  virtual bool SetParameter(const char* name, const uint16_t* value, uint32_t size) = 0;
  virtual bool GetParameter(const char* name, uint16_t* value, uint32_t size) = 0;
};

class IIPVideoCaptureEx : public IIPVideoCapture {
 public:
  virtual bool StopEdgeMonitoring(uint32_t input) = 0;
  virtual bool StartEdgeMonitoring(uint32_t input) = 0;
};

class IIPVideoCaptureEx2 : public IIPVideoCaptureEx {
 public:
  // streamKind 1 live, 2 remote.
  virtual bool StartStream(uint32_t input, uint32_t streamKind, IVideoFrameSink* sink, IStreamRequest* request) = 0;
  virtual bool StopStream(uint32_t input, uint32_t streamKind) = 0;
};

}  // namespace orbisan::ipcapture
