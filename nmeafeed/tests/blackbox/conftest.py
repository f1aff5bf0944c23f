import os

import pytest


@pytest.fixture(autouse=True)
def private_ipc():
    # Every test here creates or reads the NTP segment: never the host's.
    if os.environ.get("KX_PRIVATE_IPC") != "1":
        pytest.fail("run under `unshare --ipc` with KX_PRIVATE_IPC=1 (ctest does)")
    import nmeafeed_harness
    nmeafeed_harness.shm_remove()
    yield
    nmeafeed_harness.shm_remove()
