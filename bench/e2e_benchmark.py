#!/usr/bin/env python3
"""End-to-end CPU cost of receiving a stream: the driver (through the
reference host) against ffmpeg, on the same stream of the same simulated
camera, for the same time.

For each client the user+system CPU time of its process and the frames it
received are measured; the result is CPU microseconds per frame, the median
of several runs, and the driver/ffmpeg ratio.

  bench/e2e_benchmark.py [--seconds 20] [--runs 3] [--case h264-1080p|h264-1080p-20M|mjpeg-720p|all]
  bench/e2e_benchmark.py --streams 64 [--seconds 20]     # many streams in one driver process
"""
import argparse
import os
import re
import resource
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin", "strandline")
CACHE = os.path.join(ROOT, "build", "bench")

CASES = {
    # name: (codec option, ffmpeg encoder args or kbit/s for scripts/make-clip, width, height, fps, clip extension)
    "h264-1080p": ("h264", 8000, 1920, 1080, 30, "h264"),
    "h264-1080p-20M": ("h264", 20000, 1920, 1080, 30, "h264"),
    "mjpeg-720p": ("mjpeg", ["-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p", "-f", "mjpeg"],
                   1280, 720, 15, "mjpeg"),
}


def make_clip(name):
    codec, args, w, h, fps, ext = CASES[name]
    os.makedirs(CACHE, exist_ok=True)
    if isinstance(args, int):
        # A camera-like H.264 stream: noise, key frames of real size once a second
        # (kept in build/clips, shared with the integration tests).
        out = subprocess.run([os.path.join(ROOT, "scripts", "make-clip"), "--kbps", str(args), "--size", f"{w}x{h}",
                              "--fps", str(fps), "--seconds", "30"],
                             check=True, capture_output=True, text=True)
        return out.stdout.strip()
    path = os.path.join(CACHE, f"{name}.{ext}")
    if not os.path.exists(path):
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                        f"testsrc2=size={w}x{h}:rate={fps}", "-t", "10"] + args + [path], check=True)
    return path


def udp_receive_buffer_errors():
    """The kernel's count of UDP datagrams dropped for a full receive buffer."""
    with open("/proc/net/snmp") as snmp:
        lines = [line.split() for line in snmp if line.startswith("Udp:")]
    return int(lines[1][lines[0].index("RcvbufErrors")]) if len(lines) >= 2 else 0


