"""The Python guide's example prints what the guide says it prints."""

import re
import subprocess
import sys

from conftest import REPOSITORY


def test_python_guide_example_prints_what_the_guide_shows():
    guide = (REPOSITORY / "docs" / "python.md").read_text(encoding="utf-8")
    section = guide.split("\n## An example\n", 1)[1].split("\n## ", 1)[0]
    code, printed = re.search(r"```python\n(.*?)```\n.*?```text\n(.*?)```", section, re.S).groups()
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout == printed
