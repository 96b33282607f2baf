#!/usr/bin/env python3
"""End-to-end CPU cost of receiving a stream: the driver (through the
reference host) against ffmpeg, on the same stream, alternating run by run so
that both see the same load on the machine.

Sources: the simulated camera replaying a clip, and GStreamer's RTSP server
playing the same clip from its start for each client. Transports: RTP over
UDP and interleaved in the RTSP connection (TCP). Each run takes a fixed
number of frames; it counts only when every frame arrived (no RTP sequence
gap, no frame dropped, nothing dropped by the kernel), else it is reported as
lossy and left out of the medians.

Reported per client: CPU microseconds per frame (user + system of the client
process alone), peak RSS, and the driver/ffmpeg ratio of the medians.

  bench/e2e_benchmark.py [--seconds 20] [--runs 3] [--case h264-1080p|h264-1080p-20M|all]
                         [--source sim|gst|all] [--transport udp|tcp|all]
  bench/e2e_benchmark.py --streams 64 [--seconds 20] [--many-case h264-1080p|h264-480p-1M] [--transport udp|tcp]
                         # many streams in one driver process from the simulated camera's replay mode
  bench/e2e_benchmark.py --first-frame [--starts 5]       # StartCapture to the first frame, UDP and TCP
  bench/e2e_benchmark.py --memory 16 [--seconds 10] [--runs 3]   # peak anonymous memory, 1 stream and 16
  --bin PATH measures another build's reference host (the driver module beside it).
"""
import argparse
import os
import re
import socket
import statistics
import subprocess
import sys
import signal
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin", "strandline")
SIM_BIN = BIN  # the simulated camera always comes from this build
CACHE = os.path.join(ROOT, "build", "bench")

CASES = {
    # name: (codec option, kbit/s of the clip scripts/make-clip makes, width, height, fps)
    "h264-1080p": ("h264", 8000, 1920, 1080, 30),
    "h264-1080p-20M": ("h264", 20000, 1920, 1080, 30),
}


def make_clip(name):
    """A camera-like H.264 clip: noise, one key frame a second, kept in build/clips."""
    _, kbps, w, h, fps = CASES[name]
    out = subprocess.run([os.path.join(ROOT, "scripts", "make-clip"), "--kbps", str(kbps), "--size", f"{w}x{h}",
                          "--fps", str(fps), "--seconds", "30"], check=True, capture_output=True, text=True)
    return out.stdout.strip()


TEST_SERVER = os.path.join(ROOT, "build", "bin", "rtsp_test_server")


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