def free_ports(count):
    """Ports nothing listens on now (fixed ones collide with another run on the same machine)."""
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def start_camera(clip, http_port, rtsp_port):
    proc = subprocess.Popen([BIN, "simulate", "--http-port", str(http_port), "--rtsp-port", str(rtsp_port),
                             "--source", clip], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    deadline = time.time() + 30
    while time.time() < deadline:
        line = proc.stdout.readline()
        if line.startswith("READY"):
            return proc
        if proc.poll() is not None:
            break
    proc.kill()
    raise RuntimeError("simulated camera did not start")


def measured(argv, seconds_limit):
    """Runs argv, returns (cpu_seconds, stdout, stderr) of that child alone."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    proc = subprocess.run(argv, capture_output=True, text=True, timeout=seconds_limit)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, proc.stdout, proc.stderr


def driver_run(name, http_port, rtsp_port, seconds, streams=1):
    codec, _, w, h, fps, _ = CASES[name]
    argv = [BIN, "record", "--address", "127.0.0.1", "--port", str(http_port), "--user", "admin",
            "--password", "admin", "--model", "TCM5311", "--param", f"7={rtsp_port}", "--codec", codec,
            "--width", str(w), "--height", str(h), "--fps", str(fps), "--duration", str(seconds),
            "--out", "/dev/null", "--log-level", "1"]
    if streams > 1:
        argv += ["--streams", str(streams)]
    drops = udp_receive_buffer_errors()
    cpu, out, err = measured(argv, seconds * 4 + 60)
    drops = udp_receive_buffer_errors() - drops
    match = re.findall(r"(?:^|\s)frames=(\d+)", out)
    frames = int(match[-1]) if match else 0
    lost = re.findall(r"signal_lost=(\d+)", out)
    rates = re.findall(r"per stream min [0-9.]+ mean [0-9.]+ max [0-9.]+", err)
    summary = out.strip().splitlines()[-1] if out.strip() else err.strip()
    summary += f"\n  UDP datagrams the kernel dropped: {drops}"
    return cpu, frames, summary + ("\n  " + rates[-1] if rates else "")


def ffmpeg_run(rtsp_port, seconds, transport):
    argv = ["ffmpeg", "-nostdin", "-rtsp_transport", transport, "-i", f"rtsp://127.0.0.1:{rtsp_port}/",
            "-t", str(seconds), "-c", "copy", "-f", "null", "-"]
    cpu, out, err = measured(argv, seconds * 4 + 60)
    match = re.findall(r"frame=\s*(\d+)", err)
    return cpu, int(match[-1]) if match else 0


def us_per_frame(cpu, frames):
    return cpu * 1e6 / frames if frames else float("inf")


def compare(name, seconds, runs):
    """Whole-run CPU per frame, and the steady-state cost: the difference
    between a run of `seconds` and one 20 s longer, which leaves out what
    every run pays once (start-up, connection, encoder set-up)."""
    clip = make_clip(name)
    http_port, rtsp_port = free_ports(2)
    camera = start_camera(clip, http_port, rtsp_port)
    clients = {
        "driver": lambda s: driver_run(name, http_port, rtsp_port, s),
        "ffmpeg-udp": lambda s: ffmpeg_run(rtsp_port, s, "udp"),
        "ffmpeg-tcp": lambda s: ffmpeg_run(rtsp_port, s, "tcp"),
    }
    try:
        whole = {k: [] for k in clients}
        steady = {k: [] for k in clients}
        for _ in range(runs):
            for key, run in clients.items():
                cpu_short, frames_short, *_ = run(seconds)
                cpu_long, frames_long, *summary = run(seconds + 20)
                print(f"  {key}: {seconds} s cpu {cpu_short:.3f} frames {frames_short}; "
                      f"{seconds + 20} s cpu {cpu_long:.3f} frames {frames_long}", flush=True)
                if summary:
                    print(f"    {summary[0]}", flush=True)
                whole[key].append(us_per_frame(cpu_long, frames_long))
                steady[key].append(us_per_frame(cpu_long - cpu_short, frames_long - frames_short))
        for title, table in (("whole run", whole), ("steady state", steady)):
            med = {k: statistics.median(v) for k, v in table.items()}
            print(f"{name}: CPU us/frame, {title} (median of {runs})")
            for k, v in med.items():
                print(f"  {k:11s} {v:9.1f}   runs: " + ", ".join(f"{x:.1f}" for x in table[k]))
            for t in ("udp", "tcp"):
                print(f"  driver / ffmpeg-{t} = {med['driver'] / med['ffmpeg-' + t]:.3f}")
    finally:
        camera.terminate()
        camera.wait(timeout=30)


def many(streams, seconds):
    name = "h264-1080p"
    clip = make_clip(name)
    http_port, rtsp_port = free_ports(2)
    camera = start_camera(clip, http_port, rtsp_port)
    try:
        cpu, frames, summary = driver_run(name, http_port, rtsp_port, seconds, streams)
        print(f"{streams} streams of {name} ({CASES[name][4]} fps) in one driver process for {seconds} s")
        print(f"  frames {frames}; each stream's rate from its first frame on is below (a drop shows as < fps)")
        print(f"  CPU {cpu:.2f} s = {cpu / seconds * 100:.1f} % of one core, {cpu / streams / seconds * 100:.2f} % per stream")
        print(f"  {summary}")
    finally:
        camera.terminate()
        camera.wait(timeout=30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--case", default="all", choices=["all"] + list(CASES))
    parser.add_argument("--streams", type=int, default=0)
    args = parser.parse_args()
    if not os.path.exists(BIN):
        sys.exit("build first: scripts/setup")
    if args.streams:
        many(args.streams, args.seconds)
        return
    for name in (CASES if args.case == "all" else [args.case]):
        compare(name, args.seconds, args.runs)


if __name__ == "__main__":
    main()
