#!/usr/bin/env python3
"""Vorandel's benchmark: makes its corpora, measures, and writes docs/performance.md with
docs/performance.png. Run it through `./dev.sh bench` (under a virtual display). Counts come
from the environment, with defaults that finish in about an hour on 2 cores:

  VORANDEL_BENCH_REPS          repetitions of every measurement, medians reported (3)
  VORANDEL_BENCH_PHOTOS_12MP   4000x3000 photo-like images per input format, JPEG and PNG (1)
  VORANDEL_BENCH_PHOTOS_2MP    1600x1200 photo-like images per input format (3)
  VORANDEL_BENCH_SMALL_COUNTS  file counts of the small-image runs, 32x24 PNG to BMP
                               ("250 1000 2000")
  VORANDEL_BENCH_GROWTH        the two file counts of the growth, minimised and the floor,
                               once each, the smaller run again at the end ("1000 100000")
  VORANDEL_BENCH_TREE          entries of the scanned tree (100000)
  VORANDEL_BENCH_ANIMATIONS    animated GIFs of 100 frames at 480x270, made from the corpus's
                               JPEGs, converted to WEBP beside gif2webp and ImageMagick (10)
  VORANDEL_BENCH_DIR           where the corpora and outputs go (/tmp/vorandel-bench)
"""
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mingw")
EXE = os.path.join(BUILD, "bench", "vorandel_bench.exe")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")

REPS = int(os.environ.get("VORANDEL_BENCH_REPS", "3"))
PHOTOS_12 = int(os.environ.get("VORANDEL_BENCH_PHOTOS_12MP", "1"))
PHOTOS_2 = int(os.environ.get("VORANDEL_BENCH_PHOTOS_2MP", "3"))
SMALL_COUNTS = [int(n) for n in os.environ.get("VORANDEL_BENCH_SMALL_COUNTS", "250 1000 2000").split()]
GROWTH = [int(n) for n in os.environ.get("VORANDEL_BENCH_GROWTH", "1000 100000").split()]
TREE = int(os.environ.get("VORANDEL_BENCH_TREE", "100000"))
ANIMATIONS = int(os.environ.get("VORANDEL_BENCH_ANIMATIONS", "10"))
WORK = os.environ.get("VORANDEL_BENCH_DIR", "/tmp/vorandel-bench")
CORPUS = os.path.join(ROOT, "tests", "corpus")
PAUSE = 0.010  # the run's pause after every converted file

FORMATS = [("JPEG", "image/jpeg", "jpg"), ("PNG", "image/png", "png"), ("WEBP", "image/webp", "webp")]


def log(text):
    print("[bench] " + text, flush=True)


def windows(path):
    return "Z:" + path.replace("/", "\\")


def bench(*args):
    out = subprocess.run([WINE_RUN, EXE, *args], capture_output=True, text=True, check=True).stdout
    values = {"run": 4, "profile": 8}.get(args[0], 2)
    return [float(x) for x in out.split()[-values:]]


def median(values):
    return statistics.median(values)


PHOTO_SIZES = (("12mp", "4000x3000", PHOTOS_12), ("2mp", "1600x1200", PHOTOS_2))


# What a camera's photo carries besides its pixels: a colour profile, EXIF and XMP.
PHOTO_PROFILE = "/usr/share/color/icc/colord/sRGB.icc"
PHOTO_TAGS = ["-DateTimeOriginal=2026:05:01 10:20:30", "-Make=Vorandel", "-Model=Bench",
              "-GPSLatitude=48.8", "-GPSLatitudeRef=N", "-GPSLongitude=2.3", "-GPSLongitudeRef=E",
              "-Orientation#=1", "-XMP-dc:Title=Bench photo"]


