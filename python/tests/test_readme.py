"""The Python example of README.md runs as shown."""

import contextlib
import io
import os
import re
import unittest

from .support import ROOT, library


class ReadmeTest(unittest.TestCase):
    def test_python_example_runs_and_prints_the_rejection(self):
        library()
        text = (ROOT / "README.md").read_text()
        blocks = re.findall(r"^```python\n(.*?)^```$", text, re.S | re.M)
        self.assertEqual(len(blocks), 1)
        out = io.StringIO()
        cwd = os.getcwd()
        try:
            os.chdir(ROOT)
            with contextlib.redirect_stdout(out):
                exec(compile(blocks[0], "README.md", "exec"), {})
        finally:
            os.chdir(cwd)
        self.assertEqual(out.getvalue(),
                         "rejected: root mismatch: recomputed root does not match the expected root\n")


if __name__ == "__main__":
    unittest.main()
