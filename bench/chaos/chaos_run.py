#!/usr/bin/env python3
"""make chaos: the chaos driver of tests/chaos for many trials (default 1,000), with a tally per
fault kind at the end. Arguments as tests/chaos/chaos.py (--trials, --seed, --workdir, ...)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "chaos"))
import chaos  # noqa: E402

if __name__ == "__main__":
    sys.exit(chaos.main(trials=1000))
