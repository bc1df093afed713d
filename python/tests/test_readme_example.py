"""The routine functions' example of docs/python.md runs and gives region means."""

import os
import re

import numpy as np


PYTHON_DOC = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "python.md")


def test_readme_example_segments_merges_and_averages():
    text = open(PYTHON_DOC).read()
    section = text[text.index("## Routine functions\n"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    assert len(code.strip().splitlines()) == 6  # the import and five lines
    scope = {}
    exec(compile(code, "python.md", "exec"), scope)
    basins, regions, means = scope["basins"], scope["regions"], scope["means"]
    assert basins.dtype == np.uint32 and regions.shape == basins.shape
    n_regions = regions.max()
    assert regions.min() == 1 and 1 < n_regions < len(np.unique(basins))
    assert means.shape == (3, n_regions)
    assert ((means >= 0) & (means <= 255)).all()
