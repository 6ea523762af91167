"""Sphinx configuration of the parsimetrics documentation.

The site is built from the installed package: the API pages list whatever
the two packages' ``__all__`` hold, the command-line reference is the
parser's own help, and the concept pages are rendered from
``parsimetrics_tools.explain``, the source of ``parsimetrics explain``.
Those pages are written into ``_generated/`` at the start of every build.
Nothing is fetched: formulas are rendered to MathML at build time, which
the browser displays without scripts.
"""

from __future__ import annotations

import html
import inspect
import os
from pathlib import Path

import parsimetrics
import parsimetrics_tools
from docutils import nodes
from docutils.utils.math import latex2mathml
from parsimetrics_tools import cli, explain
from sphinx.util import logging

HERE = Path(__file__).resolve().parent
GENERATED = HERE / "_generated"

project = "parsimetrics"
author = "the parsimetrics developers"
copyright = "the parsimetrics developers"
version = release = parsimetrics.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "numpydoc",
    "sphinx_gallery.gen_gallery",
]

exclude_patterns = ["_build", "gallery/README.rst"]
templates_path: list[str] = []
root_doc = "index"

html_theme = "pydata_sphinx_theme"
html_title = f"parsimetrics {release}"
html_theme_options = {
    "navigation_with_keys": False,
    "show_prev_next": True,
    "header_links_before_dropdown": 6,
    "secondary_sidebar_items": ["page-toc"],
}
html_math_renderer = "mathml"
html_show_sourcelink = False
html_copy_source = False

autodoc_default_options = {"members": False}
autodoc_typehints = "none"  # the Parameters sections give the types
autosummary_generate = False
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_xref_param_type = False

sphinx_gallery_conf = {
    "run_stale_examples": True,
    "examples_dirs": "gallery",
    "gallery_dirs": "_generated/gallery",
    "filename_pattern": r".*\.py$",
    "ignore_pattern": r"^_",
    "abort_on_example_error": True,
    "only_warn_on_example_error": False,
    "download_all_examples": False,
    "min_reported_time": 0,
    "show_memory": False,
    "show_signature": False,
    "remove_config_comments": True,
    "reference_url": {},
    "within_subsection_order": "FileNameSortKey",
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "write_computation_times": False,
}


# --------------------------------------------------------------------------
# Pages written from the package


def _escape(text: str) -> str:
    """Plain text as reST: every character that could start markup is escaped."""
    for char in "\\*`|_[]<>:":
        text = text.replace(char, "\\" + char)
    return text


def _heading(title: str, char: str = "=") -> str:
    return f"{title}\n{char * len(title)}\n"


def _write(path: Path, text: str) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:  # unchanged pages are not rebuilt
        path.write_text(text)


def _public(module) -> list[tuple[str, str, object]]:
    """(name, kind, object) for each name of ``module.__all__``: functions, then classes, then data."""
    order = {"function": 0, "class": 1, "data": 2}
    items = []
    for name in module.__all__:
        obj = getattr(module, name)
        kind = "class" if inspect.isclass(obj) else "function" if callable(obj) else "data"
        items.append((name, kind, obj))
    return sorted(items, key=lambda item: (order[item[1]], item[0].lower()))


def _api_pages(module, intro: str) -> None:
    """An index page of ``module`` with a summary table, and one page per public name."""
    name = module.__name__
    public = _public(module)
    for attr, kind, obj in public:
        directive = {"function": "autofunction", "class": "autoclass", "data": "autodata"}[kind]
        members = "   :members:\n" if kind == "class" and not issubclass(obj, BaseException) else ""
        _write(GENERATED / "api" / name / f"{attr}.rst",
               f"{_heading(f'{name}.{attr}')}\n.. currentmodule:: {name}\n\n.. {directive}:: {attr}\n{members}")
    body = [_heading(f"``{name}``"), f".. module:: {name}\n", intro, ""]
    for kind, title in {"function": "Functions", "class": "Classes", "data": "Constants"}.items():
        names = [attr for attr, k, _ in public if k == kind]
        if names:
            body += [_heading(title, "-"), f".. currentmodule:: {name}\n", ".. autosummary::\n"]
            body += [f"   {attr}" for attr in names] + [""]
    body += [".. toctree::\n   :hidden:\n"] + [f"   {name}/{attr}" for attr, _, _ in public] + [""]
    _write(GENERATED / "api" / f"{name}.rst", "\n".join(body))


# Gallery examples that show each family of measures at work.
SEE_ALSO = {
    "lz76": ["plot_logistic_map", "plot_command_line_tour"],
    "entropy": ["plot_entropy_convergence", "plot_logistic_map", "plot_profile_regime_change"],
    "emc": ["plot_emc_ladders"],
    "nid": ["plot_nid_dendrogram"],
    "symbolization": ["plot_classify_series", "plot_epochs_channels"],
    "multiscale": ["plot_classify_series", "plot_epochs_channels"],
    "multichannel": ["plot_multichannel_pci"],
}


