"""The Python guide's example, and the README's taste of Python, print what they say they print."""

import re
import subprocess
import sys

from conftest import REPOSITORY


def assert_prints(code, printed):
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout == printed


def test_python_guide_example_prints_what_the_guide_shows():
    guide = (REPOSITORY / "docs" / "python.md").read_text(encoding="utf-8")
    section = guide.split("\n## An example\n", 1)[1].split("\n## ", 1)[0]
    code, printed = re.search(r"```python\n(.*?)```\n.*?```text\n(.*?)```", section, re.S).groups()
    assert_prints(code, printed)


def test_readme_taste_prints_what_it_says():
    readme = (REPOSITORY / "README.md").read_text(encoding="utf-8")
    code = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    assert_prints(code, re.search(r"^# prints: (.*)$", code, re.M).group(1) + "\n")
