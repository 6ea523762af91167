"""The documentation site: its build, the docstrings' examples, its links, and a real browser's view of it."""

import base64
import doctest
import fcntl
import importlib
import inspect
import io
import json
import os
import re
import select
import shutil
import subprocess
import sys
import textwrap
import time
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote, urlsplit

import numpy as np
import pytest

import parsimetrics
import parsimetrics_tools
from parsimetrics_tools import explain

ROOT = Path(__file__).resolve().parents[1]
HTML = ROOT / "docs" / "_build" / "html"


@pytest.fixture(scope="session")
def site():
    """The site, built once per session as tools/docs.sh builds it (warnings are errors).

    PARSIMETRICS_DOCS_BUILT=1 checks the site already in docs/_build/html instead.
    """
    if os.environ.get("PARSIMETRICS_DOCS_BUILT") == "1":
        return HTML, 0.0
    start = time.monotonic()
    proc = subprocess.run(["bash", "tools/docs.sh"], cwd=ROOT, capture_output=True, text=True, timeout=900)
    assert proc.returncode == 0, proc.stdout[-5000:] + proc.stderr[-5000:]
    return HTML, time.monotonic() - start


# --------------------------------------------------------------------------
# Docstrings


def _documented_modules():
    """The module and every toolkit module that defines a public name."""
    owners = {getattr(parsimetrics_tools, name).__module__ for name in parsimetrics_tools.__all__
              if hasattr(getattr(parsimetrics_tools, name), "__module__")}
    return ["parsimetrics", *sorted(owners - {"builtins"})]


@pytest.mark.parametrize("name", _documented_modules())
def test_docstring_examples_run(name):
    module = importlib.import_module(name)
    results = doctest.testmod(module, extraglobs={"np": np}, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert results.failed == 0


PUBLIC_FUNCTIONS = [(module.__name__, name) for module in (parsimetrics, parsimetrics_tools)
                    for name in module.__all__ if inspect.isroutine(getattr(module, name))]


@pytest.mark.parametrize("module, name", PUBLIC_FUNCTIONS, ids=[".".join(p) for p in PUBLIC_FUNCTIONS])
def test_public_function_documents_every_section(module, name):
    from numpydoc.docscrape import FunctionDoc

    doc = FunctionDoc(getattr(importlib.import_module(module), name))
    assert [s for s in ("Parameters", "Returns", "Raises", "Notes", "Examples") if not doc[s]] == []
    assert ">>>" in "\n".join(doc["Examples"])


def python_blocks(path):
    """The Python code blocks of a reST or Markdown page."""
    text = path.read_text()
    if path.suffix == ".md":
        return re.findall(r"^```python\n(.*?)^```", text, re.S | re.M)
    blocks = re.findall(r"^\.\. code-block:: python\n\n((?:   .*\n|\n)+)", text, re.M)
    return [textwrap.dedent(block) for block in blocks]


@pytest.mark.parametrize("page", ["README.md", "docs/index.rst"])
def test_quick_start_code_runs(page, monkeypatch):
    monkeypatch.chdir(ROOT)
    blocks = python_blocks(ROOT / page)
    assert blocks
    for block in blocks:
        exec(compile(block, page, "exec"), {})


# --------------------------------------------------------------------------
# Concepts: one source for the command line and the site


@pytest.mark.parametrize("topic", explain.TOPICS, ids=explain.TOPIC_KEYS)
def test_explain_topic_prints_its_page_and_names_real_functions(topic, capsys):
    assert parsimetrics_tools.main(["explain", topic.key]) == 0
    out = capsys.readouterr().out
    assert out.startswith(topic.title) and all(r[:40] in out.replace("\n    ", " ") for r in topic.references)
    assert all(f.text in out for f in topic.body if isinstance(f, explain.Formula))
    for name in topic.functions:
        module, _, attr = name.rpartition(".")
        assert hasattr(importlib.import_module(module), attr), name


EXAMPLES = ROOT / "examples"


@pytest.mark.parametrize("args", [
    *(["analyze", "--measure", m, EXAMPLES / "logistic.txt"] for m in ("lz76", "factorization", "kaspar_schuster")),
    ["analyze", "--measure", "permutation:3", "--column", "x", EXAMPLES / "logistic.csv"],
    ["profile", "--window", "5000", EXAMPLES / "logistic.txt"],
    ["distance", EXAMPLES / "sequences.fasta"],
    ["nid", EXAMPLES / "periodic.txt", EXAMPLES / "fibonacci.txt"],
], ids=["lz76", "factorization", "kaspar_schuster", "permutation", "profile", "distance", "nid"])
def test_explain_defines_every_json_key(args):
    proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", *map(str, args), "--json"],
                          capture_output=True, text=True, check=True)
    record = json.loads(proc.stdout.splitlines()[0])
    keys = {key for key, value in record.items() for key in [key, *(value if isinstance(value, dict) else [])]}
    defined = {name for section in explain.FIELDS for field in section.fields
               for name in field.name.split(".")[-1].split(", ")}
    assert keys - defined - {"options"} <= {"order", "delay", "window", "step", "log_base", "alphabet",
                                             "max_block_size"}


