"""The examples in the README run and give what it shows."""

import doctest
from pathlib import Path

import pytest

import pelm

README = Path(__file__).resolve().parent.parent / "README.md"


@pytest.mark.skipif(not README.exists(), reason="needs the source tree")
def test_readme_examples():
    # A code fence ends an example's expected output.
    text = "\n".join(
        "" if line.startswith("```") else line
        for line in README.read_text(encoding="utf-8").splitlines()
    )
    test = doctest.DocTestParser().get_doctest(text, {"pelm": pelm}, "README", str(README), 0)
    assert test.examples, "the README has examples"
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0
