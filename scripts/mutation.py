"""Mutation testing of the C++ core: a fixed, seeded sample of universalmutator mutants.

    python scripts/mutation.py [--jobs N] [--only PATH...] [--list]

Each mutant of src/fhr_core is built in a scratch copy of the tree (the static core, the
Python module and the GoogleTest binary) and run against the fast suites: the regression
corpus and the golden reports (pytest, through the freshly built module) and the C++ unit
tests. The first failing suite kills the mutant. A mutant whose object file is byte-identical
to the unmutated one is equivalent by construction and is left out of the score; a mutant that
does not compile is not counted either. Results go to build/mutation/cpp-results.tsv; the last
lines printed are the totals. The sample depends only on SEED, SAMPLE_SIZE, the sources and the
universalmutator version, so a rerun on the same sources tests exactly the same mutants.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import hashlib
import os
import pathlib
import random
import shutil
import subprocess
import sys
import threading
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
WORK = REPO / "build" / "mutation"
SEED = 20261206
SAMPLE_SIZE = 320
# Every translation unit of the core, plus the headers that carry logic of their own.
LOGIC_HEADERS = ("src/fhr_core/time/instant.hpp", "src/fhr_core/model/compact.hpp")
TIMEOUT_FACTOR = 5
FAST_PYTEST = ("test_regression.py", "test_golden.py")


def sources() -> list[str]:
    files = subprocess.run(["git", "ls-files", "src/fhr_core/*.cpp"], cwd=REPO, check=True,
                           capture_output=True, text=True).stdout.split()
    return sorted(files) + list(LOGIC_HEADERS)


def code_lines(path: pathlib.Path) -> int:
    return sum(1 for line in path.read_text().splitlines() if line.strip() and not line.strip().startswith("//"))


def generate(relpath: str) -> list[pathlib.Path]:
    """All universalmutator mutants of one file (generated once, cached by content)."""
    source = REPO / relpath
    digest = hashlib.sha256(source.read_bytes()).hexdigest()[:16]
    folder = WORK / "generated" / relpath.replace("/", "__") / digest
    if not (folder / "done").exists():
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        subprocess.run([shutil.which("mutate") or str(pathlib.Path(sys.executable).parent / "mutate"),
                        str(source), "cpp", "--noCheck", "--mutantDir", str(folder)],
                       check=True, capture_output=True)
        (folder / "done").touch()
    mutants = [p for p in folder.iterdir() if ".mutant." in p.name]
    return sorted(mutants, key=lambda p: int(p.name.split(".mutant.")[1].split(".")[0]))


def compiles(relpath: str, mutant: pathlib.Path) -> bool:
    """Whether the mutated file still compiles (syntax and types), cached by the mutant's bytes."""
    key = hashlib.sha256(relpath.encode() + mutant.read_bytes()).hexdigest()[:24]
    cache = WORK / "compiles" / key
    if cache.exists():
        return cache.read_text() == "yes"
    source = mutant.read_text()
    check = subprocess.run([os.environ.get("CXX", "c++"), "-std=c++20", "-fsyntax-only", "-x", "c++",
                            f"-I{REPO / 'src'}", f"-iquote{(REPO / relpath).parent}", "-"],
                           input=source, capture_output=True, text=True)
    cache.parent.mkdir(parents=True, exist_ok=True)
    cache.write_text("yes" if check.returncode == 0 else "no")
    return check.returncode == 0


def sample() -> list[tuple[str, pathlib.Path]]:
    """SAMPLE_SIZE compiling mutants spread over every file in proportion to its code lines
    (at least 3 each): each file's mutants in a seeded order, the first ones that compile."""
    files = sources()
    weights = {f: code_lines(REPO / f) for f in files}
    total = sum(weights.values())

    def pick(relpath: str) -> list[tuple[str, pathlib.Path]]:
        mutants = generate(relpath)
        quota = max(3, round(SAMPLE_SIZE * weights[relpath] / total))
        order = list(range(len(mutants)))
        random.Random(f"{SEED}:{relpath}").shuffle(order)
        chosen = []
        for index in order:
            if len(chosen) == quota:
                break
            if compiles(relpath, mutants[index]):
                chosen.append(index)
        return [(relpath, mutants[i]) for i in sorted(chosen)]

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        return [item for picked in pool.map(pick, files) for item in picked]