def make_corpora():
    photos = os.path.join(WORK, "photos")
    if not os.path.exists(os.path.join(photos, ".metadata")):
        shutil.rmtree(photos, ignore_errors=True)
        log("making photo-like images")
        # A folder for each size, so that the floor gives the time of each.
        for tag, size, count in PHOTO_SIZES:
            os.makedirs(os.path.join(photos, tag))
            for i in range(count):
                base = os.path.join(photos, tag, "%s_%d" % (tag, i))
                # A seeded plasma, softened: smooth areas and fine detail like a photo's.
                subprocess.run(["convert", "-seed", str(i + 1), "-size", size, "plasma:fractal",
                                "-blur", "0x1", "-quality", "90", base + ".jpg"], check=True)
                subprocess.run(["convert", base + ".jpg", "-define", "png:exclude-chunks=date,time",
                                base + ".png"], check=True)
                for made in (base + ".jpg", base + ".png"):
                    subprocess.run(["exiftool", "-q", "-overwrite_original", "-icc_profile<=" + PHOTO_PROFILE,
                                    *PHOTO_TAGS, made], check=True)
        open(os.path.join(photos, ".metadata"), "w").close()
    # Folders of a thousand, like a camera's: one output folder of 100,000 files would
    # measure Wine's case-insensitive name lookups, which read the whole folder for every
    # new name, and not Vorandel.
    base = os.path.join(WORK, "small_base")
    if not os.path.isdir(base):
        os.makedirs(base)
        log("making 1000 small images")
        bench("small", windows(base), "1000")
    names = sorted(os.listdir(base), key=lambda n: int(n[5:-4]))
    for count in sorted(set(SMALL_COUNTS + GROWTH)):
        folder = os.path.join(WORK, "small_%d" % count)
        if not os.path.isdir(folder):
            log("making a folder of %d small images" % count)
            for start in range(0, count, 1000):
                sub = os.path.join(folder, "%03d" % (start // 1000))
                os.makedirs(sub)
                for name in names[:min(1000, count - start)]:
                    shutil.copyfile(os.path.join(base, name), os.path.join(sub, name))
    tree = os.path.join(WORK, "tree")
    if not os.path.isdir(tree):
        log("making a tree of %d entries" % TREE)
        per_folder = 100
        folders = TREE // per_folder
        for d in range(folders):
            sub = os.path.join(tree, "d%04d" % d)
            os.makedirs(sub)
            for f in range(per_folder - 1):
                open(os.path.join(sub, "f%d.png" % f), "w").close()
    return photos


def clear_outputs(folder):
    shutil.rmtree(os.path.join(folder, "converted_images"), ignore_errors=True)


WORKER_STARTS = []


def vorandel_once(folder, fmt, state):
    clear_outputs(folder)
    s, files, peak, start = bench("run", windows(folder), fmt, state)
    clear_outputs(folder)
    WORKER_STARTS.append(start)
    return s, int(files), peak


def floor_once(folder, mime):
    out = os.path.join(WORK, "floor_out")
    shutil.rmtree(out, ignore_errors=True)
    s, files = bench("floor", windows(folder), mime, windows(out))
    shutil.rmtree(out, ignore_errors=True)
    return s + PAUSE * files


def measure(folder, fmt, mime, parts=None):
    """Vorandel shown, minimised and the floor, taking turns in every repetition so that a
    change in the machine's speed falls on all three alike: their medians, the files, the
    peak memory, the largest spread of the three and the floor's median in each of parts (subfolders
    that hold all the files, the floor taken over each)."""
    parts = parts or [folder]
    shown, minimised, base, by_part, peak, files = [], [], [], [], 0, 0
    for _ in range(REPS):
        s, files, p1 = vorandel_once(folder, fmt, "shown")
        m, _, p2 = vorandel_once(folder, fmt, "minimised")
        shown.append(s)
        minimised.append(m)
        by_part.append([floor_once(part, mime) for part in parts])
        base.append(sum(by_part[-1]))
        peak = max(peak, p1, p2)
    # How far the fastest and slowest repetitions of one kind lie apart, against their median.
    spread = max((max(times) - min(times)) / median(times) for times in (shown, minimised, base))
    part_floors = [median(rep[i] for rep in by_part) for i in range(len(parts))]
    return median(shown), median(minimised), median(base), files, peak, spread, part_floors


def metadata_cost(folder, mime):
    """A photo's metadata handling and its conversion, apart, in one process: the medians of
    the repetitions' means, in ms per photo."""
    out = os.path.join(WORK, "metadata_out")
    runs = []
    for _ in range(REPS):
        shutil.rmtree(out, ignore_errors=True)
        runs.append(bench("metadata", windows(folder), mime, windows(out)))
    shutil.rmtree(out, ignore_errors=True)
    return median(r[0] for r in runs), median(r[1] for r in runs)


def growth():
    """Minimised and the floor over the smaller and the larger count, once each, then the
    smaller again, whose two runs bracket the larger one: (files, minimised s, floor s,
    peak bytes) for each of the three."""
    rows = []
    for count in (GROWTH[0], GROWTH[1], GROWTH[0]):
        log("growth: %d small files, minimised and the floor" % count)
        folder = os.path.join(WORK, "small_%d" % count)
        m, files, peak = vorandel_once(folder, "BMP", "minimised")
        rows.append((files, m, floor_once(folder, "image/bmp"), peak))
    return rows


def make_animations():
    """ANIMATIONS GIFs, each a 480x270 view panning over one of the corpus's JPEGs for 100
    frames of 40 ms, played forever."""
    folder = os.path.join(WORK, "animations")
    if os.path.exists(os.path.join(folder, ".made")):
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    log("making %d animated GIFs" % ANIMATIONS)
    # The corpus's JPEGs that ImageMagick reads whole (it holds damaged and 12-bit ones too).
    jpegs = [path for path in sorted(os.path.join(where, n) for where, _, names in
                                     os.walk(os.path.join(CORPUS, "jpeg")) for n in names
                                     if n.endswith(".jpg"))
             if subprocess.run(["identify", "-regard-warnings", path], capture_output=True).returncode == 0]
    scratch = os.path.join(WORK, "animation_frames")
    for i in range(ANIMATIONS):
        shutil.rmtree(scratch, ignore_errors=True)
        os.makedirs(scratch)
        subprocess.run(["convert", jpegs[i % len(jpegs)] + "[0]", "-resize", "960x540^", "-gravity",
                        "center", "-extent", "960x540", "+gravity", "-write", "mpr:view", "+delete",
                        *[arg for k in range(100) for arg in
                          ("(", "mpr:view", "-crop", "480x270+%d+%d" % (k * 4, k * 2), "+repage", ")")],
                        "-set", "delay", "4", "-loop", "0", os.path.join(folder, "anim_%d.gif" % i)],
                       check=True)
    shutil.rmtree(scratch, ignore_errors=True)
    open(os.path.join(folder, ".made"), "w").close()
    return folder


def animation_run(folder):
    """One run each of Vorandel (minimised), gif2webp (-lossy at the same quality and method,
    libwebp's defaults) and ImageMagick over the animations to WEBP: files and seconds."""
    s, files, _ = vorandel_once(folder, "WEBP", "minimised")
    inputs = sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".gif"))
    out = os.path.join(WORK, "animation_out")
    timings = {}
    for tool, command in (("gif2webp", lambda i, o: ["gif2webp", "-quiet", "-lossy", "-q", "90",
                                                      "-m", "4", i, "-o", o]),
                          ("ImageMagick", lambda i, o: ["convert", i, "-quality", "90", o])):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        start = time.monotonic()
        for n, made in enumerate(inputs):
            subprocess.run(command(made, os.path.join(out, "%d.webp" % n)), check=True,
                           capture_output=True)
        timings[tool] = time.monotonic() - start
    shutil.rmtree(out, ignore_errors=True)
    return files, s, timings["gif2webp"], timings["ImageMagick"]


