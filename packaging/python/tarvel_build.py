"""The build backend of `pip install .` and `pip wheel .` (PEP 517).

It needs nothing from an index: CMake builds the module's target for the
interpreter that runs the backend, wherever that interpreter's headers,
pybind11's CMake package and a C++20 compiler are found (Debian:
python3-dev, pybind11-dev, g++, cmake), and the wheel is packed here by hand.
The version is the one set in the top CMakeLists.txt; the rest of the
metadata is pyproject.toml's [project] table.

config_settings: "build-dir" keeps CMake's build folder there (relative to
the source tree) so that the next build only recompiles what changed;
without it a temporary folder is used and removed.
"""

import base64
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
import tomllib
import zipfile

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
# What the package is made of, beside the compiled extension: every file of
# the package folder, as CMake's build folder holds it.
# (CMake lays the package out in the build folder as in the source tree.)
PACKAGE_DIR = pathlib.Path("src/python/tarvel")


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = Project(SOURCE_DIR)
    dist_info = pathlib.Path(metadata_directory) / project.dist_info
    dist_info.mkdir(parents=True, exist_ok=True)
    for name, text in project.metadata_files(wheel_tag()).items():
        (dist_info / name).write_text(text, encoding="utf-8")
    return project.dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = Project(SOURCE_DIR)
    kept = (config_settings or {}).get("build-dir")
    if kept:
        build_dir = SOURCE_DIR / kept
        build_dir.mkdir(parents=True, exist_ok=True)
        return _build_and_pack(project, build_dir, pathlib.Path(wheel_directory))
    with tempfile.TemporaryDirectory(prefix="tarvel-wheel-") as temporary:
        return _build_and_pack(project, pathlib.Path(temporary), pathlib.Path(wheel_directory))


def _build_and_pack(project, build_dir, wheel_directory):
    run_cmake(SOURCE_DIR, build_dir)
    files = package_files(SOURCE_DIR, build_dir)
    wheel_directory.mkdir(parents=True, exist_ok=True)
    return pack_wheel(project, files, wheel_directory, wheel_tag())


class Project:
    """The name, version and metadata of the distribution."""

    def __init__(self, source_dir):
        source_dir = pathlib.Path(source_dir)
        with open(source_dir / "pyproject.toml", "rb") as f:
            self.table = tomllib.load(f)["project"]
        self.name = self.table["name"]
        self.version = cmake_project_version((source_dir / "CMakeLists.txt").read_text())
        self.readme = (source_dir / self.table["readme"]).read_text(encoding="utf-8")
        self.license = (source_dir / self.table["license"]["file"]).read_text(encoding="utf-8")
        self.dist_info = f"{self.name}-{self.version}.dist-info"

    def metadata(self):
        """METADATA (core metadata 2.1) from [project]."""
        t = self.table
        lines = ["Metadata-Version: 2.1", f"Name: {self.name}", f"Version: {self.version}",
                 f"Summary: {t['description']}", f"Requires-Python: {t['requires-python']}"]
        lines += [f"Project-URL: {name}, {url}" for name, url in t.get("urls", {}).items()]
        lines += [f"Classifier: {c}" for c in t.get("classifiers", [])]
        lines += [f"Requires-Dist: {d}" for d in t.get("dependencies", [])]
        for extra, requirements in t.get("optional-dependencies", {}).items():
            lines.append(f"Provides-Extra: {extra}")
            # A requirement with a marker of its own keeps it beside the extra's.
            lines += [f"Requires-Dist: {_with_extra(r, extra)}" for r in requirements]
        lines.append("Description-Content-Type: text/markdown")
        return "\n".join(lines) + "\n\n" + self.readme

    def metadata_files(self, tag):
        wheel = ("Wheel-Version: 1.0\n"
                 f"Generator: tarvel_build {self.version}\n"
                 "Root-Is-Purelib: false\n"
                 f"Tag: {tag}\n")
        return {"METADATA": self.metadata(), "WHEEL": wheel, "LICENSE": self.license}


def _with_extra(requirement, extra):
    name, _, marker = requirement.partition(";")
    marker = marker.strip()
    condition = f'extra == "{extra}"'
    return f"{name.strip()}; ({marker}) and {condition}" if marker else f"{name.strip()}; {condition}"


def cmake_project_version(cmake_lists):
    """x.y.z of `project(tarvel VERSION x.y.z ...)`."""
    found = re.search(r"^\s*project\(\s*tarvel\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", cmake_lists,
                      re.MULTILINE | re.IGNORECASE)
    if not found:
        raise RuntimeError("CMakeLists.txt: no project(tarvel VERSION x.y.z) to take the version from")
    return found.group(1)