def test_explain_defines_each_field_once():
    names = [(section.title, field.name) for section in explain.FIELDS for field in section.fields]
    assert len(names) == len(set(names))


# --------------------------------------------------------------------------
# The built site


class _Page(HTMLParser):
    """The ids of a page and the local targets it refers to."""

    def __init__(self):
        super().__init__()
        self.ids, self.refs, self.title = set(), [], ""
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.ids.update(v for k, v in attrs.items() if k in ("id", "name") and v)
        for key in ("href", "src"):
            if attrs.get(key) and not (tag == "link" and attrs.get("rel") in ("canonical",)):
                self.refs.append(attrs[key])
        self._in_title = tag == "title"

    def handle_data(self, data):
        if self._in_title:
            self.title += data

    def handle_endtag(self, tag):
        self._in_title = False


def _parse(path):
    page = _Page()
    page.feed(path.read_text(encoding="utf-8"))
    return page


def broken_links(html_root, pages=None):
    """Every local link, image or script whose file or anchor is missing, as (page, reference)."""
    parsed = {}

    def get(path):
        if path not in parsed:
            parsed[path] = _parse(path)
        return parsed[path]

    broken = []
    for page in pages or sorted(p for p in html_root.rglob("*.html") if p.relative_to(html_root).parts[0] != "_static"):
        for ref in get(page).refs:
            parts = urlsplit(ref)
            if parts.scheme or ref.startswith("//"):
                continue
            target = (page.parent / unquote(parts.path)).resolve() if parts.path else page
            if target.is_dir():
                target = target / "index.html"
            if not target.exists():
                broken.append((page.relative_to(html_root), ref))
            elif parts.fragment and target.suffix == ".html" and unquote(parts.fragment) not in get(target).ids:
                broken.append((page.relative_to(html_root), ref))
    return broken


def test_site_builds_in_time_with_every_page(site):
    html, seconds = site
    assert seconds < 180, f"the build took {seconds:.0f} s"
    api = {p.stem for p in (html / "_generated" / "api" / "parsimetrics_tools").glob("*.html")}
    assert api == set(parsimetrics_tools.__all__)
    assert {p.stem for p in (html / "_generated" / "api" / "parsimetrics").glob("*.html")} == set(parsimetrics.__all__)
    assert {p.stem for p in (html / "_generated" / "concepts").glob("*.html")} >= set(explain.TOPIC_KEYS)
    gallery = sorted((ROOT / "docs" / "gallery").glob("[!_]*.py"))
    for example in gallery:
        text = (html / "_generated" / "gallery" / f"{example.stem}.html").read_text()
        assert "Total running time of the script" in text and "sphx-glr-single-img" in text, example.name


def test_command_line_reference_is_the_parsers_help(site):
    html, _ = site
    text = (html / "_generated" / "cli.html").read_text()
    (commands,) = [a.choices for a in parsimetrics_tools.cli.build_parser()._actions if hasattr(a, "choices")
                   and isinstance(a.choices, dict)]
    assert len(commands) > 5
    for command in commands:
        proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", command, "--help"],
                              capture_output=True, text=True, env=dict(os.environ, COLUMNS="76"), check=True)
        # Every option line of the help, escaped as HTML, appears on the page.
        options = [line.split()[0].rstrip(",") for line in proc.stdout.splitlines() if line.startswith("  -")]
        assert options and all(option in text for option in options), command


def test_internal_links_and_anchors_resolve(site):
    html, _ = site
    assert broken_links(html) == []


@pytest.mark.parametrize("href", ["gone.html", "target.html#nowhere", "#nowhere", "sub/", "img.png"])
def test_link_check_reports_missing_files_and_anchors(tmp_path, href):
    (tmp_path / "target.html").write_text('<p id="here">x</p>')
    (tmp_path / "sub").mkdir()
    fine = '<a href="target.html#here">b</a><a href="http://x/y">c</a><a href="#top" id="top">d</a>'
    (tmp_path / "index.html").write_text(f'{fine}<a href="{href}">a</a>')
    assert broken_links(tmp_path) == [(Path("index.html"), href)]


