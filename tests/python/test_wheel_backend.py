"""The build backend of `pip install .` (packaging/python/tarvel_build.py):
the version, the tag and the wheel it packs. CI builds and installs a real
wheel with pip; these check what pip takes on trust."""

import base64
import hashlib
import importlib.util
import os
import pathlib
import shutil
import zipfile

import pytest

import tarvel


@pytest.fixture(scope="module")
def backend():
    source = pathlib.Path(os.environ.get("TARVEL_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
    spec = importlib.util.spec_from_file_location("tarvel_build",
                                                  source / "packaging/python/tarvel_build.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_the_wheel_has_the_version_of_the_module(backend):
    assert backend.Project(backend.SOURCE_DIR).version == tarvel.__version__


VERSIONS = [
    ("project(tarvel VERSION 1.1.0 LANGUAGES CXX)", "1.1.0"),
    ("cmake_minimum_required(VERSION 3.25)\n  project( tarvel VERSION 2.10 )", "2.10"),
]


@pytest.mark.parametrize("text, version", VERSIONS)
def test_version_from_cmake_lists(backend, text, version):
    assert backend.cmake_project_version(text) == version


@pytest.mark.parametrize("text", ["project(tarvel LANGUAGES CXX)", "project(other VERSION 1.0)"])
def test_no_version_is_refused(backend, text):
    with pytest.raises(RuntimeError, match="no project"):
        backend.cmake_project_version(text)


def test_pip_installs_the_tag_on_this_interpreter(backend):
    tags = pytest.importorskip("pip._vendor.packaging.tags", reason="pip's tag rules")
    assert backend.wheel_tag() in {str(t) for t in tags.sys_tags()}


@pytest.fixture
def built(backend, tmp_path):
    """A build folder as CMake leaves it, with a stand-in for the extension."""
    built = tmp_path / "build" / backend.PACKAGE_DIR
    shutil.copytree(backend.SOURCE_DIR / backend.PACKAGE_DIR, built,
                    ignore=shutil.ignore_patterns("__pycache__"))
    (built / backend.extension_name()).write_bytes(b"\x7fELF stand-in")
    (built / backend.extension_name()).chmod(0o755)
    return tmp_path / "build"


def test_the_wheel_holds_the_package_and_its_record(backend, built, tmp_path):
    project = backend.Project(backend.SOURCE_DIR)
    files = backend.package_files(backend.SOURCE_DIR, built)
    name = backend.pack_wheel(project, files, tmp_path, "cp311-cp311-linux_x86_64")
    assert name == f"tarvel-{tarvel.__version__}-cp311-cp311-linux_x86_64.whl"
    dist_info = f"tarvel-{tarvel.__version__}.dist-info"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        names = wheel.namelist()
        for wanted in ("__init__.py", "__init__.pyi", "py.typed", "dask.py", backend.extension_name()):
            assert f"tarvel/{wanted}" in names
        assert wheel.getinfo(f"tarvel/{backend.extension_name()}").external_attr >> 16 == 0o100755
        record = wheel.read(f"{dist_info}/RECORD").decode().splitlines()
        assert sorted(line.split(",")[0] for line in record) == sorted(names)
        for line in record:
            path, digest, size = line.split(",")
            if path == f"{dist_info}/RECORD":
                assert digest == size == ""
                continue
            data = wheel.read(path)
            assert digest == "sha256=" + base64.urlsafe_b64encode(
                hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert int(size) == len(data)
        metadata = wheel.read(f"{dist_info}/METADATA").decode()
        wheel_file = wheel.read(f"{dist_info}/WHEEL").decode()
    headers = metadata.split("\n\n", 1)[0].splitlines()
    assert f"Version: {tarvel.__version__}" in headers
    assert "Requires-Dist: numpy" in headers
    assert 'Requires-Dist: distributed; extra == "dask"' in headers
    assert "Provides-Extra: dask" in headers
    assert "Root-Is-Purelib: false" in wheel_file.splitlines()
    assert "Tag: cp311-cp311-linux_x86_64" in wheel_file.splitlines()


def test_a_build_without_the_extension_is_refused(backend, built):
    (built / backend.PACKAGE_DIR / backend.extension_name()).unlink()
    with pytest.raises(RuntimeError, match="the build left no .*_tarvel"):
        backend.package_files(backend.SOURCE_DIR, built)