def mogrify(folder, extension, threads):
    out = os.path.join(WORK, "mogrify_out")
    inputs = sorted(os.path.join(where, n) for where, _, names in os.walk(folder)
                    for n in names if n.endswith((".jpg", ".png")))
    limit = ["-limit", "thread", "1"] if threads == 1 else []
    seconds = []
    for _ in range(REPS):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        start = time.monotonic()
        subprocess.run(["mogrify", *limit, "-path", out, "-quality", "90", "-format", extension, *inputs],
                       check=True, capture_output=True)
        seconds.append(time.monotonic() - start)
    shutil.rmtree(out, ignore_errors=True)
    return median(seconds)


def profile_once(folder):
    """What `vorandel_bench profile` prints: a real run's time per file split in three, the
    pause, the hand-over and the conversion in one process."""
    clear_outputs(folder)
    parts = bench("profile", windows(folder))
    clear_outputs(folder)
    return parts


def profile(folder):
    parts = [profile_once(folder) for _ in range(REPS)]
    return [median(p[i] for p in parts) for i in range(8)]


def scan(tree):
    vorandel_times, find_times = [], []
    for _ in range(REPS):
        s, _found = bench("scan", windows(tree))
        vorandel_times.append(s)
        start = time.monotonic()
        subprocess.run("find %s | wc -l" % tree, shell=True, check=True, capture_output=True)
        find_times.append(time.monotonic() - start)
    return median(vorandel_times), median(find_times)


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) // 1024
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    load = os.getloadavg()
    return ("%s, %d cores, %d MiB, %s, %s under Xvfb; load average %.1f at the start (the machine "
            "is shared with other work)" % (cpu, os.cpu_count(), memory, platform.platform(), wine, load[0]))


