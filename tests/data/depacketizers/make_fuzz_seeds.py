#!/usr/bin/env python3
"""Writes seed corpora for the depacketizer fuzz targets from the captured
streams (layout: fuzz/packet_feeder.h)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, '..', '..', '..', 'fuzz', 'corpus')


def packets(name):
    data = open(os.path.join(HERE, name), 'rb').read()
    pos = 0
    while pos + 2 <= len(data):
        (n,) = struct.unpack('>H', data[pos:pos + 2])
        yield data[pos + 2:pos + 2 + n]
        pos += 2 + n


def record(control, payload):
    return struct.pack('>H', len(payload) + 1) + bytes([control]) + payload


def rtp_records(name, limit):
    out = b''
    for i, p in enumerate(packets(name)):
        if i >= limit:
            break
        out += record((p[1] >> 7), p[12:])
    return out


def write(target, name, content):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    open(os.path.join(d, name), 'wb').write(content)


h264 = list(packets('h264_176x144_90.rtp'))
sps = next(p[12:] for p in h264 if p[12] & 0x1F == 7)
pps = next(p[12:] for p in h264 if p[12] & 0x1F == 8)
write('h264_rtp_media_parser', 'stream', b'\x00' + rtp_records('h264_176x144_90.rtp', 30))
write('h264_rtp_media_parser', 'sdp_sets', b'\x01' + record(0, sps) + record(0, pps) +
      rtp_records('h264_176x144_90.rtp', 20))
write('h264_rtp_media_parser', 'stap_a', b'\x00' + record(1, b'\x18' + struct.pack('>H', len(sps)) + sps +
      struct.pack('>H', len(pps)) + pps + b'\x00\x03\x65\x88\x84'))
write('h264_sps_parser', 'baseline', sps)

config = bytes.fromhex(open(os.path.join(HERE, 'mpeg4_176x144_60.config')).read().strip())
write('mpeg4_rtp_media_parser', 'sdp_config', b'\x01' + record(0, config) + record(0, b'') +
      rtp_records('mpeg4_176x144_60.rtp', 20))
write('mpeg4_rtp_media_parser', 'inband', b'\x00' + rtp_records('mpeg4_inband_176x144_30.rtp', 20))
write('mpeg4_vol_parser', 'config', config)
write('mpeg4_vol_parser', 'config_and_vop', config + b'\x00\x00\x01\xb6\x10\x60\x91\x82')

write('jpeg_rtp_media_parser', 'stream', b'\x00' + rtp_records('jpeg_176x144_20.rtp', 12))
write('jpeg_rtp_media_parser', 'sdp_size', b'\x09' + record(0, b'\x0a\x00\x05\xa0') + record(0, b'') +
      rtp_records('jpeg_176x144_20.rtp', 6))
