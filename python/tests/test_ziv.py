# The ziv module against camsim processes: arrays, geometry, the stream,
# every failure's exception, and waits that let other threads run.
import socket
import threading
import time

import numpy as np
import pytest

import ziv


@pytest.mark.parametrize("x, y, dx, dy, incrx, incry, delivered", [
    (0, 0, 200, 150, 1, 1, (0, 0, 200, 150)),
    (3, 5, 101, 77, 3, 5, (3, 5, 101, 77)),
    (190, 140, 40, 40, 1, 2, (190, 140, 10, 10)),   # clipped to the sensor
    (-5, 0, 20, 3, 1, 1, (0, 0, 15, 3)),
])
def test_grab_and_stream_give_the_window_of_the_picture(camsim, picture, x, y, dx, dy, incrx, incry, delivered):
    pixels, _ = picture
    cam = ziv.Camera("127.0.0.1", camsim().port, timeout=5)
    X, Y, DX, DY = delivered
    expected = pixels[Y:Y + DY:incry, X:X + DX:incrx]
    window = dict(x=x, y=y, dx=dx, dy=dy, incrx=incrx, incry=incry)

    a = cam.grab(**window)
    assert a.dtype == np.uint8 and a.shape == expected.shape and a.flags.owndata
    np.testing.assert_array_equal(a, expected)
    g = cam.last_geometry
    assert (g.x, g.y, g.dx, g.dy, g.incrx, g.incry) == (X, Y, DX, DY, incrx, incry)
    assert (g.rows, g.width, g.stride) == (*expected.shape, expected.shape[1])

    images = list(cam.stream(**window, count=5))
    assert len(images) == 5
    assert len({im.ctypes.data for im in images}) == 5  # each image an array of its own
    for im in images:
        np.testing.assert_array_equal(im, expected)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("options, error", [
    (None, ziv.ConnectError),
    (["--close-after", "0"], ziv.ConnectionClosedError),
    (["--close-after", "1000"], ziv.ShortReplyError),
    (["--wrong-length", "-1"], ziv.BadHeaderError),
    (["--wrong-length", str(2**31 - 1 - 28 - 64 * 48)], ziv.BadHeaderError),
    (["--delay", "3000"], ziv.TimeoutError),
])
@pytest.mark.parametrize("live", [False, True])
def test_failures_raise_their_error(camsim, options, error, live):
    port = free_port() if options is None else camsim(*options).port
    cam = ziv.Camera("127.0.0.1", port, timeout=0.3)
    start = time.monotonic()
    with pytest.raises(error) as caught:
        if live:
            next(iter(cam.stream(dx=64, dy=48)))
        else:
            cam.grab(dx=64, dy=48)
    assert isinstance(caught.value, ziv.Error) and str(caught.value)
    assert time.monotonic() - start < 2


def test_cancel_from_another_thread(camsim):
    cam = ziv.Camera("127.0.0.1", camsim("--delay", "5000").port, timeout=10)
    threading.Timer(0.2, cam.cancel).start()
    start = time.monotonic()
    with pytest.raises(ziv.CancelledError):
        cam.grab(dx=8, dy=8)
    assert time.monotonic() - start < 2


def test_two_cameras_in_threads_wait_side_by_side(camsim):
    # Each reply is delayed: the time goes into waiting, which must not hold the lock.
    cams = [ziv.Camera("127.0.0.1", camsim("--delay", "150").port) for _ in range(2)]

    def work(cam):
        for a in cam.stream(dx=200, dy=150, count=4):
            assert a.shape == (150, 200)

    start = time.monotonic()
    work(cams[0])
    alone = time.monotonic() - start
    threads = [threading.Thread(target=work, args=(c,)) for c in cams]
    start = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    together = time.monotonic() - start
    assert together < 1.8 * alone, (alone, together)
