"""Fixtures of the module's tests: the built tool and the source tree."""

import os
import pathlib

import pytest


@pytest.fixture
def tool():
    """The built tarvel binary (CTest passes it in TARVEL_BINARY)."""
    path = os.environ.get("TARVEL_BINARY")
    if not path:
        pytest.fail("TARVEL_BINARY is not set: run the tests through ctest")
    return path


@pytest.fixture
def source_dir():
    return pathlib.Path(os.environ.get("TARVEL_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