def wheel_tag():
    """interpreter-abi-platform of the running interpreter, as pip matches it:
    cp311-cp311-linux_x86_64 for Debian's python3 on amd64."""
    version = f"{sys.version_info[0]}{sys.version_info[1]}"
    if sys.implementation.name == "cpython":
        interpreter = f"cp{version}"
        abi = interpreter + ("d" if sysconfig.get_config_var("Py_DEBUG") else "")
    else:
        # Another implementation's ABI is named by its extension suffix:
        # .pypy39-pp73-x86_64-linux-gnu.so gives pypy39_pp73.
        interpreter = {"pypy": "pp"}.get(sys.implementation.name, sys.implementation.name) + version
        soabi = sysconfig.get_config_var("SOABI") or ""
        abi = "_".join(soabi.split("-")[:2]).replace(".", "_") or "none"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{abi}-{platform}"


def extension_name():
    return "_tarvel" + sysconfig.get_config_var("EXT_SUFFIX")


def run_cmake(source_dir, build_dir):
    """Configures a Release build of the module alone for this interpreter
    and builds it. Raises RuntimeError, naming what is missing, when CMake
    is not found or fails."""
    cmake = shutil.which("cmake")
    if not cmake:
        raise RuntimeError("building tarvel needs CMake 3.25 or later (Debian: cmake), "
                           "a C++20 compiler (g++), pybind11 (pybind11-dev) and the Python "
                           "headers (python3-dev)")
    configure = [cmake, "-S", str(source_dir), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 "-DTARVEL_PYTHON=ON", "-DTARVEL_TESTS=OFF", "-DTARVEL_PYTHON_NUMPY_CHECK=OFF",
                 f"-DPython3_EXECUTABLE={sys.executable}"]
    # CMAKE_BUILD_PARALLEL_LEVEL, when set, is CMake's own say in this.
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    build = [cmake, "--build", str(build_dir), "--target", "tarvel_python", "-j", jobs]
    for command in (configure, build):
        # CMake's output goes to stderr, which pip shows with -v or on failure.
        done = subprocess.run(command, stdout=sys.stderr, stderr=sys.stderr)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed with status {done.returncode}; "
                               "CMake said why above (pip shows it with -v)")


def package_files(source_dir, build_dir):
    """(name in the wheel, file) for every file of the package: each file of
    the package's source folder as CMake copied it, and the extension."""
    built = pathlib.Path(build_dir) / PACKAGE_DIR
    names = sorted(p.name for p in (pathlib.Path(source_dir) / PACKAGE_DIR).iterdir()
                   if p.is_file() and not p.name.endswith(".pyc"))
    names.append(extension_name())
    files = [(f"tarvel/{name}", built / name) for name in names]
    missing = [str(path) for _, path in files if not path.is_file()]
    if missing:
        raise RuntimeError(f"the build left no {', '.join(missing)}")
    return files


def _record_hash(data):
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def _zip_entry(name, mode):
    # One fixed time for every entry (SOURCE_DATE_EPOCH where given), so that
    # the same build gives the same wheel.
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    info = zipfile.ZipInfo(name, date_time=time.gmtime(epoch)[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = (0o100000 | mode) << 16
    return info


def pack_wheel(project, files, wheel_directory, tag):
    """Writes NAME-VERSION-TAG.whl into wheel_directory with `files` (name in
    the wheel, path) and the dist-info, every entry hashed in RECORD;
    returns the wheel's file name."""
    wheel_name = f"{project.name}-{project.version}-{tag}.whl"
    entries = []
    for name, path in files:
        mode = 0o755 if os.access(path, os.X_OK) else 0o644
        entries.append((name, pathlib.Path(path).read_bytes(), mode))
    for name, text in project.metadata_files(tag).items():
        entries.append((f"{project.dist_info}/{name}", text.encode("utf-8"), 0o644))
    record = "".join(f"{name},{_record_hash(data)},{len(data)}\n" for name, data, _ in entries)
    record += f"{project.dist_info}/RECORD,,\n"
    entries.append((f"{project.dist_info}/RECORD", record.encode("utf-8"), 0o644))
    target = pathlib.Path(wheel_directory) / wheel_name
    partial = target.with_name(target.name + ".part")
    with zipfile.ZipFile(partial, "w") as wheel:
        for name, data, mode in entries:
            wheel.writestr(_zip_entry(name, mode), data)
    partial.replace(target)
    return wheel_name
