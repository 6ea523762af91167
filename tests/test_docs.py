"""The documentation: concept texts shared with ``parsimetrics explain``."""

import importlib

import pytest

import parsimetrics_tools
from parsimetrics_tools import explain


@pytest.mark.parametrize("topic", explain.TOPICS, ids=explain.TOPIC_KEYS)
def test_explain_topic_prints_its_page_and_names_real_functions(topic, capsys):
    assert parsimetrics_tools.main(["explain", topic.key]) == 0
    out = capsys.readouterr().out
    assert out.startswith(topic.title) and all(r[:40] in out.replace("\n    ", " ") for r in topic.references)
    assert all(f.text in out for f in topic.body if isinstance(f, explain.Formula))
    for name in topic.functions:
        module, _, attr = name.rpartition(".")
        assert hasattr(importlib.import_module(module), attr), name
