#!/bin/sh
# Regenerates the captured RTP streams used by test_depacketizers.
# Each .rtp file holds RTP packets as GStreamer's payloaders sent them over
# loopback UDP, with a 2-byte big-endian length in front of every packet
# (RFC 4571 framing).
set -e
cd "$(dirname "$0")"
rm -f ./*.rtp ./*.config
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# Runs the pipeline given as arguments (it ends in a payloader) and stores
# its packets in the file named first.
capture() {
  out=$1
  shift
  python3 ./capture_rtp.py 47004 "$out" &
  sleep 0.5
  gst-launch-1.0 -q "$@" ! udpsink host=127.0.0.1 port=47004 sync=false
  wait
}

# H.264, 90 frames, key frame every 15, three slices per picture, parameter
# sets in band before each IDR slice.
capture h264_176x144_90.rtp videotestsrc pattern=ball num-buffers=90 \
  ! video/x-raw,width=176,height=144,framerate=30/1 \
  ! x264enc key-int-max=15 bitrate=400 speed-preset=ultrafast tune=zerolatency \
  ! video/x-h264,stream-format=byte-stream,profile=constrained-baseline \
  ! rtph264pay mtu=400 config-interval=-1

# H.264, 30 frames, parameter sets aggregated in STAP-A packets.
capture h264_stap_176x144_30.rtp videotestsrc pattern=smpte num-buffers=30 \
  ! video/x-raw,width=176,height=144,framerate=30/1 \
  ! x264enc key-int-max=10 bitrate=300 speed-preset=ultrafast tune=zerolatency threads=1 \
  ! video/x-h264,stream-format=byte-stream,profile=high \
  ! rtph264pay mtu=1000 config-interval=-1 aggregate-mode=zero-latency

# MPEG-4 Visual elementary streams from ffmpeg's encoder (configuration, GOV
# and VOP headers as cameras send them), payloaded by GStreamer.
ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=30 -frames:v 60 -c:v mpeg4 -g 15 -b:v 200k \
  -f m4v "$TMP/60.m4v"
ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=30 -frames:v 30 -c:v mpeg4 -g 10 -b:v 200k \
  -f m4v "$TMP/30.m4v"
# 60 frames, configuration only in the description (saved as hex).
gst-launch-1.0 -v filesrc location="$TMP/60.m4v" ! mpeg4videoparse ! rtpmp4vpay config-interval=0 \
  ! fakesink | grep -o 'config=(string)[0-9a-f]*' | head -1 | cut -d')' -f2 > mpeg4_176x144_60.config
capture mpeg4_176x144_60.rtp filesrc location="$TMP/60.m4v" ! mpeg4videoparse \
  ! rtpmp4vpay mtu=400 config-interval=0
# 30 frames, configuration in band before every I-VOP.
capture mpeg4_inband_176x144_30.rtp filesrc location="$TMP/30.m4v" ! mpeg4videoparse \
  ! rtpmp4vpay mtu=400 config-interval=-1

# JPEG, 20 pictures of 4:2:0 at quality 80 (tables in band, Q=255).
capture jpeg_176x144_20.rtp videotestsrc pattern=ball num-buffers=20 \
  ! video/x-raw,width=176,height=144,framerate=30/1,format=I420 ! jpegenc quality=80 ! rtpjpegpay mtu=600