def start_camera(clip, http_port, rtsp_port, extra=()):
    proc = subprocess.Popen([SIM_BIN, "simulate", "--http-port", str(http_port), "--rtsp-port", str(rtsp_port),
                             "--source", clip, *extra], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    deadline = time.time() + 30
    while time.time() < deadline:
        line = proc.stdout.readline()
        if line.startswith("READY"):
            return proc
        if proc.poll() is not None:
            break
    proc.kill()
    raise RuntimeError("simulated camera did not start")


def start_gst(clip):
    """GStreamer's RTSP server playing the clip's Matroska copy from its start for each client."""
    mkv = os.path.splitext(clip)[0] + ".mkv"
    launch = f"( filesrc location={mkv} ! matroskademux ! h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96 )"
    proc = subprocess.Popen([TEST_SERVER, "--mount", "/", launch], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    if not line.startswith("PORT "):
        proc.kill()
        raise RuntimeError("GStreamer's RTSP server did not start")
    return proc, int(line.split()[1])


def measured(argv, seconds_limit):
    """Runs argv; returns (cpu_seconds, peak_rss_kib, stdout, stderr) of that process alone. It runs under
    GNU time for its peak RSS (a child forked from this script would count the script's own memory in its
    peak); the CPU time comes from the kernel's account of time and its child, in microseconds."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err, \
            tempfile.NamedTemporaryFile("r") as timing:
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", timing.name] + argv, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, start_new_session=True)
        timer = threading.Timer(seconds_limit, lambda: os.killpg(proc.pid, signal.SIGKILL))
        timer.start()
        _, status, usage = os.wait4(proc.pid, 0)
        timer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
        out.seek(0)
        err.seek(0)
        peak = (timing.read().split() or ["0"])[-1]
        return usage.ru_utime + usage.ru_stime, int(peak) if peak.isdigit() else 0, out.read(), err.read()


def config_file(transport):
    path = os.path.join(CACHE, f"driver-{transport}.xml")
    os.makedirs(CACHE, exist_ok=True)
    with open(path, "w") as f:
        f.write("<Configuration><Default><RTPMode>RTPOVERRTSP</RTPMode></Default></Configuration>"
                if transport == "tcp" else "<Configuration/>")
    return path


def driver_run(name, http_port, rtsp_port, frames, transport="udp", streams=1, seconds=0):
    fps = CASES[name][4]
    argv = record_argv(name, http_port, rtsp_port, transport, streams)
    argv += ["--duration", str(seconds)] if seconds else ["--frames", str(frames)]
    drops = udp_receive_buffer_errors()
    cpu, rss, out, err = measured(argv, (seconds or frames / fps) * 4 + 60)
    drops = udp_receive_buffer_errors() - drops
    summary = out.strip().splitlines()[-1] if out.strip() else err.strip()[-300:]
    got = int((re.findall(r"(?:^|\s)frames=(\d+)", summary) or [0])[-1])
    lost = sum(int(x) for x in re.findall(r"(?:rtp_lost|frames_dropped)=(\d+)", summary))
    rates = re.findall(r"per stream min [0-9.]+ mean [0-9.]+ max [0-9.]+", err)
    lossy = lost != 0 or drops != 0 or (not seconds and got < frames * streams)
    note = f"frames {got}, rtp_lost+frames_dropped {lost}, kernel UDP drops {drops}"
    if rates:
        note += ", " + rates[-1]
    return cpu, rss, got, lossy, note


def ffmpeg_run(rtsp_port, frames, transport):
    argv = ["ffmpeg", "-nostdin", "-rtsp_transport", transport, "-i", f"rtsp://127.0.0.1:{rtsp_port}/",
            "-frames:v", str(frames), "-c", "copy", "-f", "null", "-"]
    drops = udp_receive_buffer_errors()
    cpu, rss, out, err = measured(argv, frames / 30 * 4 + 60)
    drops = udp_receive_buffer_errors() - drops
    got = int((re.findall(r"frame=\s*(\d+)", err) or [0])[-1])
    missed = len(re.findall(r"RTP: missed|max delay reached|corrupt", err))
    lossy = got < frames or missed != 0 or drops != 0
    return cpu, rss, got, lossy, f"frames {got}, loss warnings {missed}, kernel UDP drops {drops}"


def record_argv(name, http_port, rtsp_port, transport, streams=1):
    codec, _, w, h, fps = CASES[name]
    argv = [BIN, "record", "--address", "127.0.0.1", "--port", str(http_port), "--user", "admin",
            "--password", "admin", "--model", "TCM5311", "--param", f"7={rtsp_port}", "--codec", codec,
            "--width", str(w), "--height", str(h), "--fps", str(fps), "--out", "/dev/null", "--log-level", "1",
            "--config", config_file(transport)]
    return argv + (["--streams", str(streams)] if streams > 1 else [])


def summary_field(out, key):
    found = re.findall(rf"(?:^|\s){key}=(-?[0-9.]+)", out.strip().splitlines()[-1] if out.strip() else "")
    return float(found[-1]) if found else None


def first_frame(starts):
    """StartCapture to the first frame as the reference host reports it (first_frame_ms), each start a new
    driver process, from GStreamer's server, which starts every session at the clip's first key frame (the
    simulated camera's encoder runs on between sessions, so a session joins it anywhere in a group of
    pictures and waits up to a second for the next key frame)."""
    name = "h264-1080p"
    http_port, rtsp_port, procs = start_source("gst", make_clip(name))
    lines = []
    try:
        for transport in ("udp", "tcp"):
            times = []
            for _ in range(starts):
                out = subprocess.run(record_argv(name, http_port, rtsp_port, transport) + ["--frames", "1"],
                                     capture_output=True, text=True, timeout=120).stdout
                ms = summary_field(out, "first_frame_ms")
                if ms is not None and ms >= 0:
                    times.append(ms)
            load = os.getloadavg()[0]
            med = statistics.median(times) if times else float("nan")
            lines.append(f"RESULT first frame of {name} from gst over {transport.upper()}: median {med:.0f} ms of "
                         f"{len(times)} starts (all: {' '.join(f'{t:.0f}' for t in times)}); load {load:.1f}")
            print(lines[-1], flush=True)
    finally:
        stop(procs)
    return lines


def anonymous_kib(pid):
    """The process's anonymous memory now (smaps_rollup; RssAnon where that is missing), in KiB."""
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Anonymous:"):
                    return int(line.split()[1])
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def peak_anonymous(argv, seconds):
    """Runs argv for its duration, sampling its anonymous memory ten times a second; returns (peak KiB, stdout)."""
    with tempfile.TemporaryFile("w+") as out:
        proc = subprocess.Popen(argv + ["--duration", str(seconds)], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL)
        peak = 0
        deadline = time.time() + seconds * 4 + 60
        while proc.poll() is None and time.time() < deadline:
            peak = max(peak, anonymous_kib(proc.pid))
            time.sleep(0.1)
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        out.seek(0)
        return peak, out.read()


def memory(streams, seconds, runs):
    """Peak anonymous memory of `record` with one 1080p stream and with N (medians of runs, which vary with how
    far the machine's load lets the queues run ahead), and what each further stream adds."""
    name = "h264-1080p"
    http_port, rtsp_port, procs = start_source("sim", make_clip(name))
    lines = []
    try:
        for transport in ("udp", "tcp"):
            peaks = {}
            for n in (1, streams):
                found = []
                for _ in range(runs):
                    peak, out = peak_anonymous(record_argv(name, http_port, rtsp_port, transport, n), seconds)
                    frames = summary_field(out, "frames") or 0
                    if frames > 0:
                        found.append(peak)
                    print(f"  {n} x {name} over {transport.upper()}: peak anonymous {peak / 1024:.2f} MiB, "
                          f"{frames:.0f} frames", flush=True)
                peaks[n] = statistics.median(found) if found else float("nan")
            further = (peaks[streams] - peaks[1]) / (streams - 1) if streams > 1 else 0
            lines.append(f"RESULT memory of {name} over {transport.upper()}: 1 stream {peaks[1] / 1024:.2f} MiB, "
                         f"{streams} streams {peaks[streams] / 1024:.2f} MiB, {further / 1024:.2f} MiB per further "
                         f"stream; load {os.getloadavg()[0]:.1f}")
            print(lines[-1], flush=True)
    finally:
        stop(procs)
    return lines


def us_per_frame(cpu, frames):
    return cpu * 1e6 / frames if frames else float("inf")


def start_source(source, clip):
    """Returns (http port of the simulated camera, RTSP port of the source, processes to stop)."""
    http_port, rtsp_port = free_ports(2)
    camera = start_camera(clip, http_port, rtsp_port)
    if source == "sim":
        return http_port, rtsp_port, [camera]
    gst, gst_port = start_gst(clip)
    return http_port, gst_port, [camera, gst]


def stop(procs):
    for proc in procs:
        if proc.stdin:
            proc.stdin.close()
        proc.terminate()
        proc.wait(timeout=30)


def compare(name, source, transport, seconds, runs):
    clip = make_clip(name)
    frames = seconds * CASES[name][4]
    http_port, rtsp_port, procs = start_source(source, clip)
    clients = {
        "driver": lambda: driver_run(name, http_port, rtsp_port, frames, transport),
        "ffmpeg": lambda: ffmpeg_run(rtsp_port, frames, transport),
    }
    title = f"{name} from {source} over {transport.upper()}, {frames} frames per run"
    print(title, flush=True)
    cost = {k: [] for k in clients}
    rss = {k: [] for k in clients}
    try:
        for _ in range(runs):
            for key, run in clients.items():  # alternating: both see the same load
                cpu, peak, got, lossy, note = run()
                print(f"  {key}: cpu {cpu:.3f} s, {us_per_frame(cpu, got):.1f} us/frame, peak RSS {peak / 1024:.1f} "
                      f"MiB; {note}" + ("  LOSSY, not counted" if lossy else ""), flush=True)
                rss[key].append(peak)
                if not lossy:
                    cost[key].append(us_per_frame(cpu, got))
    finally:
        stop(procs)
    med = {k: statistics.median(v) if v else float("nan") for k, v in cost.items()}
    line = f"RESULT {title}: driver {med['driver']:.1f} us/frame ({len(cost['driver'])} lossless runs), " \
           f"ffmpeg {med['ffmpeg']:.1f} ({len(cost['ffmpeg'])}), ratio {med['driver'] / med['ffmpeg']:.3f}; " \
           f"peak RSS driver {max(rss['driver']) / 1024:.1f} MiB, ffmpeg {max(rss['ffmpeg']) / 1024:.1f} MiB"
    print(line, flush=True)
    return line


MANY_CASES = {
    # name: (kbit/s, size, fps) of the clip scripts/make-clip makes for many streams
    "h264-1080p": (8000, "1920x1080", 30),
    "h264-480p-1M": (1000, "640x480", 30),
}


def proc_status(pid):
    """The kernel's status fields of a process (kB values as numbers)."""
    fields = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = int(value.split()[0]) if value.split() and value.split()[0].isdigit() else 0
    except OSError:
        pass
    return fields


def proc_cpu(pid):
    """User + system CPU seconds a running process has used."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError):
        return 0.0


def many(streams, seconds, case, transport):
    """N streams in one driver process from the simulated camera's replay mode (one paced sender): the
    driver's CPU, threads and anonymous memory (sampled twice a second), the camera's CPU, the frame rate per
    stream and every loss the driver or the kernel saw."""
    kbps, size, fps = MANY_CASES[case]
    width, height = size.split("x")
    clip = subprocess.run([os.path.join(ROOT, "scripts", "make-clip"), "--kbps", str(kbps), "--size", size, "--fps",
                           str(fps), "--seconds", "30"], check=True, capture_output=True, text=True).stdout.strip()
    http_port, rtsp_port = free_ports(2)
    camera = start_camera(clip, http_port, rtsp_port, ["--replay"])
    try:
        argv = [BIN, "record", "--address", "127.0.0.1", "--port", str(http_port), "--user", "admin", "--password",
                "admin", "--model", "TCM5311", "--param", f"7={rtsp_port}", "--codec", "h264", "--width", width,
                "--height", height, "--fps", str(fps), "--out", "/dev/null", "--log-level", "1", "--config",
                config_file(transport), "--duration", str(seconds), "--streams", str(streams)]
        drops = udp_receive_buffer_errors()
        camera_cpu = proc_cpu(camera.pid)
        load = os.getloadavg()[0]
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            peak = {"RssAnon": 0, "VmRSS": 0, "Threads": 0}
            deadline = time.time() + seconds * 4 + 120
            # Reaped here, not by Popen, for the process's own CPU time.
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            while pid == 0:
                sample = proc_status(proc.pid)
                for key in peak:
                    peak[key] = max(peak[key], sample.get(key, 0))
                if time.time() > deadline:
                    proc.kill()
                time.sleep(0.5)
                pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            proc.returncode = os.waitstatus_to_exitcode(status)
            out.seek(0)
            err.seek(0)
            summary, log = out.read().strip(), err.read()
        camera_cpu = proc_cpu(camera.pid) - camera_cpu
        drops = udp_receive_buffer_errors() - drops
    finally:
        stop([camera])
    cpu = usage.ru_utime + usage.ru_stime
    last = summary.splitlines()[-1] if summary else log.strip()[-300:]
    frames = int((re.findall(r"(?:^|\s)frames=(\d+)", last) or [0])[-1])
    lost = {key: int((re.findall(rf"{key}=(\d+)", last) or [0])[-1])
            for key in ("rtp_lost", "frames_dropped", "signal_lost", "first_frame_ms")}
    rates = (re.findall(r"per stream min [0-9.]+ mean [0-9.]+ max [0-9.]+", log) or ["per stream: no rate line"])[-1]
    lossy = lost["rtp_lost"] != 0 or lost["frames_dropped"] != 0 or drops != 0
    print(f"{streams} streams of {case} ({size} {fps} fps {kbps} kbit/s) over {transport}, replay camera, "
          f"{seconds} s, load average {load:.1f} at the start")
    print(f"  frames {frames}, fps {rates}, rtp_lost {lost['rtp_lost']}, frames_dropped {lost['frames_dropped']}, "
          f"kernel UDP drops {drops}, signal_lost {lost['signal_lost']}, slowest first frame "
          f"{lost['first_frame_ms']} ms" + ("  LOSSY" if lossy else ""))
    print(f"  driver CPU {cpu:.2f} s = {cpu / seconds * 100:.1f} % of one core, {cpu / streams / seconds * 100:.2f} % "
          f"per stream, {us_per_frame(cpu, frames):.1f} us/frame; threads {peak['Threads']}; anonymous memory "
          f"{peak['RssAnon'] / 1024:.1f} MiB ({peak['RssAnon'] / 1024 / streams:.2f} MiB per stream), "
          f"RSS {peak['VmRSS'] / 1024:.1f} MiB")
    print(f"  camera CPU {camera_cpu:.2f} s = {camera_cpu / seconds * 100:.1f} % of one core")
    print(f"  summary: {last}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--case", default="all", choices=["all", "h264-1080p", "h264-1080p-20M"])
    parser.add_argument("--source", default="all", choices=["all", "sim", "gst"])
    parser.add_argument("--transport", default="all", choices=["all", "udp", "tcp"])
    parser.add_argument("--streams", type=int, default=0)
    parser.add_argument("--many-case", default="h264-1080p", choices=sorted(MANY_CASES),
                        help="the clip of a --streams run")
    parser.add_argument("--first-frame", action="store_true")
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--memory", type=int, default=0, metavar="N")
    parser.add_argument("--bin", default=BIN, help="the reference host to measure (another build's, to compare)")
    args = parser.parse_args()
    globals()["BIN"] = os.path.abspath(args.bin)
    if not os.path.exists(BIN):
        sys.exit("build first: scripts/setup")
    if args.first_frame:
        first_frame(args.starts)
        return
    if args.memory:
        memory(args.memory, args.seconds, args.runs)
        return
    if args.streams:
        many(args.streams, args.seconds, args.many_case, "tcp" if args.transport == "tcp" else "udp")
        return
    results = []
    for name in (["h264-1080p", "h264-1080p-20M"] if args.case == "all" else [args.case]):
        for source in (["sim", "gst"] if args.source == "all" else [args.source]):
            for transport in (["udp", "tcp"] if args.transport == "all" else [args.transport]):
                results.append(compare(name, source, transport, args.seconds, args.runs))
    print("\n".join(results))


if __name__ == "__main__":
    main()