def main():
    if not os.path.exists(EXE):
        sys.exit("build first: %s is missing" % EXE)
    started = time.monotonic()
    where = machine()
    photos = make_corpora()
    photo_parts = [os.path.join(photos, tag) for tag, _, _ in PHOTO_SIZES]
    photo_rows = []
    metadata_rows = []
    log("profile")
    parts = profile(os.path.join(WORK, "small_%d" % SMALL_COUNTS[0]))
    photo_profile = profile_once(photos)
    for name, mime, extension in FORMATS:
        log("photos to " + name)
        shown, minimised, base, files, peak, spread, part_floors = measure(photos, name, mime, photo_parts)
        one = mogrify(photos, extension, 1)
        default = mogrify(photos, extension, 0)
        photo_rows.append((name, files, shown, minimised, base, one, default, peak, spread, part_floors))
        metadata_rows.append((name,) + metadata_cost(photos, mime))
    small_rows = []
    for count in SMALL_COUNTS:
        log("%d small files to BMP" % count)
        folder = os.path.join(WORK, "small_%d" % count)
        shown, minimised, base, files, peak, _, _ = measure(folder, "BMP", "image/bmp")
        small_rows.append((files, shown, minimised, base, peak))
    growth_rows = growth()
    log("animations to WEBP")
    animation_row = animation_run(make_animations())
    log("scan")
    scan_vorandel, scan_find = scan(os.path.join(WORK, "tree"))
    write_report(where, photo_rows, metadata_rows, small_rows, growth_rows, parts, photo_profile,
                 scan_vorandel, scan_find, animation_row, time.monotonic() - started)


