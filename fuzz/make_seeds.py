"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/): the heads of the golden recordings, the
JSON error cases (one file per case) and a few hand-written edge cases; files named regress-* are inputs that once
exposed a fault and are left alone. Run `python3 fuzz/make_seeds.py` again after the golden files or the error cases
change."""

import json
import pathlib
import struct

FUZZ_DIR = pathlib.Path(__file__).resolve().parent
REPO_DIR = FUZZ_DIR.parent
GOLDEN_DIR = REPO_DIR / "tests" / "golden"
CORPUS_DIR = FUZZ_DIR / "corpus"

CSV_HEAD_LINES = 40          # reader seeds: the header and a few seconds
PIPELINE_MINUTES = 11        # pipeline seeds: long enough for one 10-minute window
JSON_HEAD_SAMPLES = 40

TIMESTAMPS = [
    "2024-03-10 14:05:09", "2024-03-10T14:05:09", "2024-03-10T14:05:09Z", "  2024-03-10 14:05:09  ",
    "2024-03-10T14:05:09.250Z", "2024-03-10 14:05:09+02:00", "2024-03-10 14:05:09-05:00",
    "2024-03-10 14:05:09+0200", "2024-03-10 14:05:09+02", "2024-03-10 14:05:09+24:00", "2024-03-10 14:05:09+02:60",
    "2024-03-10 14:05:09.5", "2024-03-10 14:05:09.05", "2024-03-10 14:05:09.1239", "2024-03-10 14:05:09.",
    "2024-03-10 14:05:09.12x", "2024-03-10 14:05:09.1x", "2024-03-10t14:05:09", "2024-03-10 14:05:09z",
    "2024-03-10 14:05", "2024-03 14:05:09", "2024-13-01 00:00:00", "2024-01-01 24:00:00", "2023-02-29 00:00:00",
    "2024-02-31 00:00:00", "2024/03/10 14:05:09", "2024-03-10 14:05:09 +02:00", "1970-01-01 00:00:00",
    "1969-12-31 23:59:59", "+2024-+03-+10 +14:+05:+09", "-2147483648-01-01 00:00:00", "2147483647-12-31 23:59:59",
    "292278994-08-17 07:12:55.807", "-292275055-05-16 16:47:04.192", "2024-03-10 14:05:09+-23:-59",
    "2024-03-10 14:05:09-9223372036854775808:00", "2024-03-10\u00a014:05:09", "\u20032024-03-10 14:05:09\u3000",
    "2024-03-10 14:05:09ZZZ", "\"2024-03-10 14:05:09\"", "", " ",
]

CSV_EXTRA = [
    "", "Date\n",
    "date , hr1,TOCO\r\n2024-03-10 14:05:09,140,,abc\r\n",
    "Date,HR1,HR2,HR3,TOCO\n2024-03-10 14:05:09,140,,abc\n\n2024-03-10 14:05:08,nan,inf,-1,0\n",
    "\ufeffDate,HR1\n2024-03-10 14:05:09,140\n",
    "HR1,Date\n150\n",
    "Date,HR1\n\n \n\"2024-03-10 14:05:09\",1\n",
    "Date,HR1,HR1,Date\n2024-03-10 14:05:09,1e400,2,x\n2024-03-10 14:05:09,-0,.5,\n2024-03-10 14:05:10,5.,+1E-3\r",
    "Date,HR1,HRM,TOCO\n2024-03-10 14:05:05,140,80,10\n2024-03-10 14:05:01,141,80,10\n"
    "2024-03-10 14:05:02,142,80,10\n2024-03-10 14:05:03,143,80,10\n",
]

JSON_EXTRA = [
    '{"episode_id":"e","sent_at":"s","samples":[{"t":"2024-05-01T09:59:00Z","hr1":140}]}',
    '["e","s",[["2024-05-01 09:59:00",140,null,141.5,80,12]],["hr2",20],[39]]',
    '{"episode_id":"e","sent_at":"s","samples":[{"t":"2024-05-01T09:59:01Z"},{"t":"2024-05-01T09:59:00Z"}],'
    '"analysis_options":{"fetal_channel":" hr3 ","max_analysis_minutes":30},"metadata":{"gestational_age_weeks":31},'
    '"extra":[{"a":[1,2,{"b":null}]},"x",-0.5e-3,true,false]}',
]

# Options prefix of the pipeline target (see pipeline_fuzz.cpp).
JSON_PATH, LAST_ONLY, GA, WINDOW, RAW_WINDOW, SHORT_STEP = 1, 2, 4, 8, 16, 32


def pipeline_prefix(flags=0, ga=39, window=0, step=60, channel=b"HR1"):
    return bytes([flags, ga, window]) + struct.pack("<I", step) + bytes([len(channel)]) + channel


def timestamp_text(ms):
    """Milliseconds since 1970 as "YYYY-MM-DD hh:mm:ss.fff", for any year
    (the civil-from-days inverse of the reader's day count)."""
    days, rest = divmod(ms, 86_400_000)
    era, doe = divmod(days + 719_468, 146_097)
    yoe = (doe - doe // 1460 + doe // 36_524 - doe // 146_096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    day = doy - (153 * mp + 2) // 5 + 1
    month = mp + 3 if mp < 10 else mp - 9
    year = yoe + era * 400 + (1 if month <= 2 else 0)
    seconds, millis = divmod(rest, 1000)
    return (f"{year:04d}-{month:02d}-{day:02d} {seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"
            f".{millis:03d}")


def write(target, name, data):
    folder = CORPUS_DIR / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def csv_head(path, lines):
    return "".join(path.read_text(encoding="utf-8").splitlines(keepends=True)[:lines])


def csv_one_hertz_minutes(path, minutes):
    """The first minutes of a 4 Hz golden recording, one row per second."""
    lines = path.read_text(encoding="utf-8").splitlines(keepends=True)
    return lines[0] + "".join(lines[1 : 1 + minutes * 60 * 4 : 4])


def json_head(path, samples):
    request = json.loads(path.read_text(encoding="utf-8"))
    request["samples"] = request["samples"][:samples]
    return json.dumps(request)


def main():
    # Regression seeds (inputs that once exposed a fault) are kept as they are.
    for path in CORPUS_DIR.glob("*/*"):
        if not path.name.startswith("regress-"):
            path.unlink()

    for index, text in enumerate(TIMESTAMPS):
        write("timestamp_fuzz", f"edge-{index:02d}", text)
    for path in sorted(GOLDEN_DIR.glob("*.csv")):
        first_row = path.read_text(encoding="utf-8").splitlines()[1]
        write("timestamp_fuzz", f"golden-{path.stem}", first_row.split(",")[0])

    for path in sorted(GOLDEN_DIR.glob("*.csv")):
        write("csv_reader_fuzz", f"golden-{path.stem}.csv", csv_head(path, CSV_HEAD_LINES))
    for index, text in enumerate(CSV_EXTRA):
        write("csv_reader_fuzz", f"edge-{index:02d}.csv", text)

    cases = (REPO_DIR / "tests" / "data" / "json-error-cases.jsonl").read_text(encoding="utf-8").split("\n")
    for index, line in enumerate(line for line in cases if line):
        write("json_request_fuzz", f"case-{index:03d}.json", json.loads(line)["input"])
    for path in sorted(GOLDEN_DIR.glob("*.json")):
        if path.name.endswith(".report.json") or path.name == "cases.json":
            continue
        write("json_request_fuzz", f"golden-{path.stem}.json", json_head(path, JSON_HEAD_SAMPLES))
    for index, text in enumerate(JSON_EXTRA):
        write("json_request_fuzz", f"edge-{index:02d}.json", text)

    golden = sorted(GOLDEN_DIR.glob("*.csv"))
    for index, path in enumerate(golden):
        text = csv_one_hertz_minutes(path, PIPELINE_MINUTES).encode("utf-8")
        flags = [0, WINDOW | SHORT_STEP, WINDOW | SHORT_STEP | LAST_ONLY | GA][index % 3]
        step = [60, 30, 0, 120][index % 4]
        write("pipeline_fuzz", f"golden-{path.stem}", pipeline_prefix(flags, 31 + index, index, step) + text)
    short = csv_head(golden[0], 60).encode("utf-8")
    write("pipeline_fuzz", "edge-rolling-step0", pipeline_prefix(WINDOW, step=0) + short)
    write("pipeline_fuzz", "edge-bad-window", pipeline_prefix(WINDOW | RAW_WINDOW, window=9) + short)
    write("pipeline_fuzz", "edge-bad-channel", pipeline_prefix(0, channel=b" hr4") + short)
    write("pipeline_fuzz", "edge-channel-hr2", pipeline_prefix(GA, ga=255, channel=b"\thr2 ") + short)
    write("pipeline_fuzz", "edge-huge-step", pipeline_prefix(WINDOW, step=0xFFFFFFFF) + short)
    write("pipeline_fuzz", "edge-mistyped-year",
          pipeline_prefix(WINDOW, step=1) + b"Date,HR1\n2024-01-01 00:00:00,140\n2042-01-01 00:00:00,140\n")
    # The same minutes of signal at the two ends of the instants a text can
    # name: the last minute before the 64-bit limit, and the first of year 0.
    eventful = GOLDEN_DIR / "recurrent_late_30min.csv"
    signal = [row.split(",", 1)[1] for row in csv_one_hertz_minutes(eventful, 11).splitlines()[1:]]
    for name, first_ms, flags, step in (
        ("edge-int64-end", 9_223_372_036_854_775_807 - (len(signal) - 1) * 1000, WINDOW | SHORT_STEP, 1),
        ("edge-year-zero", -62_167_219_200_000, WINDOW | SHORT_STEP | LAST_ONLY, 7),
    ):
        rows = "".join(f"{timestamp_text(first_ms + index * 1000)},{values}\n" for index, values in enumerate(signal))
        write("pipeline_fuzz", name, pipeline_prefix(flags, step=step) + ("Date,HR1,HRM,TOCO\n" + rows).encode())
    for path in sorted(GOLDEN_DIR.glob("*_json.json")):
        write("pipeline_fuzz", f"golden-{path.stem}", pipeline_prefix(JSON_PATH) + json_head(path, 700).encode())
    for index, text in enumerate(JSON_EXTRA):
        write("pipeline_fuzz", f"edge-json-{index:02d}", pipeline_prefix(JSON_PATH) + text.encode("utf-8"))


if __name__ == "__main__":
    main()
