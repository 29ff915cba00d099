"""A second, unprivileged account, for tests that prove another user on the
machine cannot interfere with a program (its locks, the files beside its
logs). Created once with useradd; its commands run through setpriv. A test
that cannot have one is skipped with the reason."""
import os
import pwd
import shutil
import subprocess

NAME = "qlxother"


def second_user(name=NAME):
    """(uid, gid) of the account, made when missing; skips without root."""
    import pytest
    if os.geteuid() != 0:
        pytest.skip("acting as a second user needs root (useradd, setpriv)")
    for tool in ("useradd", "setpriv"):
        if shutil.which(tool) is None:
            pytest.skip(f"acting as a second user needs {tool}")
    try:
        entry = pwd.getpwnam(name)
    except KeyError:
        made = subprocess.run(["useradd", "-M", "-N", "-s", "/usr/sbin/nologin", name],
                              capture_output=True, text=True)
        if made.returncode != 0:
            pytest.skip(f"cannot create a second user: {made.stderr.strip()}")
        entry = pwd.getpwnam(name)
    return entry.pw_uid, entry.pw_gid


def as_user(user, argv):
    """The command line that runs `argv` (absolute paths) as `user`."""
    uid, gid = user
    return ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", *map(str, argv)]


def run_as(user, argv, **options):
    return subprocess.run(as_user(user, argv), capture_output=True, timeout=60, **options)


def popen_as(user, argv, **options):
    return subprocess.Popen(as_user(user, argv), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, **options)
