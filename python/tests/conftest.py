# Fixtures for the ziv module's tests: camsim processes on 127.0.0.1 (a port
# of the system's choosing) serving a known still picture.
import os
import subprocess

import numpy as np
import pytest


@pytest.fixture(scope="session")
def picture(tmp_path_factory):
    """A 200x150 grey picture with a value that differs from pixel to pixel, and its PGM file."""
    rows, cols = np.mgrid[0:150, 0:200]
    pixels = ((rows * 7 + cols * 13 + (rows * cols) % 17) % 256).astype(np.uint8)
    path = tmp_path_factory.mktemp("picture") / "picture.pgm"
    path.write_bytes(b"P5 200 150 255\n" + pixels.tobytes())
    return pixels, str(path)


class Camsim:
    def __init__(self, *args):
        self.process = subprocess.Popen([os.environ["ZIV_CAMSIM"], "--port", "0", *args],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        assert line.startswith("listening on "), line
        self.port = int(line.rsplit(":", 1)[1])

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def camsim(picture):
    """Starts camsim serving the picture, with the extra options given: camsim(*options).port"""
    started = []

    def start(*options):
        sim = Camsim("--image", picture[1], *options)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.close()
