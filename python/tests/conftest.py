"""Shared by the tests: which intset they test, and the data they draw."""

import os
import random
from pathlib import Path

import pytest

import intset

REPOSITORY = Path(__file__).resolve().parents[2]
LOWEST, HIGHEST = -(2**31), 2**31 - 1


def pytest_report_header(config):
    return f"intset from {os.path.dirname(intset.__file__)}"


def pytest_configure(config):
    # ctest and .ci/run say which copy of the package is meant (the build folder's, or an installed one);
    # testing another one by accident, such as the source folder's, would prove nothing.
    expected = os.environ.get("NUMBRELLE_INTSET_UNDER")
    if expected:
        found = Path(intset.__file__).resolve().parent
        assert found == Path(expected).resolve(), f"testing intset from {found}, not {expected}"


def random_values(rng, n):
    """n ints from everywhere in the range, crowded at both of its ends and around 0."""
    pools = [(LOWEST, LOWEST + 600), (-600, 600), (HIGHEST - 600, HIGHEST), (LOWEST, HIGHEST)]
    return [rng.randint(*rng.choice(pools)) for _ in range(n)]


@pytest.fixture
def rng():
    return random.Random(19)
