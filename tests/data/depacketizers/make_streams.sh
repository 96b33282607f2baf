#!/bin/sh
# Regenerates the captured RTP streams used by test_depacketizers.
# Each .rtp file holds RTP packets as GStreamer's payloaders made them, framed
# as in RFC 4571 (a 2-byte big-endian length before every packet).
set -e
cd "$(dirname "$0")"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# H.264, 90 frames, key frame every 15, parameter sets in band before each IDR.
gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=90 ! video/x-raw,width=176,height=144,framerate=30/1 \
  ! x264enc key-int-max=15 bitrate=400 speed-preset=ultrafast tune=zerolatency \
  ! video/x-h264,stream-format=byte-stream,profile=constrained-baseline \
  ! rtph264pay mtu=400 config-interval=-1 ! rtpstreampay ! filesink location=h264_176x144_90.rtp

# MPEG-4 Visual elementary streams from ffmpeg's encoder (configuration, GOV
# and VOP headers as cameras send them), payloaded by GStreamer.
ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=30 -frames:v 60 -c:v mpeg4 -g 15 -b:v 200k \
  -f m4v "$TMP/60.m4v"
ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=30 -frames:v 30 -c:v mpeg4 -g 10 -b:v 200k \
  -f m4v "$TMP/30.m4v"
# 60 frames, configuration only in the description (saved as hex).
gst-launch-1.0 -v filesrc location="$TMP/60.m4v" ! mpeg4videoparse ! rtpmp4vpay mtu=400 config-interval=0 \
  ! rtpstreampay ! filesink location=mpeg4_176x144_60.rtp \
  | grep -o 'config=(string)[0-9a-f]*' | head -1 | cut -d')' -f2 > mpeg4_176x144_60.config
# 30 frames, configuration in band before every I-VOP.
gst-launch-1.0 -q filesrc location="$TMP/30.m4v" ! mpeg4videoparse ! rtpmp4vpay mtu=400 config-interval=-1 \
  ! rtpstreampay ! filesink location=mpeg4_inband_176x144_30.rtp

# JPEG, 20 pictures of 4:2:0 (tables in band, Q=255).
gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=20 ! video/x-raw,width=176,height=144,framerate=30/1,format=I420 \
  ! jpegenc quality=80 ! rtpjpegpay mtu=600 ! rtpstreampay ! filesink location=jpeg_176x144_20.rtp