def fingerprint() -> str:
    """The state of everything a mutant's outcome depends on: the sources and the fast suites."""
    files = subprocess.run(["git", "ls-files", "CMakeLists.txt", "src", "tests", "python"], cwd=REPO, check=True,
                           capture_output=True, text=True).stdout.split()
    digest = hashlib.sha256()
    for relpath in files:
        digest.update(relpath.encode() + b"\0" + (REPO / relpath).read_bytes())
    return digest.hexdigest()[:16]


def changed_line(relpath: str, mutant: pathlib.Path) -> str:
    original = (REPO / relpath).read_text().splitlines()
    mutated = mutant.read_text().splitlines()
    for number, (a, b) in enumerate(zip(original, mutated), start=1):
        if a != b:
            return f"{number}: {a.strip()}  =>  {b.strip()}"
    return "?"


class Worker:
    """A scratch copy of the tree with its own build folder and importable package."""

    def __init__(self, index: int):
        self.root = WORK / f"worker-{index}"
        self.tree = self.root / "tree"
        self.build = self.root / "build"
        self.package = self.root / "python" / "corvane"
        self.current: str | None = None

    def prepare(self) -> None:
        files = subprocess.run(["git", "ls-files", "CMakeLists.txt", "src", "tests/cpp", "tests/data"], cwd=REPO,
                               check=True, capture_output=True, text=True).stdout.split()
        for relpath in files:
            target = self.tree / relpath
            target.parent.mkdir(parents=True, exist_ok=True)
            if not target.exists() or target.read_bytes() != (REPO / relpath).read_bytes():
                shutil.copyfile(REPO / relpath, target)  # a fresh mtime, so the build sees the change
        subprocess.run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1",
                        "-DCORVANE_BUILD_TESTS=ON", "-DCORVANE_BUILD_MODULE=ON",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True, capture_output=True)
        self.compile()
        shutil.rmtree(self.package, ignore_errors=True)
        self.package.mkdir(parents=True)
        for entry in (REPO / "python" / "corvane").iterdir():
            if not entry.name.startswith("_native") and entry.name != "__pycache__":
                (self.package / entry.name).symlink_to(entry)
        module = next(self.build.glob("_native*.so"))
        (self.package / module.name).symlink_to(module)

    def compile(self, target: str = "all") -> bool:
        return subprocess.run(["ninja", "-C", str(self.build), "-j1", target], capture_output=True).returncode == 0

    def object_file(self, relpath: str) -> pathlib.Path | None:
        found = list(self.build.glob(f"CMakeFiles/fhr_core.dir/{relpath}.o"))
        return found[0] if found else None

    def restore(self) -> None:
        if self.current:
            shutil.copyfile(REPO / self.current, self.tree / self.current)
            self.current = None

    def run(self, relpath: str, mutant: pathlib.Path, original_objects: dict, timeouts: dict) -> str:
        if self.current != relpath:
            self.restore()
        self.current = relpath
        shutil.copyfile(mutant, self.tree / relpath)
        if not self.compile("_native"):
            return "not built"
        obj = self.object_file(relpath)
        if obj and original_objects.get(relpath) == hashlib.sha256(obj.read_bytes()).hexdigest():
            return "equivalent (same object code)"
        for name, command in self.suites():
            if name == "unit tests" and not self.compile("fhr_core_tests"):
                return "not built"
            try:
                result = subprocess.run(command, cwd=REPO / "tests", capture_output=True,
                                        timeout=timeouts[name], env=self.environment())
            except subprocess.TimeoutExpired:
                return "timed out"
            if result.returncode != 0:
                return f"killed ({name})"
        return "survived"

    def suites(self) -> list[tuple[str, list[str]]]:
        return [("regression+golden", [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                                       *FAST_PYTEST]),
                ("unit tests", [str(self.build / "fhr_core_tests"), "--gtest_brief=1", "--gtest_fail_fast"])]

    def environment(self) -> dict:
        return {**os.environ, "PYTHONPATH": str(self.package.parent), "PYTHONDONTWRITEBYTECODE": "1"}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", nargs="*", help="run only the sampled mutants of these files")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--retest", metavar="TSV", type=pathlib.Path,
                        help="keep a results table's outcomes and rerun only its survivors (after adding tests)")
    args = parser.parse_args()

    if not (shutil.which("mutate") or (pathlib.Path(sys.executable).parent / "mutate").exists()):
        sys.exit("mutation.py: universalmutator's `mutate` is missing; scripts/mutation.sh installs it")
    chosen = sample()
    if args.only:
        chosen = [item for item in chosen if item[0] in args.only]
    kept = {}
    if args.retest:
        for row in args.retest.read_text().splitlines():
            name, outcome, line = row.split("\t", 2)
            if outcome != "survived":
                kept[name] = (name, outcome, line)
        chosen = [item for item in chosen if item[1].name not in kept]
    if args.list:
        for relpath, mutant in chosen:
            print(f"{mutant.name}\t{changed_line(relpath, mutant)}")
        print(f"{len(chosen)} mutants over {len({r for r, _ in chosen})} files")
        return 0

    workers = [Worker(i) for i in range(max(1, args.jobs))]
    for worker in workers:
        worker.prepare()
    first = workers[0]
    original_objects = {r: hashlib.sha256(o.read_bytes()).hexdigest()
                        for r in {r for r, _ in chosen} if (o := first.object_file(r))}
    timeouts = {}
    for name, command in first.suites():
        start = time.perf_counter()
        subprocess.run(command, cwd=REPO / "tests", check=True, capture_output=True, env=first.environment())
        timeouts[name] = max(30.0, TIMEOUT_FACTOR * (time.perf_counter() - start))

    # Mutants of one file stay on one worker, so a file is restored (and rebuilt) once per switch.
    by_file: dict[str, list[pathlib.Path]] = {}
    for relpath, mutant in chosen:
        by_file.setdefault(relpath, []).append(mutant)
    queue = sorted(by_file.items(), key=lambda item: -len(item[1]))
    lock = threading.Lock()
    results: list[tuple[str, str, str]] = []
    # Outcomes are appended as they come, so an interrupted run resumes where it stopped
    # (the table is dropped when the sources or the tests change: see fingerprint()).
    partial = WORK / f"cpp-partial-{fingerprint()}.tsv"
    done = {}
    if partial.exists():
        for row in partial.read_text().splitlines():
            name, outcome, line = row.split("\t", 2)
            done[name] = (name, outcome, line)

    def drain(worker: Worker) -> None:
        while True:
            with lock:
                if not queue:
                    break
                relpath, mutants = queue.pop(0)
            for mutant in mutants:
                if mutant.name in done:
                    with lock:
                        results.append(done[mutant.name])
                    continue
                outcome = worker.run(relpath, mutant, original_objects, timeouts)
                with lock:
                    results.append((mutant.name, outcome, changed_line(relpath, mutant)))
                    with partial.open("a") as table:
                        table.write("\t".join(results[-1]) + "\n")
                    print(f"[{len(results)}/{len(chosen)}] {mutant.name}: {outcome}", flush=True)
        worker.restore()
        worker.compile()

    with concurrent.futures.ThreadPoolExecutor(len(workers)) as pool:
        list(pool.map(drain, workers))

    results = sorted(results + list(kept.values()))
    (WORK / "cpp-results.tsv").write_text("".join(f"{n}\t{o}\t{line}\n" for n, o, line in results))
    counts = {key: sum(1 for _, o, _ in results if o.startswith(key))
              for key in ("killed", "survived", "timed out", "equivalent", "not built")}
    scored = counts["killed"] + counts["survived"] + counts["timed out"]
    print("survivors:")
    for name, outcome, line in results:
        if outcome == "survived":
            print(f"  {name}  {line}")
    print(f"C++ mutants: {len(results)} sampled, {counts['not built']} not built, "
          f"{counts['equivalent']} equivalent (same object code)")
    print(f"C++ killed {counts['killed']} / survived {counts['survived']} / timed out {counts['timed out']}"
          f"  (score {counts['killed'] + counts['timed out']}/{scored})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