def plot(docs, small_rows, growth_rows):
    shown_data = os.path.join(WORK, "plot_shown.dat")
    with open(shown_data, "w") as f:
        for files, shown, _, _, _ in small_rows:
            f.write("%d %.4f\n" % (files, shown))
    # Minimised and the floor also at the growth's larger count.
    points = {files: (minimised, base) for files, _, minimised, base, _ in small_rows}
    larger = growth_rows[1]
    points.setdefault(larger[0], (larger[1], larger[2]))
    all_data = os.path.join(WORK, "plot_all.dat")
    with open(all_data, "w") as f:
        for files in sorted(points):
            f.write("%d %.4f %.4f\n" % (files, *points[files]))
    lines = ("'{s}' using 1:{y} with linespoints lt 1 title 'window shown',"
             "'{a}' using 1:{m} with linespoints lt 2 title 'window minimised',"
             "'' using 1:{f} with linespoints lt 3 title 'floor (codec calls + 10 ms pause per file)'")
    subprocess.run(["gnuplot", "-e", (
        "set terminal png size 1100,500; set output '%s/performance.png';"
        "set multiplot layout 1,2 title 'Vorandel: 32x24 PNG to BMP (medians of %d runs; %d files once)';"
        "set xlabel 'files'; set logscale x; set grid; unset key;"
        "set ylabel 'seconds'; set logscale y; plot %s;"
        "set ylabel 'ms per file'; unset logscale y; set yrange [0:*]; set key right bottom; plot %s;"
        "unset multiplot"
    ) % (docs, REPS, larger[0],
         lines.format(s=shown_data, a=all_data, y="2", m="2", f="3"),
         lines.format(s=shown_data, a=all_data, y="(1000*$2/$1)", m="(1000*$2/$1)", f="(1000*$3/$1)"))],
        check=True)


