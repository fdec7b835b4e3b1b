"""What .ci/run hands to the tools it drives, seen through stand-ins for
them on PATH (nothing is installed, mounted or downloaded)."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

CI_RUN = Path(__file__).resolve().parent.parent / ".ci" / "run"

pytestmark = pytest.mark.skipif(
    not CI_RUN.exists() or not shutil.which("bash") or not shutil.which("flock"),
    reason="needs the source tree's .ci/run, bash and flock",
)

# Records its arguments, one a line, and fails, which ends the stage.
FAKE_DEBOOTSTRAP = """#!/bin/sh
for arg in "$@"; do printf '%s\\n' "$arg"; done >>"$DEBOOTSTRAP_ARGS"
echo '--' >>"$DEBOOTSTRAP_ARGS"
exit 1
"""


@pytest.mark.parametrize(
    "mirror",
    [None, "", "http://mirror.invalid/debian"],
    ids=["unset", "empty", "given"],
)
def test_sid_stage_passes_a_mirror_to_debootstrap_only_when_one_is_set(tmp_path, mirror):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    fake = bin_dir / "debootstrap"
    fake.write_text(FAKE_DEBOOTSTRAP)
    fake.chmod(0o755)
    cache = tmp_path / "cache"
    record = tmp_path / "args"
    env = {
        key: value
        for key, value in os.environ.items()
        if not key.startswith("PELM_CI_")
    }
    env.update(
        PATH=f"{bin_dir}{os.pathsep}{env.get('PATH', '')}",
        PELM_CI_CACHE=str(cache),
        DEBOOTSTRAP_ARGS=str(record),
    )
    if mirror is not None:
        env["PELM_CI_MIRROR"] = mirror
    done = subprocess.run(
        ["bash", str(CI_RUN), "sid"],
        env=env,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode != 0, done.stdout + done.stderr
    calls = record.read_text().split("--\n")[:-1]
    assert len(calls) == 2, done.stdout + done.stderr  # the stage tries twice
    chroot = str(cache / "sid-chroot")
    for call in calls:
        args = call.splitlines()
        options = [a for a in args if a.startswith("-")]
        positional = [a for a in args if not a.startswith("-")]
        assert "--variant=minbase" in options
        assert positional == ["sid", chroot] + ([mirror] if mirror else [])