# --------------------------------------------------------------------------
# A real browser


class Chromium:
    """Headless Chromium driven over its DevTools protocol on a pair of pipes (no network port)."""

    def __init__(self, profile):
        executable = shutil.which("chromium") or shutil.which("chromium-browser")
        assert executable, "Debian's chromium is needed (tools/provision.sh installs it)"
        read_end, self._commands = os.pipe()
        self._events, write_end = os.pipe()
        # The browser's ends above 4, so that moving them to 3 and 4 never closes one of them.
        to_browser, from_browser = (fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (read_end, write_end))
        os.close(read_end)
        os.close(write_end)
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--remote-debugging-pipe",
                "--no-first-run", "--hide-scrollbars", "--window-size=1280,1000", f"--user-data-dir={profile}",
                "about:blank"]
        # The protocol's fixed descriptors, commands on 3 and replies on 4, set up by a small
        # Python program that then becomes the browser.
        become = ("import os, sys; os.dup2(int(sys.argv[1]), 3); os.dup2(int(sys.argv[2]), 4); "
                  "os.execv(sys.argv[3], sys.argv[3:])")
        self.proc = subprocess.Popen(
            [sys.executable, "-c", become, str(to_browser), str(from_browser), executable, *args],
            pass_fds=(to_browser, from_browser),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        os.close(to_browser)
        os.close(from_browser)
        self._buffer, self._next_id, self._pending = b"", 0, []
        try:
            target = self.call("Target.createTarget", url="about:blank")["targetId"]
            self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            self.call("Page.enable", session=True)
        except BaseException:
            self.close()
            raise

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            remaining = deadline - time.monotonic()
            assert remaining > 0 and select.select([self._events], [], [], remaining)[0], "browser timed out"
            chunk = os.read(self._events, 1 << 20)
            assert chunk, "browser closed its pipe"
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=False, timeout=60, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self._commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self._next_id:
                assert "error" not in reply, reply["error"]
                return reply["result"]
            self._pending.append(reply)

    def wait_for(self, event, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            for i, message in enumerate(self._pending):
                if message.get("method") == event:
                    return self._pending.pop(i)
            self._pending.append(self._receive(deadline))

    def open(self, url):
        self._pending.clear()
        self.call("Page.navigate", session=True, url=url)
        self.wait_for("Page.loadEventFired")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression, awaitPromise=True,
                           returnByValue=True)
        assert "exceptionDetails" not in result, result
        return result["result"]["value"]

    def screenshot(self):
        return base64.b64decode(self.call("Page.captureScreenshot", session=True, format="png")["data"])

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except (AssertionError, OSError):
            pass
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._commands)
        os.close(self._events)


# Waits for every image, then reports what a reader would see.
RENDERED = """(async () => {
  await Promise.all([...document.images].map(i => i.complete ? null :
      new Promise(done => { i.onload = done; i.onerror = done; })));
  return {
    title: document.title,
    heading: (document.querySelector("article h1") || {}).textContent || "",
    images: [...document.images].map(i => [i.getAttribute("src"), i.naturalWidth]),
    formulas: [...document.querySelectorAll("math")].map(m => m.getBoundingClientRect().width),
    text: document.body.innerText.length,
  };
})()"""


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    chromium = Chromium(tmp_path_factory.mktemp("chromium-profile"))
    yield chromium
    chromium.close()


@pytest.mark.parametrize("page, heading, figures", [
    ("index.html", "parsimetrics", 1),
    ("_generated/api/parsimetrics/h.html", "parsimetrics.h", 0),
    ("_generated/gallery/plot_entropy_convergence.html", "Entropy density", 1),
])
def test_page_renders_in_a_browser(site, browser, page, heading, figures):
    import matplotlib.image

    html, _ = site
    browser.open((html / page).as_uri())
    seen = browser.evaluate(RENDERED)
    assert seen["title"].startswith(heading) and seen["heading"].startswith(heading), seen
    assert seen["text"] > 500
    assert len(seen["images"]) >= figures and all(width > 0 for _, width in seen["images"]), seen["images"]
    assert all(width > 0 for width in seen["formulas"]), seen["formulas"]
    assert broken_links(html, [html / page]) == []
    pixels = matplotlib.image.imread(io.BytesIO(browser.screenshot()), format="png")
    assert pixels.shape[0] > 600 and pixels.shape[1] == 1280
    assert len(np.unique(pixels.reshape(-1, pixels.shape[-1]), axis=0)) > 50, "the screenshot is blank"