def write_report(where, photo_rows, metadata_rows, small_rows, growth_rows, parts, photo_profile,
                 scan_vorandel, scan_find, animation_row, elapsed):
    docs = os.path.join(ROOT, "docs")
    plot(docs, small_rows, growth_rows)

    mib = 1024.0 * 1024.0
    small_constant = max(row[4] for row in small_rows)
    largest = 4000 * 3000 * 4 if PHOTOS_12 else 1600 * 1200 * 4

    convert, log_line, rest, pause, handover, here, handover_low, handover_high = parts
    cycle = convert + log_line + rest
    overhead = cycle - (here + 1000 * PAUSE)
    legs = (convert - here - handover) + log_line + (rest - pause)
    # What the program adds to a file never touches its pixels, which stay in the worker: a
    # photo's overhead is a small file's, hand-over included, unless the photos' own
    # hand-over, too noisy to subtract alone, says otherwise beyond its quartiles.
    photo_handover, photo_low, photo_high = photo_profile[4], photo_profile[6], photo_profile[7]
    handover_holds = photo_low <= handover <= photo_high
    photo_overhead = overhead if handover_holds else overhead - handover + photo_handover
    photo_shares = []  # (output, size, floor ms per file, overhead %)
    for name, _, _, _, _, _, _, _, _, part_floors in photo_rows:
        for (_, size, count), floor in zip(PHOTO_SIZES, part_floors):
            if count:
                per_photo = 1000 * floor / (2 * count)
                photo_shares.append((name, size, per_photo,
                                     100 * photo_overhead / (per_photo + photo_overhead)))
    unresolved = all(abs(100 * (shown - base) / shown) <= 100 * spread
                     for _, _, shown, _, base, _, _, _, spread, _ in photo_rows)

    smaller, larger, again = growth_rows
    per_file = [1000 * row[1] / row[0] for row in growth_rows]
    floor_per_file = [1000 * row[2] / row[0] for row in growth_rows]
    growth_ratio = per_file[1] / ((per_file[0] + per_file[2]) / 2)
    floor_ratio = floor_per_file[1] / ((floor_per_file[0] + floor_per_file[2]) / 2)
    per_file_memory = (larger[3] - max(smaller[3], again[3])) / (larger[0] - smaller[0]) / 1024
    per_largest = (max(row[7] for row in photo_rows) - small_constant) / largest

    def verdict(met):
        return "met" if met else "not met"

    ratios = [shown / minimised for _, shown, minimised, _, _ in small_rows]
    webp = next(row for row in photo_rows if row[0] == "WEBP")
    least = min(photo_shares, key=lambda row: row[3])
    missed = ["%s %s" % (row[0], row[1]) for row in photo_shares if row[3] >= 2]
    most = max(photo_shares, key=lambda row: row[3])
    summary = [
        "## Against the targets",
        "",
        "| target | measured | |",
        "|---|---|---|",
        "| a run in the shown window at most 1.15 times the same run minimised (small files) "
        "| %s (%s files) | %s |" % (", ".join("%.3f" % r for r in ratios),
                                   ", ".join(str(row[0]) for row in small_rows),
                                   verdict(max(ratios) <= 1.15)),
        "| Vorandel's overhead over the floor under 1 ms a file | %.2f ms a file | %s: the "
        "messages between the run's thread and the window cost that under Wine (below) |" % (
            overhead, verdict(overhead < 1)),
        "| that overhead under 2 %% of a photo's run | %.2f %% (%s, %s) to %.2f %% (%s, %s) | %s |" % (
            least[3], least[0], least[1], most[3], most[0], most[1],
            verdict(not missed) if len(missed) in (0, len(photo_shares)) else
            "met but for " + ", ".join(missed)),
        "| time per file at %d files within 10 %% of that at %d | %.3f times (minimised; "
        "the floor %.3f) | %s |" % (larger[0], smaller[0], growth_ratio, floor_ratio,
                                    verdict(abs(growth_ratio - 1) <= 0.10)),
        "| a photo's metadata handled in under 2 %% of its conversion | %s | %s |" % (
            ", ".join("%.2f %% (%s)" % (100 * ms / convert, name) for name, ms, convert in metadata_rows),
            verdict(all(ms < 0.02 * convert for _, ms, convert in metadata_rows))),
        "| WEBP photos ahead of mogrify with its default threads | %.2f against %.2f files/s | %s |" % (
            webp[1] / webp[2], webp[1] / webp[6], verdict(webp[2] < webp[6])),
        "| animated GIFs to WEBP at least as fast as gif2webp (%d of 100 frames at 480x270, one "
        "run each) | %.2f against %.2f files/s, %.2f times; ImageMagick %.2f files/s | %s |" % (
            animation_row[0], animation_row[0] / animation_row[1], animation_row[0] / animation_row[2],
            animation_row[2] / animation_row[1], animation_row[0] / animation_row[3],
            verdict(animation_row[1] <= animation_row[2])),
        "| peak memory bounded by the largest picture's decoded size and a constant | %.0f MiB "
        "+ %.2f times the largest picture + %.2f KiB a listed file | (below) |" % (
            small_constant / mib, per_largest, per_file_memory),
        "",
    ]

    lines = [
        "# Performance",
        "",
        "Regenerated by `./dev.sh bench` (bench/bench.py); every figure is the median of %d "
        "repetitions unless it says otherwise. Machine: %s. The whole benchmark took %.0f "
        "minutes." % (REPS, where, elapsed / 60),
        "",
        "Vorandel's time is from the press of Start to Start enabled again, in the real window "
        "(shown, or minimised where it draws nothing), including the codec worker's hand-over "
        "of every file. The worker itself starts once per program, when its first run needs it; "
        "the benchmark starts it before pressing Start, and that start (with one small "
        "conversion) took a median of %.2f s under Wine, not counted in the tables. "
        "The floor is the same codec calls one after another in one process, plus the 10 ms "
        "pause the run makes after every converted file. Overhead per file is Vorandel's time "
        "shown minus the floor, over the files. mogrify is Debian's ImageMagick, natively on "
        "Linux, on the same files (`-limit thread 1`, and its default threads). Peak memory is "
        "the peak working set of the program and its codec worker together "
        "(GetProcessMemoryInfo)." % median(WORKER_STARTS),
        "",
    ] + summary + [
        "## Photo-like images (%d of 4000x3000 and %d of 1600x1200, each as JPEG and PNG)" % (PHOTOS_12, PHOTOS_2),
        "",
        "| output | files | shown files/s | minimised files/s | floor files/s | shown / floor | "
        "overhead per file ms | overhead % | runs' spread % | mogrify 1 thread files/s | "
        "mogrify default files/s | peak memory MiB |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for name, files, shown, minimised, base, one, default, peak, spread, _ in photo_rows:
        lines.append("| %s | %d | %.2f | %.2f | %.2f | %.3f | %.1f | %.1f | %.1f | %.2f | %.2f | %.0f |" % (
            name, files, files / shown, files / minimised, files / base, shown / base,
            1000 * (shown - base) / files, 100 * (shown - base) / shown, 100 * spread,
            files / one, files / default, peak / mib))
    lines += [
        "",
        "The runs' spread is how far the fastest and slowest repetitions of one kind (shown, "
        "minimised or the floor) lie apart, against their median. %s Whole runs of a few "
        "seconds on a machine shared with other work cannot resolve the 2 %% that the target "
        "asks, so a photo's overhead is also taken apart. What the program adds to a file (its "
        "output path, the messages of its progress position and its log line, the hand-over of "
        "its paths to the codec worker, the pause's overshoot) does not depend on the picture: "
        "the pixels never leave the worker. Each photo was converted in the worker and in one "
        "process right after each other: the worker added %.2f ms a photo (median; the middle "
        "half of the rounds between %.2f and %.2f ms). %s Against each photo's floor:" % (
            "Every overhead in the table lies within it: the repetitions do not resolve it."
            if unresolved else
            "Some overheads in the table lie outside it.",
            photo_handover, photo_low, photo_high,
            ("The small files' hand-over, %.2f ms, lies within that: no cost that grows with the "
             "picture shows, and a photo's overhead is a small file's, %.2f ms from the profile "
             "below, hand-over included." % (handover, overhead))
            if handover_holds else
            ("The small files' hand-over, %.2f ms, lies outside that, so a photo's overhead is a "
             "small file's, %.2f ms from the profile below, with the photos' hand-over in place of "
             "the small files': %.2f ms." % (handover, overhead, photo_overhead))),
        "",
        "| output | size | floor ms per file, pause included | overhead ms per file | overhead % |",
        "|---|---|---|---|---|",
    ]
    for name, size, per_photo, share in photo_shares:
        lines.append("| %s | %s | %.1f | %.2f | %.2f |" % (name, size, per_photo, photo_overhead, share))
    lines += [
        "",
        "Every photo carries an sRGB profile, EXIF (date taken, camera, GPS position) and XMP, "
        "which go into every output. Their handling (read from the input, the profile checked, "
        "made true to the output, written into the encoded output) was timed apart from the "
        "conversion, in one process, file by file in turns:",
        "",
        "| output | metadata ms per photo | conversion ms per photo | metadata % |",
        "|---|---|---|---|",
    ]
    for name, ms, convert in metadata_rows:
        lines.append("| %s | %.2f | %.1f | %.2f |" % (name, ms, convert, 100 * ms / convert))
    lines += [
        "",
        "The largest image decodes to %.0f MiB (4 bytes a pixel). With no large picture (the "
        "small-image runs below) the program and its worker peak at %.0f MiB: their code, GDI+, "
        "Wine's libraries and the window. The photo runs peak at that constant plus %.2f times "
        "the largest picture's decoded size (the decoded picture, its copy in the output's pixel "
        "format, and the encoder's buffers). Beyond these, memory grows by %.2f KiB for every "
        "file listed (see the growth below): the run's list of paths and its log's lines, both "
        "kept until the next run." % (
            largest / mib, small_constant / mib, per_largest, per_file_memory),
        "",
        "## Many small images (32x24 PNG to BMP, overwrite on)",
        "",
        "| files | shown s | minimised s | floor s | shown / minimised | shown / floor | "
        "overhead per file ms | time per file ms | peak memory MiB |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for files, shown, minimised, base, peak in small_rows:
        lines.append("| %d | %.2f | %.2f | %.2f | %.3f | %.3f | %.2f | %.2f | %.0f |" % (
            files, shown, minimised, base, shown / minimised, shown / base,
            1000 * (shown - base) / files, 1000 * shown / files, peak / mib))
    first, last = small_rows[0], small_rows[-1]

    def growth_of(column):
        return (last[column] / last[0]) / (first[column] / first[0])

    lines += [
        "",
        "Growth of the time per file from %d to %d files: %.3f shown, %.3f minimised, %.3f for "
        "the floor. The small images lie in folders of 1,000."
        % (first[0], last[0], growth_of(1), growth_of(2), growth_of(3)),
        "",
        "## Growth from %d to %d files" % (smaller[0], larger[0]),
        "",
        "The same small images, minimised and the floor, once each (the run of %d files took "
        "%.0f minutes); the smaller run again after the larger, the two bracketing it:"
        % (larger[0], larger[1] / 60),
        "",
        "| files | minimised s | minimised ms per file | floor s | floor ms per file | "
        "overhead per file ms | peak memory MiB |",
        "|---|---|---|---|---|---|---|",
    ]
    for (files, minimised, base, peak), vorandel_ms, floor_ms in zip(growth_rows, per_file, floor_per_file):
        lines.append("| %d | %.1f | %.2f | %.1f | %.2f | %.2f | %.0f |" % (
            files, minimised, vorandel_ms, base, floor_ms, vorandel_ms - floor_ms, peak / mib))
    lines += [
        "",
        "Time per file at %d files against %d (the mean of the two runs around it): %.3f "
        "minimised, %.3f for the floor. Peak memory grows by %.2f KiB a file." % (
            larger[0], smaller[0], growth_ratio, floor_ratio, per_file_memory),
        "",
        "![time against file count](performance.png)",
        "",
        "## Where the overhead per file goes",
        "",
        "`vorandel_bench profile` runs the real window, minimised, over the %d small files and "
        "notes when the window receives each file's messages (means, so that the parts add up "
        "to the run's time per file; medians over the repetitions):" % SMALL_COUNTS[0],
        "",
        "| part of a file's time | ms |",
        "|---|---|",
        "| its progress position (PBM_SETPOS) to its log line's first message: output path, "
        "conversion in the worker, two message legs | %.2f |" % convert,
        "| its log line: LB_ADDSTRING to LB_SETTOPINDEX, through LB_GETCOUNT | %.2f |" % log_line,
        "| its last message to the next file's position: the pause, two message legs | %.2f |" % rest,
        "| **a file in the run** | **%.2f** |" % cycle,
        "| the same conversion in one process, right after or before each in the worker "
        "(median) | %.2f |" % here,
        "| the run's 10 ms pause, measured alone | %.2f |" % pause,
        "| handing a file to the codec worker: the worker's conversion minus the one above "
        "(median; middle half of the rounds %.2f to %.2f) | %.2f |" % (handover_low, handover_high, handover),
        "",
        "So of the run's overhead of %.2f ms a file over the codec and a 10 ms pause, the pause "
        "overshoots by %.2f ms, the hand-over takes %.2f ms, and %.2f ms are the messages the "
        "log and the progress bar need and the file's bookkeeping between them. Under Wine "
        "every message between threads goes through the wineserver and wakes a sleeping thread "
        "twice over, which on this virtual machine costs most of that; the run sends exactly "
        "the messages its log and progress bar need." % (
            overhead, pause - 1000 * PAUSE, handover, legs),
        "",
        "## Scan alone (%d entries: folders of 99 files each)" % TREE,
        "",
        "| tool | seconds | entries/s |",
        "|---|---|---|",
        "| FindImageFiles (under Wine) | %.3f | %.0f |" % (scan_vorandel, TREE / scan_vorandel),
        "| find (native) | %.3f | %.0f |" % (scan_find, TREE / scan_find),
        "",
    ]
    with open(os.path.join(docs, "performance.md"), "w") as f:
        f.write("\n".join(lines))
    log("wrote docs/performance.md and docs/performance.png")


if __name__ == "__main__":
    main()
