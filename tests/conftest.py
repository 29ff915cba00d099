import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))


import os

import pytest


@pytest.fixture(scope="session", autouse=True)
def user_cache(tmp_path_factory):
    """Programs on HotSpot keep class-data archives in the user's cache: the
    suites' programs keep theirs in a folder of the session's own."""
    folder = tmp_path_factory.mktemp("user-cache")
    before = os.environ.get("XDG_CACHE_HOME")
    os.environ["XDG_CACHE_HOME"] = str(folder)
    yield folder
    if before is None:
        os.environ.pop("XDG_CACHE_HOME", None)
    else:
        os.environ["XDG_CACHE_HOME"] = before