def _concept_page(topic: explain.Topic) -> str:
    lines = [f".. _concept-{topic.key}:\n", _heading(topic.title), f"*{_escape(topic.summary)}*\n"]
    for item in topic.body:
        if isinstance(item, explain.Formula):
            lines.append(".. math::\n\n   " + item.tex + "\n")
        else:
            lines.append(_escape(item) + "\n")
    lines += [_heading("What it estimates", "-"), _escape(topic.estimates) + "\n"]
    lines += [_heading("What it does not", "-"), _escape(topic.limits) + "\n"]
    lines += [_heading("Computed by", "-")]
    lines += [f"- :func:`{name}`" for name in topic.functions] + [""]
    lines += [f"From the command line: ``parsimetrics explain {topic.key}`` prints this page.\n"]
    examples = SEE_ALSO.get(topic.key, [])
    if examples:
        lines += [_heading("In the gallery", "-")]
        lines += [f"- :doc:`/_generated/gallery/{name}`" for name in examples] + [""]
    lines += [_heading("Literature", "-")]
    lines += [f"- {_escape(reference)}" for reference in topic.references] + [""]
    return "\n".join(lines)


def _fields_page() -> str:
    lines = [".. _output-fields:\n", _heading("Output fields"),
             "Every field the command line writes, as ``parsimetrics explain`` defines it.\n"]
    for section in explain.FIELDS:
        lines.append(_heading(_escape(section.title), "-" if section.level == 1 else "~"))
        for field in section.fields:
            lines += [f"``{field.name}``", f"   {_escape(field.text)}", ""]
    return "\n".join(lines)


def _cli_page() -> str:
    """The command's reference: the help of its parser and of each subcommand, as printed."""
    parser = cli.build_parser()
    (subparsers,) = [a for a in parser._actions if a.__class__.__name__ == "_SubParsersAction"]
    lines = [".. _cli-reference:\n", _heading("Command-line reference"),
             "The help of ``parsimetrics`` and of each of its commands, as the installed command "
             "prints it (``parsimetrics COMMAND --help``).\n", ".. code-block:: text\n"]
    lines += ["   " + line if line else "" for line in _help(parser)] + [""]
    seen = set()
    for command, sub in subparsers.choices.items():
        if id(sub) in seen:
            continue  # an alias (analyse) shares its command's parser
        seen.add(id(sub))
        lines += [f".. _cli-{command}:\n", _heading(f"parsimetrics {command}", "-"), ".. code-block:: text\n"]
        lines += ["   " + line if line else "" for line in _help(sub)] + [""]
    return "\n".join(lines)


def _help(parser) -> list[str]:
    """The parser's help as a terminal 76 columns wide shows it (argparse wraps at the terminal width)."""
    saved = os.environ.get("COLUMNS")
    os.environ["COLUMNS"] = "76"
    try:
        return parser.format_help().splitlines()
    finally:
        if saved is None:
            del os.environ["COLUMNS"]
        else:
            os.environ["COLUMNS"] = saved


def generate(app=None) -> None:
    _api_pages(parsimetrics, "The native module: five functions over one sequence or a pair. Inputs are a "
               "``str`` (its UTF-8 bytes), ``bytes``, a list of ``str`` (joined) or a sequence of integers "
               "(their decimal representations joined).")
    _api_pages(parsimetrics_tools, "The toolkit around the module: NumPy arrays in, NumPy arrays or plain "
               "values out; batches, windows and pairs computed on the worker pool; symbolizers, readers "
               "and the command line's building blocks.")
    for topic in explain.TOPICS:
        _write(GENERATED / "concepts" / f"{topic.key}.rst", _concept_page(topic))
    _write(GENERATED / "concepts" / "fields.rst", _fields_page())
    pages = [topic.key for topic in explain.TOPICS] + ["fields"]
    _write(GENERATED / "concepts" / "toctree.inc",
           ".. toctree::\n   :maxdepth: 1\n\n" + "".join(f"   ../_generated/concepts/{p}\n" for p in pages))
    _write(GENERATED / "cli.rst", _cli_page())
    # Pages of names that left __all__ would otherwise linger as orphans.
    for module in (parsimetrics, parsimetrics_tools):
        folder = GENERATED / "api" / module.__name__
        for page in folder.glob("*.rst"):
            if page.stem not in module.__all__:
                page.unlink()


# --------------------------------------------------------------------------
# Formulas as MathML


def _mathml(node, block: bool) -> str:
    try:
        return latex2mathml.tex2mathml(node.astext(), as_block=block)
    except latex2mathml.MathError as exc:
        logging.getLogger(__name__).warning("formula not rendered: %s", exc, location=node)
        return f"<code>{html.escape(node.astext())}</code>"


def _visit_math(self, node) -> None:
    self.body.append(_mathml(node, block=False))
    raise nodes.SkipNode


def _visit_math_block(self, node) -> None:
    self.body.append(f'<div class="math-display">{_mathml(node, block=True)}</div>\n')
    raise nodes.SkipNode


def setup(app):
    generate()
    app.add_html_math_renderer("mathml", (_visit_math, None), (_visit_math_block, None))
    app.add_css_file("parsimetrics.css")


html_static_path = ["_static"]
