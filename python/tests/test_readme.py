"""The README's Python example prints what the README says it prints."""

import re
import subprocess
import sys

from conftest import REPOSITORY


def test_readme_example_prints_what_the_readme_shows():
    readme = (REPOSITORY / "README.md").read_text(encoding="utf-8")
    section = readme.split("\n## Use it from Python\n", 1)[1].split("\n## ", 1)[0]
    code, printed = re.search(r"```python\n(.*?)```\n.*?```text\n(.*?)```", section, re.S).groups()
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout == printed
